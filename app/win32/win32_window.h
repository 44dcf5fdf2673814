// The native Windows window layer of the main dialog: dialog template 102 from the resources,
// owner-drawn picture buttons with four faces, the common-controls progress bar, the system
// menu's About item, the file choosers and message boxes, "SetPos" and WM_DEVICECHANGE.
#pragma once

#include <windows.h>
// windows.h first: commdlg.h uses its types.
#include <commdlg.h>

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/main_dialog.h"
#include "app/window_layer.h"
#include "device/platform/win32/win32_platform.h"

namespace rendax {

// Resource numbers beyond the pictures.
inline constexpr int kAboutDialogTemplate = 100;
inline constexpr int kAboutMenuString = 101;
inline constexpr int kMainDialogTemplate = 102;
inline constexpr UINT kAboutCommand = 16;  // the system-menu item; low four bits are the system's
inline constexpr UINT kRestoreCommand = 32;

// The calls that wait for a person. Tests replace them to answer at once and to see what the
// window asked; the program uses the system's.
struct ModalCalls {
  std::function<BOOL(OPENFILENAMEW&)> getSaveFileName;
  std::function<BOOL(OPENFILENAMEW&)> getOpenFileName;
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)>
      messageBox;
  std::function<void(HINSTANCE instance, HWND owner)> runAbout;  // the About box, modally
};
ModalCalls SystemModalCalls();

// "Description|*.ext||" as the choosers take it: fields separated and ended by NULs.
std::wstring ChooserFilter(const std::string& filter);
// What a WM_DEVICECHANGE means to the dialog: only a volume's arrival and a removal count.
DeviceNotice NoticeFromDeviceChange(WPARAM wParam, LPARAM lParam);

class Win32Window : public WindowLayer {
 public:
  explicit Win32Window(HINSTANCE instance, ModalCalls calls = SystemModalCalls());
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window from template 102; the dialog's start-up runs before it is first shown.
  // False when the window cannot be made.
  bool Open(CSdkManager_MFCDlg& dialog);
  // Open, then dispatch messages until EndDialog.
  int RunModal(CSdkManager_MFCDlg& dialog) override;
  void EndDialog(int result) override;
  void AppendAboutItem(const std::string& text) override;
  void AppendRestoreItem(const std::string& text) override;
  void ShowAbout() override;
  void SetIcons(int iconGroup) override;
  void EnableControl(int control, bool enable) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void LoadButtonFaces(int control, const ButtonFaces& faces) override;
  void ShowMessage(const std::string& text, const std::string& detail) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  bool AskYesNoWithOption(const std::string& text, const std::string& caption,
                          QuestionOption& option) override;
  std::optional<std::string> ChooseFile(const FileChooser& chooser) override;
  void SendToWindow(const std::function<void()>& call) override;
  void PostDelayed(int ms, std::function<void()> call) override;
  void WaitUntil(const std::string& notice, const std::function<bool()>& done) override;

  HWND Handle() const { return hwnd_.load(); }
  bool Ended() const { return ended_; }
  // The registered "SetPos" message: lParam is the new position of the progress bar.
  UINT SetPosMessage() const { return setPosMessage_; }
  // Paints a picture button for an owner-draw request; returns the face it drew.
  Face DrawButton(const DRAWITEMSTRUCT& item);
  // The face last drawn for a button (Normal before the first drawing).
  Face LastFace(int control) const;

 private:
  struct PictureButton {
    std::array<HBITMAP, 4> faces{};  // indexed by Face, premultiplied for AlphaBlend
    SIZE size{};
    Face last = Face::Normal;
  };

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void PaintBackground(HDC dc, const RECT& target, const RECT& client);
  HBITMAP Background();
  void FreeButtons();

  HINSTANCE instance_;
  ModalCalls calls_;
  CSdkManager_MFCDlg* dialog_ = nullptr;
  std::atomic<HWND> hwnd_{nullptr};
  DWORD windowThread_ = 0;
  bool ended_ = false;
  int result_ = 0;
  const UINT setPosMessage_;
  const UINT callMessage_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HBITMAP background_ = nullptr;
  std::map<int, PictureButton> buttons_;
  std::map<UINT_PTR, std::function<void()>> timers_;
  UINT_PTR nextTimer_ = 1;
};

}  // namespace rendax
