// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the program shows its user, in one table: the titles of its messages, its
// questions, captions, menu items and status lines. The window (Qt and Win32) and rendax-cli
// render from here, so one message is worded one way wherever it is said. Reasons that come
// from below (the system's error, libsndfile's, a command's sense data, a file's name) are
// not texts of ours: they travel with the outcome and are put after the title.
#pragma once

#include <cstdio>
#include <string>

namespace rendax {

// A text of this table that has printf's conversions ("...Format"), filled in.
template <typename... Args>
std::string FormatText(const char* format, Args... args) {
  const int size = std::snprintf(nullptr, 0, format, args...);
  if (size <= 0) return {};
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(size));
  return text;
}

// --- The application -------------------------------------------------------------------------

// The application's name: the caption of the window and of every box the window owns.
inline constexpr const char* kAppName = "Rendax";
// A second start found the window open, but it did not take the file handed to it.
inline constexpr const char* kMsgWindowNotAnswering =
    "Rendax is already open but does not answer. Close it, then start Rendax again.";

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
// The length of what was written differs from what its header promised; the two lengths
// follow (kBytesNotFormat).
inline constexpr const char* kReasonLengthNotAsAnnounced =
    "the audio came out at another length than its header announced";
inline constexpr const char* kBytesNotFormat = "%llu bytes, not %llu";
// Where the earlier loop is when an import stopped early, and how to put it back (with
// kRestoreMenuText).
inline constexpr const char* kPutBackWithFormat =
    "(put it back with \"%s\" or 'rendax-cli restore')";
// An import's file, with what was found in it.
inline constexpr const char* kReasonTooLongForPedalFormat =
    "the file is too long for the pedal (its loop holds at most %s)";
// After kHeaderSays.
inline constexpr const char* kNoAudioRateFormat = "%u Hz, which is no audio rate";
// With the rate the file would be converted to.
inline constexpr const char* kReasonLessThanOneSampleFormat =
    "the file holds less than one sample at %s";
inline constexpr const char* kReasonLoopTooLongForPedal = "the loop is too long for the pedal";
inline constexpr const char* kReasonNoAudioRead = "no audio could be read from the file";
// A Send Complete whose file is shorter than its header says: the seconds imported and claimed.
inline constexpr const char* kEndsEarlyFormat = "the file ends early: %.1f s of %.1f s imported";
// Why a verification failed.
inline constexpr const char* kReasonLoopLengthFormat =
    "the pedal reports a loop of %u bytes, not %u";
inline constexpr const char* kReasonDiffersAtFormat =
    "the loop differs from the file at stream byte %llu";
// An export without room: what it needs, what the disk has (kMegabytesFormat).
inline constexpr const char* kNeededFreeFormat = "%s needed, %s free";
inline constexpr const char* kMegabytesFormat = "%.1f MB";
// The status line's amounts from 10 MB on: whole megabytes.
inline constexpr const char* kWholeMegabytesFormat = "%.0f MB";
// What an export stopped early leaves: the file it would have replaced, or nothing.
inline constexpr const char* kEarlierFileIntactFormat = "the earlier %s is intact";
inline constexpr const char* kNoFileWritten = "no file was written";

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
// Three or more channels into the one-channel pedal: mixed to stereo first, then summed or
// its left side taken.
inline constexpr const char* kAllMixedToMono = "all channels mixed to mono";
inline constexpr const char* kLeftOfStereoMix =
    "one channel: the left side of the file's channels mixed to stereo";
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

inline constexpr const char* kMsgDeviceOpenError = "Device Open Error";
inline constexpr const char* kMsgFirmwareReadError = "Firmware Read Error";
inline constexpr const char* kMsgFirmwareUpdateError = "Firmware Update Error";
inline constexpr const char* kMsgNoFirmwareImage = "No firmware image for this pedal";
inline constexpr const char* kPedalDoesNotMatch = "The rendax pedal does not match the software";
// The firmware question: kPedalDoesNotMatch, then this.
inline constexpr const char* kFirmwareQuestionEnd = ". Do you want to update?";
// After the question: the pedal (PedalName), its version and ours.
inline constexpr const char* kFirmwareVersionsFormat =
    "%s has firmware %u; this program carries %u.";
inline constexpr const char* kFirmwareDowngradeNote =
    " Updating replaces newer firmware with older.";
// Said last when the update saves the pedal's loop as a backup before writing.
inline constexpr const char* kFirmwareLoopSavedFirst = " The pedal's loop is saved first.";
// Why an update stopped before writing: its backup failed (the backup's reason follows).
inline constexpr const char* kReasonLoopNotSaved = "the pedal's loop could not be saved first";
// Why an update was not made.
inline constexpr const char* kReasonFirmwareNewerFormat =
    "the pedal has firmware %u, newer than this program's %u; use --allow-downgrade to write %u "
    "anyway";
