// SPDX-License-Identifier: GPL-3.0-or-later
// The native Windows window layer of the main dialog: dialog template 102 from the resources,
// owner-drawn picture buttons with four faces, the common-controls progress bar, the strip below
// the picture with the status line and the pedal selector, the Cancel button, the loop drawn
// around the picture's disc, the system menu's items, the file choosers and questions, "SetPos"
// and the platform's device notices (settled, so one plug-in is one notice).
#pragma once

#include <windows.h>
// windows.h first: commdlg.h and commctrl.h use its types.
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/window_geometry.h"
#include "app/window_layer.h"
#include "device/pedal_tracker.h"
#include "device/platform/win32/win32_platform.h"

struct IAccPropServices;

namespace rendax {

// Resource numbers beyond the pictures.
inline constexpr int kAboutDialogTemplate = 100;
inline constexpr int kAboutMenuString = 101;
inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kAboutProductText = 1003;  // the About box's two lines
inline constexpr int kAboutDescriptionText = 1004;
inline constexpr int kAboutLicencesButton = 1005;
inline constexpr UINT kAboutCommand = 16;  // the system-menu item; low four bits are the system's
inline constexpr UINT kRestoreCommand = 32;
inline constexpr UINT kVerifyCommand = 48;
// The status line's two controls (the dialog knows them as one, through SetStatus).
inline constexpr int kStatusText = 1101;
inline constexpr int kStatusLink = 1102;
// The timers that hand settled device notices to the dialog, and that scan a feed without
// messages of its own.
inline constexpr UINT_PTR kSettleTimer = 0x5E77;
inline constexpr UINT_PTR kScanTimer = 0x5CA2;
// The main window's class, registered by Win32Window: a second start of the program finds the
// running window by it.
inline constexpr wchar_t kWindowClass[] = L"RendaxCompanionWindow";
// WM_COPYDATA's dwData for a file handed over by a second start (lpData: its UTF-8 path, none
// for no file).
inline constexpr ULONG_PTR kOpenFileData = 0x52445846;
// The pixels of the pictures at 100 %: the window scales them to its screen's dots per inch.
inline constexpr int kBaseDpi = 96;

// The calls that wait for a person. Tests replace them to answer at once and to see what the
// window asked; the program uses the system's.
struct ModalCalls {
  std::function<BOOL(OPENFILENAMEW&)> getSaveFileName;
  std::function<BOOL(OPENFILENAMEW&)> getOpenFileName;
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)>
      messageBox;
  std::function<void(HINSTANCE instance, HWND owner)> runAbout;  // the About box, modally
  // A task dialog: the button pressed and the state of its check box.
  std::function<HRESULT(const TASKDIALOGCONFIG& config, int* button, BOOL* checked)> taskDialog;
};
ModalCalls SystemModalCalls();

// "Description|*.ext||" as the choosers take it: fields separated and ended by NULs.
std::wstring ChooserFilter(const std::string& filter);

class Win32Window : public WindowLayer {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // `clock` stands in for the steady clock (tests drive the settling of notices with it).
  explicit Win32Window(HINSTANCE instance, ModalCalls calls = SystemModalCalls(),
                       Clock clock = nullptr);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window from template 102; the dialog's start-up runs before it is first shown.
  // False when the window cannot be made.
  bool Open(CSdkManager_MFCDlg& dialog);
  // A file to import (the program was opened with it), taken as if dropped once the window is
  // on screen; Open does it.
  void OpenWhenShown(const std::string& path);
  // A file to import handed over by a second start of the program: taken as if dropped, from the
  // message loop, once no box or chooser of the window is open.
  void OpenFile(const std::string& path);
  // The window's keyboard shortcuts (F1 About, Ctrl+R restore): true when `msg` was one and ran.
  // The message loop asks before the dialog manager.
  bool TranslateShortcut(MSG& msg);
  // The right-click menu as it would open now: the system menu's items with their keys.
  HMENU BuildContextMenu() const;
  // The device notices to read (the platform's feed, DevicePlatform::WatchNotices): handed the
  // WM_DEVICECHANGE messages, or scanned at its interval. Without one the window hears of no
  // pedal coming or going.
  void Watch(std::unique_ptr<NoticeFeed> feed);
  // The window layer; RunModal is Open, then the message loop until EndDialog.
  RENDAX_WINDOW_LAYER_OVERRIDES;
  std::chrono::steady_clock::time_point Now() const override;

