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

// The pedal's side of a job; the command's result follows them.
inline constexpr const char* kReasonNoLoop = "the pedal holds no loop";
inline constexpr const char* kReasonLoopInfoUnanswered =
    "the pedal did not answer the loop info request";
inline constexpr const char* kReasonLoopDataReadFailed = "a loop data read failed";
inline constexpr const char* kReasonLoopDataWriteFailed = "a loop data write failed";
inline constexpr const char* kReasonLoopInfoWriteFailed = "the loop info write failed";
inline constexpr const char* kReasonShortLoopData =
    "the pedal sent less audio than its loop info announced";
// What the pedal holds after a job stopped early.
inline constexpr const char* kReasonLoopUntouched = "the pedal's loop is untouched";
inline constexpr const char* kReasonLoopIncomplete = "the pedal's loop is incomplete";
inline constexpr const char* kReasonEarlierLoopSavedIn = "its earlier loop is saved in";
inline constexpr const char* kReasonNoBackupMade = "and no backup of its earlier loop was made";
inline constexpr const char* kReasonBackupNotPutBack = "the backup could not be put back";
inline constexpr const char* kReasonInterrupted = "interrupted";
// The file's side; the system's or the decoder's words follow them.
inline constexpr const char* kReasonFileUnreadable = "the file could not be read";
inline constexpr const char* kReasonNoAudio = "the file holds no audio";
inline constexpr const char* kReasonNoRoom = "there is not enough room for the loop";
inline constexpr const char* kReasonTooLongForWav = "the loop is too long for a WAV file";
inline constexpr const char* kReasonOutOfMemory = "out of memory";
inline constexpr const char* kReasonIsFolder = "it is a folder";
inline constexpr const char* kReasonNoFileName = "no file name";
inline constexpr const char* kReasonNotPlainFile = "it is not a plain file";
inline constexpr const char* kReasonNoBackupFolder = "no folder for backups: set RENDAX_BACKUP_DIR";
// What an export writes to when its path is "-".
inline constexpr const char* kStandardOutputName = "standard output";
// The length of what was written differs from what its header promised.
inline constexpr const char* kReasonLengthNotAsAnnounced =
    "the audio came out at another length than its header announced";

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

// "export -" with standard output on a terminal: audio is no text to show.
inline constexpr const char* kStdoutIsTerminal =
    "Standard output is a terminal; send it to a file or a program (export - > loop.wav)";

}  // namespace rendax