inline constexpr const char* kReasonUpdateCancelled = "the update was cancelled";

// --- Questions before a loop is replaced ------------------------------------------------------

// The warning, around the pedal's name (ReplaceWarning): "... content of Rendax Twin (sg3). Do
// you want to continue?" where the original said "rendax".
inline constexpr const char* kReplaceWarningStart =
    "Warning: It will delete the existing content of ";
inline constexpr const char* kReplaceWarningEnd = ". Do you want to continue?";
inline constexpr const char* kQuestionCaption = " ";
// A stereo file going into a one-channel pedal: its first channel, unless both are summed.
inline constexpr const char* kSumChannelsOption = "Sum both channels into the pedal's one channel";
// A one-channel file going into the two-channel pedal: the left side only, unless copied.
inline constexpr const char* kBothChannelsOption = "Play the file's one channel on both sides";
// The question's note for such a file, with the pedal's model name.
inline constexpr const char* kOneChannelIntoTwoFormat =
    "The file has one channel and the %s has two: it plays on the left side only unless it "
    "goes on both sides.";
// The same for a stereo file going into a one-channel pedal.
inline constexpr const char* kStereoIntoOneFormat =
    "The file is stereo and the %s has one channel: the first channel goes in unless both are "
    "summed.";
// How a file that is converted will go in: "<what it is> will be converted to <what it
// becomes>." (the two sides of a conversion line).
inline constexpr const char* kWillBeConvertedTo = " will be converted to ";
// After the notes of a file chosen when the warning was already answered.
inline constexpr const char* kContinueQuestion = " Continue?";
// A restore's question, after the warning: the backup's time and length.
inline constexpr const char* kBackupTakesPlaceFormat = "The backup of %s (%s) will take its place.";

// --- The window: choosers, menu items, status line --------------------------------------------

// The export's chooser, as it always read; each toolkit shows the pattern list once
// (TranslateFileFilter).
inline constexpr const char* kWaveFilter = "WAVE Files (*.wav))|*.wav||";
// The import's chooser opens on every audio file an import reads, WAV alone the second choice.
inline constexpr const char* kImportFilter =
    "Audio files|*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff;*.aifc;*.rf64;*.w64|"
    "WAVE Files (*.wav))|*.wav||";
inline constexpr const char* kRestoreMenuText = "Restore last backup...";
inline constexpr const char* kNoBackupYet = "No backup of this pedal yet";
inline constexpr const char* kVerifyMenuText = "Verify after import";
// The status line's texts (see StatusFor).
inline constexpr const char* kPlugInPedal = "Plug in a Rendax pedal";
inline constexpr const char* kUpdateLink = "Update...";
inline constexpr const char* kUseItLink = "Use it";
inline constexpr const char* kTryAgainLink = "Try again";
// A pedal beside the one in use, or the one left: its model, then kUseItLink.
inline constexpr const char* kAttachedFormat = "%s attached \u2014";
inline constexpr const char* kChoosePedal = "Choose a pedal";
// The pedal in use: "Rendax Twin · firmware 3 · loop 0:12", or its firmware's state.
inline constexpr const char* kStatusSeparator = " \u00b7 ";
inline constexpr const char* kFirmwarePart = "firmware ";
inline constexpr const char* kLoopPart = "loop ";
inline constexpr const char* kNoLoopPart = "no loop";
inline constexpr const char* kFirmwareNeedsUpdatingFormat = "Firmware %s needs updating \u2014";
inline constexpr const char* kCannotBeUsedFormat = "%s cannot be used \u2014";
// A job under way: its stage, then how far it is ("Importing · 3.1 MB of 12 MB · 5 s left").
inline constexpr const char* kStageBackup = "Saving a backup";
inline constexpr const char* kStageExport = "Exporting";
inline constexpr const char* kStageImport = "Importing";
inline constexpr const char* kStageVerify = "Verifying";
inline constexpr const char* kStageRestore = "Putting the earlier loop back";
inline constexpr const char* kStageWorking = "Working";
inline constexpr const char* kCancelling = "Cancelling";
inline constexpr const char* kAmountOfFormat = "%s of %s";
inline constexpr const char* kTimeLeftFormat = "%s left";
// What a screen reader calls the window's parts.
inline constexpr const char* kNameExport = "Export";
inline constexpr const char* kNameImport = "Import";
inline constexpr const char* kNameStatus = "Status";
inline constexpr const char* kNamePedal = "Pedal";
inline constexpr const char* kNameCancel = "Cancel transfer";
// Said on standard error when the window cannot follow pedals coming and going.
inline constexpr const char* kCannotWatchPedals = "cannot watch for pedals being plugged in";
inline constexpr const char* kStoppedWatchingPedals =
    "stopped watching for pedals being plugged in";
