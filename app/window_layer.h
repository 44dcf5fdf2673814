// SPDX-License-Identifier: GPL-3.0-or-later
// The window platform as the main dialog sees it: the operations the dialog's logic needs from a
// toolkit, so the logic runs the same under Qt, Win32 or a test's fake window.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/loop_outline.h"

namespace rendax {

class CSdkManager_MFCDlg;

// Control numbers of the main dialog.
inline constexpr int kExportButton = 1000;
inline constexpr int kImportButton = 1001;
inline constexpr int kProgressBar = 1002;
// The "Restore last backup..." item, enabled and disabled like a control.
inline constexpr int kRestoreItem = 1003;
// Shown only while a job runs (see ShowCancel); pressing it calls `dialog.OnCancel()`.
inline constexpr int kCancelButton = 1004;
// The pedal selector, shown only with two or more pedals (see SetPedalChoices).
inline constexpr int kPedalSelector = 1005;
// The "Verify after import" check item, in the same menu as the restore item.
inline constexpr int kVerifyItem = 1006;

// Picture numbers: the background, the window icon and the buttons' faces.
inline constexpr int kBackgroundBitmap = 156;
inline constexpr int kIconGroup = 160;

// The four faces of a picture button; the face drawn is the pressed face while pressed, else the
// focused face while focused, else the disabled face while disabled, else the normal face.
struct ButtonFaces {
  int normal, pressed, focused, disabled;
};
inline constexpr ButtonFaces kExportFaces{151, 149, 150, 147};
inline constexpr ButtonFaces kImportFaces{159, 153, 1, 152};

// What a message box brings, and so its icon.
enum class MessageKind { Information, Warning, Error };

// Which face the rule above picks.
enum class Face { Normal, Pressed, Focused, Disabled };
inline Face PickFace(bool pressed, bool focused, bool enabled) {
  if (pressed) return Face::Pressed;
  if (focused) return Face::Focused;
  if (!enabled) return Face::Disabled;
  return Face::Normal;
}

// What a file chooser is asked to show. `filter` is in the "Description|*.ext||" form; each
// toolkit translates it (see TranslateFileFilter).
struct FileChooser {
  bool save = false;
  std::string defaultExtension;  // without the dot; added when the user typed none
  std::string initialName;
  std::string filter;
  bool confirmOverwrite = false;
};

// A check box offered with a question ("Sum both channels ..."): `checked` is its state when the
// question comes up and, once it is answered, what the user left it at.
struct QuestionOption {
  std::string text;
  bool checked = false;
};

// The status line under the buttons: one line of text and, after it, an optional link (a link
// or flat button) that calls `dialog.OnStatusLink()`, e.g. "Firmware 7 needs updating" with
// "Update...".
struct StatusLine {
  std::string text;
  std::string link;  // empty: no link
  bool operator==(const StatusLine&) const = default;
};

class WindowLayer {
 public:
  virtual ~WindowLayer() = default;