  // A job ended with `title`: the taskbar button flashes while the window is not in front.
  void NotifyJobEnded(const std::string& title) override;

  HWND Handle() const { return hwnd_.load(); }
  // The dots per inch the window is drawn at (96: 100 %).
  int Dpi() const { return dpi_; }
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

  // Counts the boxes and choosers open over the window; when the last closes, a file handed
  // over meanwhile is taken.
  class ModalScope {
   public:
    explicit ModalScope(Win32Window& window);
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

   private:
    Win32Window& window_;
  };

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // The handlers of OnMessage: TRUE when the message was handled (see DialogProc).
  INT_PTR OnSysCommand(WPARAM command);
  // The About, restore and verify items, from whichever menu or key.
  bool RunMenuCommand(UINT command);
  void OnContextMenu(LPARAM at);
  void OnDpiChanged(int dpi, const RECT* suggested);
  void OnCopyData(const COPYDATASTRUCT& data);
  // Enter: the focused control is pressed (the selector opens its list); nothing closes.
  void PressFocused();
  bool JobRunning() const;
  // A length in the pictures' pixels at the window's scale.
  int Scaled(int pixels) const { return MulDiv(pixels, dpi_, kBaseDpi); }
  INT_PTR OnSetCursor(HWND under);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  INT_PTR OnCommand(WORD control, WORD code);
  INT_PTR OnTimer(UINT_PTR id);
  void OnDropFiles(HDROP drop);
  INT_PTR OnNotify(const NMHDR& header);
  void Layout();
  void LayoutStrip();
  void NameControls();
  void ForgetNames();
  void Paint(HDC dc);
  void PaintBackground(HDC dc, const RECT& target);
  void DrawStatus(const DRAWITEMSTRUCT& item);
  void DrawOverBackground(const DRAWITEMSTRUCT& item,
                          const std::function<void(HDC, int, int)>& draw);
  HBITMAP Background();
  void DrawLoop(const LoopOutline& outline);
  void FreeButtons();
  void ReadNotices();
  void ArmSettle();
  void DeliverSettled();
  void OnSelectorChange(bool closed);
  // Moves the keyboard away from a control about to be hidden: where it was before, else to the
  // first enabled picture button.
  void FocusElsewhere(HWND leaving, HWND back);
  int TextWidth(HWND control, const std::wstring& text) const;

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
  HBITMAP loop_ = nullptr;  // the background with the loop around its disc; null: none shown
  HFONT linkFont_ = nullptr;
  IAccPropServices* names_ = nullptr;
  bool comStarted_ = false;
  Clock clock_;
  std::unique_ptr<NoticeFeed> feed_;
  NoticeSettler settler_;
  int stripHeight_ = WindowGeometry::kMinStripHeight;
  int selected_ = -1;            // the selector's choice as last set or chosen
  HWND beforeCancel_ = nullptr;  // where the keyboard was when Cancel appeared
  std::string openWhenShown_;
  std::string pendingOpen_;  // handed over while a box was open, or before start-up ended
  bool started_ = false;     // the start-up's firmware check has run
  int modal_ = 0;            // boxes and choosers open over the window
  int dpi_ = kBaseDpi;
  HACCEL shortcuts_ = nullptr;
  std::map<int, PictureButton> buttons_;
  std::map<UINT_PTR, std::function<void()>> timers_;
  UINT_PTR nextTimer_ = 1;
};

}  // namespace rendax