inline constexpr const char* kRestartAfterConnecting =
    "restart the program after connecting a pedal";
inline constexpr const char* kTransferStillRunning =
    "The transfer is still running. Rendax will close as soon as it has finished.";

// The About box and its menu item, a pair per text: Chinese (Simplified) under a Chinese locale,
// as the program has always spoken, English under any other (ForLocale, app/about.h).
struct TextPair {
  const char* english;
  const char* chinese;
};
// "&A" marks the accelerator letter.
inline constexpr TextPair kAboutMenuText{"&About Rendax...", "关于 Rendax(&A)..."};
inline constexpr TextPair kAboutCaption{"About Rendax", "关于 Rendax"};
// "%s" stands for the program's version.
inline constexpr TextPair kAboutProduct{"Rendax Companion, version %s", "Rendax Companion，%s 版"};
inline constexpr TextPair kAboutDescription{
    "The desktop companion of the Rendax loop-recording effects pedals",
    "Rendax 循环录音效果器的桌面助手"};
inline constexpr TextPair kAboutOk{"OK", "确定"};
inline constexpr TextPair kAboutLicences{"&Licences", "许可证(&L)"};
// The licence notice behind that button, the same under every locale; "%s" stands for where the
// licence's full text is installed.
inline constexpr const char* kLicenceNoticeFormat =
    "Rendax Companion is free software: you can redistribute it and/or modify it under the terms "
    "of the GNU General Public License as published by the Free Software Foundation, either "
    "version 3 of the License, or (at your option) any later version.\n\n"
    "Rendax Companion is distributed in the hope that it will be useful, but WITHOUT ANY "
    "WARRANTY; without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR "
    "PURPOSE. See the GNU General Public License for more details.\n\n"
    "The full text of the licence: %s";
// After it on Windows, where the programs carry the audio libraries: "%s" stands for the file
// that lists them.
inline constexpr const char* kThirdPartyNoticesFormat =
    "The audio libraries built into the program, and their licences: %s";

// --- The command line -------------------------------------------------------------------------

// Said before the reason when the attached devices cannot be listed (list, watch, a pedal's
// choice).
inline constexpr const char* kCannotListDevices = "Cannot list the attached devices";
// A usage error is one line, "rendax-cli: " and what is wrong ("unknown option '--foo' for
// import"), then the hint. The help itself stands beside the options, in cli/options.h.
inline constexpr const char* kUsageHint = "Try 'rendax-cli --help'.";
inline constexpr const char* kUsageUnknownCommand = "unknown command";
inline constexpr const char* kUsageUnknownOption = "unknown option";
inline constexpr const char* kUsageMissingCommand = "missing command";
inline constexpr const char* kUsageUnexpectedArgument = "unexpected argument";
inline constexpr const char* kUsageTakesNoValue = "takes no value";
inline constexpr const char* kUsageNeedsValue = "needs a value";
inline constexpr const char* kUsageGoesWith = "goes with";
inline constexpr const char* kUsageNeeds = "needs";
// The pedal a command works with, when there is none: with --pedal, the path it named and the
// pedals attached; without, none at all.
inline constexpr const char* kNoPedalFound = "No Rendax pedal found";
inline constexpr const char* kNoPedalAtFormat = "No Rendax pedal at %s; %s";
// `list` with no pedal attached.
inline constexpr const char* kNoPedalAttached = "No Rendax pedal attached";
// The warning answered No: nothing was done.
inline constexpr const char* kImportDeclined = "Import cancelled";
inline constexpr const char* kRestoreDeclined = "Restore cancelled";
// `backups` and `restore FILE`, when a folder of backups cannot be listed: the folder, then
// the reason.
inline constexpr const char* kCannotReadBackupsFormat = "Cannot read the backups in %s: %s";
// An import or restore refused for the pedal's firmware: kPedalDoesNotMatch, then this.
inline constexpr const char* kCliUpdateFirstFormat =
    " (firmware %u); run 'rendax-cli firmware --update' first";
// "export -" with standard output on a terminal: audio is no text to show.
inline constexpr const char* kStdoutIsTerminal =
    "Standard output is a terminal; send it to a file or a program (export - > loop.wav)";

}  // namespace rendax
