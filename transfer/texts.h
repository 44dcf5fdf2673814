// Every text the program shows its user, in one table: the titles of its messages, its
// questions, captions, menu items and status lines. The window (Qt and Win32) and rendax-cli
// render from here, so one message is worded one way wherever it is said. Reasons that come
// from below (the system's error, libsndfile's, a command's sense data, a file's name) are
// not texts of ours: they travel with the outcome and are put after the title.
#pragma once

namespace rendax {

// --- The application -------------------------------------------------------------------------

// The application's name: the caption of the window and of every box the window owns.
inline constexpr const char* kAppName = "Rendax";

// --- Job titles: how a job ended --------------------------------------------------------------

inline constexpr const char* kMsgExportNotFound = "Export file not found";
inline constexpr const char* kMsgFileCreationError = "File Creation Error";
inline constexpr const char* kMsgReceiveComplete = "Receive Complete";
inline constexpr const char* kMsgReceiveError = "Receive Error";
inline constexpr const char* kMsgCantOpenFile = "Can't open the file";
inline constexpr const char* kMsgFormatWrong = "The file format is wrong";
inline constexpr const char* kMsgSendComplete = "Send Complete";
inline constexpr const char* kMsgSendError = "Send Error";
inline constexpr const char* kMsgVerifyError = "Verify Error";
inline constexpr const char* kMsgBackupError = "Backup Error";
// What a verified Send Complete says last.
inline constexpr const char* kMsgVerified = "verified: the loop reads back as sent";
// A Cancel button's stop (JobRequest::restoreOnCancel), as the window says it.
inline constexpr const char* kMsgImportCancelled =
    "Import cancelled \u2014 the earlier loop is back on the pedal";
inline constexpr const char* kMsgImportCancelledNoLoop =
    "Import cancelled \u2014 the pedal holds no loop, as before";
inline constexpr const char* kMsgExportCancelled = "Export cancelled";

// --- Reasons of ours: said after a title ------------------------------------------------------

// --- Decoding: what a file is and how it reaches the pedal ----------------------------------

// A conversion line: "<what the file is> -> <what the pedal gets>", each a list of parts:
// "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, stereo".
inline constexpr const char* kPartSeparator = ", ";
inline constexpr const char* kConvertsTo = " -> ";
inline constexpr const char* kHz = " Hz";
inline constexpr const char* kBitsSuffix = "-bit";
inline constexpr const char* kMono = "mono";
inline constexpr const char* kStereo = "stereo";
inline constexpr const char* kChannelsSuffix = " channels";
inline constexpr const char* kMixedToStereo = "mixed to stereo";
inline constexpr const char* kMixedToMono = "both channels mixed to mono";
// Channels the pedal does not take as the file has them, said whenever it happens.
inline constexpr const char* kFirstChannelOnly = "one channel: the file's first channel";
inline constexpr const char* kLeftSideOnly =
    "two channels: the file's one channel plays on the left side only";
inline constexpr const char* kBothSides =
    "two channels: the file's one channel plays on both sides";
// Why a file is no audio this program reads: what it is, then what to do.
inline constexpr const char* kConvertFirst =
    ", which is not supported; convert it to WAV or FLAC first";
inline constexpr const char* kHeaderSays = "the file's header says ";
inline constexpr const char* kFileEmpty = "the file is empty";
inline constexpr const char* kIsFolder = "it is a folder";
inline constexpr const char* kFileUnreadable = "the file could not be read";
inline constexpr const char* kNoAudio = "the file holds no audio";
inline constexpr const char* kIsText = "this is a text file, not audio";
inline constexpr const char* kNotAudio =
    "this is not an audio file this program reads (WAV, W64, AIFF, FLAC, Ogg Vorbis, Opus or "
    "MP3)";
inline constexpr const char* kDamagedWav =
    "this WAV file is damaged or its audio is in a form that cannot be read";
inline constexpr const char* kDamagedAiff =
    "this AIFF file is damaged or its audio is in a form that cannot be read";
inline constexpr const char* kDamagedFlac = "this FLAC file is damaged";
inline constexpr const char* kDamagedOgg =
    "this Ogg file holds neither Vorbis nor Opus audio, or it is damaged";
inline constexpr const char* kId3NoAudio =
    "this file has an ID3 tag but no MPEG audio that can be decoded";
// A stream (a pipe, standard input) is read once into a temporary file; this says why not.
inline constexpr const char* kStreamNotCopied =
    "the stream could not be copied to a temporary file";
inline constexpr const char* kNotDecoded = "the audio could not be decoded";
inline constexpr const char* kNotResampled = "the audio could not be resampled";

// --- Pedals and firmware ----------------------------------------------------------------------

// --- Questions before a loop is replaced ------------------------------------------------------

inline constexpr const char* kImportWarning =
    "Warning: It will delete the existing content of rendax. Do you want to continue?";
inline constexpr const char* kQuestionCaption = " ";
// A stereo file going into a one-channel pedal: its first channel, unless both are summed.
inline constexpr const char* kSumChannelsOption = "Sum both channels into the pedal's one channel";
// A one-channel file going into the two-channel pedal: the left side only, unless copied.
inline constexpr const char* kBothChannelsOption = "Play the file's one channel on both sides";

// --- The window: choosers, menu items, status line --------------------------------------------

inline constexpr const char* kWaveFilter = "WAVE Files (*.wav))|*.wav||";
// The import's chooser: WAV files first, as ever, then every audio file an import reads.
inline constexpr const char* kImportFilter =
    "WAVE Files (*.wav))|*.wav|"
    "Audio files|*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff;*.aifc;*.rf64;*.w64||";
inline constexpr const char* kRestoreMenuText = "Restore last backup...";
inline constexpr const char* kNoBackupYet = "No backup of this pedal yet";
inline constexpr const char* kVerifyMenuText = "Verify after import";
// The status line's texts (see StatusFor).
inline constexpr const char* kPlugInPedal = "Plug in a Rendax pedal";
inline constexpr const char* kUpdateLink = "Update...";
inline constexpr const char* kTransferStillRunning =
    "The transfer is still running. Rendax will close as soon as it has finished.";

// --- The command line -------------------------------------------------------------------------

}  // namespace rendax