  // 1. Builds the window, runs `dialog.OnInitDialog()` before it is first shown, shows it, then
  //    from its event loop runs `dialog.OnShown()` (whose questions and errors belong to the
  //    window on screen), and returns when `EndDialog` was called.
  virtual int RunModal(CSdkManager_MFCDlg& dialog) = 0;
  virtual void EndDialog(int result) = 0;
  // 2. Adds the About item to the window menu (the system menu on Windows, a context menu and
  //    a shortcut elsewhere); choosing it calls `dialog.OnAbout()`.
  virtual void AppendAboutItem(const std::string& text) = 0;
  //    Adds the restore item to the same menu, before the About item; choosing it calls
  //    `dialog.OnRestoreLastBackup()`. EnableControl(kRestoreItem, ...) greys it out.
  virtual void AppendRestoreItem(const std::string& text) = 0;
  virtual void ShowAbout() = 0;
  // 3. Sets the window's big and small icons from the icon group.
  virtual void SetIcons(int iconGroup) = 0;
  // 4. Enables or disables a control (or the restore item) by its number.
  virtual void EnableControl(int control, bool enable) = 0;
  // 5. The progress bar's range and position.
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;
  // 6. Gives a button its four faces and sizes it to the normal face, keeping its position.
  virtual void LoadButtonFaces(int control, const ButtonFaces& faces) = 0;
  // 7. Painting (the background picture stretched over the client area, the icon when
  //    minimized) is the layer's own business; the dialog asks nothing of it.
  // 8. A message box owned by the main window, captioned with the application's name, with the
  //    platform's icon for `kind`, OK only, wide enough for its title. `detail` (may be empty)
  //    is shown below the text, smaller; a path in it stands on a line of its own, elided in the
  //    middle when too long, and whole where it can be selected (see LayOutDetail).
  virtual void ShowMessage(const std::string& text, const std::string& detail,
                           MessageKind kind) = 0;
  //    A Yes/No question owned by the main window, with the question icon and `caption` (the
  //    application's name); No is the default and Esc answers No, as for every question that
  //    comes before a write. True for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
  //    The same with a check box below the text. A toolkit without one asks it as a question of
  //    its own after a Yes.
  virtual bool AskYesNoWithOption(const std::string& text, const std::string& caption,
                                  QuestionOption& option) {
    if (!AskYesNo(text, caption)) return false;
    option.checked = AskYesNo(option.text + "?", caption);
    return true;
  }
  // 9. The save and open choosers; nullopt when cancelled.
  virtual std::optional<std::string> ChooseFile(const FileChooser& chooser) = 0;
  // 10. Runs `call` on the window thread and returns when it has run (at once when already on
  //     the window thread). Callable from any thread; the window thread must never wait for the
  //     caller.
  virtual void SendToWindow(const std::function<void()>& call) = 0;
  //     Runs `call` on the window thread after `ms` milliseconds, from the event loop.
  virtual void PostDelayed(int ms, std::function<void()> call) = 0;
  //     Shows `notice` and keeps the event loop running until `done()` is true.
  virtual void WaitUntil(const std::string& notice, const std::function<bool()>& done) = 0;
  //
  // What the window adds to the original dialog, so a person sees what is going on. The Qt and
  // Win32 layers implement every one; the defaults serve windows that show none of it (tests
  // that only pump events).
  //
  //     The status line (text and link), with an accessible name of "Status".
  virtual void SetStatus(const StatusLine& /*status*/) {}
  //     The pedal selector: one label per attached pedal and the selected one. Hidden with fewer
  //     than two labels. A choice by the user calls `dialog.OnChoosePedal(index)`.
  virtual void SetPedalChoices(const std::vector<std::string>& /*labels*/, int /*selected*/) {}
  //     Shows (and enables) or hides the Cancel button; it takes the focus when it appears.
  virtual void ShowCancel(bool /*show*/) {}
  //     Adds the check item "Verify after import" (before the restore item), checked or not;
  //     choosing it calls `dialog.OnToggleVerify()`, which sets the mark with CheckVerifyItem.
  virtual void AppendVerifyItem(const std::string& /*text*/, bool /*checked*/) {}
  virtual void CheckVerifyItem(bool /*checked*/) {}
  //     The question before the pedal's loop is replaced: owned by the window, captioned with
  //     the application's name, No the default button, Esc answers No; with `option`, a check
  //     box below the text (as AskYesNoWithOption). True for Yes.
  virtual bool AskBeforeReplacing(const std::string& text, QuestionOption* option) {
    return option ? AskYesNoWithOption(text, " ", *option) : AskYesNo(text, " ");
  }
  //     The disc: the loop's outline drawn around it (lowest and highest sample per angle,
  //     clockwise from the top), or the picture alone for an empty outline.
  virtual void ShowLoopOutline(const LoopOutline& /*outline*/) {}
  //     The user's language as the system names it ("zh_CN", "en-US"; "" when unknown), for
  //     the texts that come in two languages (ForLocale).
  virtual std::string LocaleName() const { return ""; }
  //     The window's clock, for the time left of a job (tests give their own).
  virtual std::chrono::steady_clock::time_point Now() const {
    return std::chrono::steady_clock::now();
  }
  //     A job ended with this title: tells the user when the window is not the active one (a
  //     desktop notification, a taskbar flash).
  virtual void NotifyJobEnded(const std::string& /*title*/) {}
  // 11. Threads are started by the worker itself (std::thread).
  // 12. Device notices (the platform's NoticeFeed, settled) arrive as
  //     `dialog.OnDeviceChange(...)` on the window thread.
};

// Declares in a toolkit's window class the operations above that every toolkit implements, so
// their list stands once, here beside the interface.
#define RENDAX_WINDOW_LAYER_OVERRIDES                                                              \
  int RunModal(CSdkManager_MFCDlg& dialog) override;                                               \
  void EndDialog(int result) override;                                                             \
  void AppendAboutItem(const std::string& text) override;                                          \
  void AppendRestoreItem(const std::string& text) override;                                        \
  void ShowAbout() override;                                                                       \
  void SetIcons(int iconGroup) override;                                                           \
  void EnableControl(int control, bool enable) override;                                           \
  void SetProgressRange(int low, int high) override;                                               \
  void SetProgressPos(int pos) override;                                                           \
  void LoadButtonFaces(int control, const ButtonFaces& faces) override;                            \
  void ShowMessage(const std::string& text, const std::string& detail, MessageKind kind) override; \
  bool AskYesNo(const std::string& text, const std::string& caption) override;                     \
  bool AskYesNoWithOption(const std::string& text, const std::string& caption,                     \
                          QuestionOption& option) override;                                        \
  std::optional<std::string> ChooseFile(const FileChooser& chooser) override;                      \
  void SendToWindow(const std::function<void()>& call) override;                                   \
  void PostDelayed(int ms, std::function<void()> call) override;                                   \
  void WaitUntil(const std::string& notice, const std::function<bool()>& done) override;           \
  void SetStatus(const StatusLine& status) override;                                               \
  void SetPedalChoices(const std::vector<std::string>& labels, int selected) override;             \
  void ShowCancel(bool show) override;                                                             \
  void AppendVerifyItem(const std::string& text, bool checked) override;                           \
  void CheckVerifyItem(bool checked) override;                                                     \
  bool AskBeforeReplacing(const std::string& text, QuestionOption* option) override;               \
  void ShowLoopOutline(const LoopOutline& outline) override;                                       \
  std::string LocaleName() const override

// "Description (*.a)|*.a|Other|*.b||" -> "Description (*.a);;Other (*.b)": each entry names its
// patterns once, in parentheses, the form Qt's choosers take. A pattern list already written into
// a description (even with a stray parenthesis) is replaced by the entry's own patterns.
std::string TranslateFileFilter(const std::string& filter);
// The entries of such a filter, each description naming its patterns once ("WAVE Files
// (*.wav)") beside the patterns as the filter gives them ("*.wav"): what a native chooser lists.
struct FilterEntry {
  std::string description;
  std::string patterns;
};
std::vector<FilterEntry> FilterEntries(const std::string& filter);

// A message's detail laid out for a box: each path in it (an absolute path, as the program
// writes them into reasons) on a line of its own between the words around it. `exists` tells
// whether a file or folder is there, so a path with spaces is taken whole where it exists.
struct DetailPiece {
  std::string text;
  bool path = false;
  std::string after;  // a path's punctuation ("PATH: reason" keeps its colon on the path's line)
};
std::vector<DetailPiece> LayOutDetail(const std::string& detail,
                                      const std::function<bool(const std::string&)>& exists);
// `path` cut to at most `chars` characters (UTF-8 code points) by an ellipsis in the middle,
// keeping the file's name whole where it fits: "/home/gu…/loops/TAKE1.WAV".
std::string ElideMiddle(const std::string& path, std::size_t chars);

}  // namespace rendax
