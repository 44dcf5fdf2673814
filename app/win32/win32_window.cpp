// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/win32_window.h"

#include <dbt.h>
#include <shellapi.h>
// initguid.h first: oleacc.h then defines the annotation service's identifiers here.
#include <initguid.h>
//
#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "app/about.h"

namespace rendax {

namespace {

constexpr DWORD kChooserPathChars = 260;  // MAX_PATH, the chooser's file-name buffer

using P = PictureLook;

constexpr COLORREF ColourRef(const Rgb& c) {
  return RGB(static_cast<BYTE>(c.r), static_cast<BYTE>(c.g), static_cast<BYTE>(c.b));
}
constexpr COLORREF kGoldColour = ColourRef(P::kGold);
constexpr COLORREF kLettering = ColourRef(P::kLettering);
// The loop's strokes are three units of the picture wide, about one pixel of the window.
constexpr int kRingPen = 3;

uint32_t Pixel(const Rgb& c) {
  auto byte = [](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

Rgb Colour(uint32_t pixel) {
  return {static_cast<double>(pixel >> 16 & 0xff), static_cast<double>(pixel >> 8 & 0xff),
          static_cast<double>(pixel & 0xff)};
}

// A 32-bit top-down bitmap whose pixels can be written directly.
HBITMAP PixelBitmap(int width, int height, uint32_t** bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* memory = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &memory, nullptr, 0);
  *bits = static_cast<uint32_t*>(memory);
  return bitmap;
}

bool Shown(HWND control) {
  return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

// Shown or not by its own style, whether or not the window is yet (it is not during start-up).
bool Visible(HWND control) {
  return (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The user's interface language as Windows names it ("zh-CN", "en-US"); "" when unknown.
std::string UiLocaleName() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                       LOCALE_NAME_MAX_LENGTH, 0) == 0) {
    return "";
  }
  return Narrow(name);
}

// The licence notice, naming the texts in the folder the program was installed into (the one
// above bin\rendax.exe).
std::wstring LicenceNotice() {
  wchar_t path[4 * MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, 4 * MAX_PATH);
  std::wstring folder(path, length);
  for (int up = 0; up < 2; ++up) folder.erase(std::min(folder.rfind(L'\\'), folder.size()));
  const std::string f = Narrow(folder);
  return Widen(CAboutDlg::LicenceNotice(f + "\\LICENSE.txt", f + "\\THIRD-PARTY-NOTICES.txt"));
}

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The template's texts are the Chinese ones: the user's language replaces them.
    const std::string locale = UiLocaleName();
    SetWindowTextW(hwnd, Widen(ForLocale(kAboutCaption, locale)).c_str());
    SetDlgItemTextW(hwnd, kAboutProductText, Widen(CAboutDlg::Product(locale)).c_str());
    SetDlgItemTextW(hwnd, kAboutDescriptionText,
                    Widen(ForLocale(kAboutDescription, locale)).c_str());
    SetDlgItemTextW(hwnd, IDOK, Widen(ForLocale(kAboutOk, locale)).c_str());
    SetDlgItemTextW(hwnd, kAboutLicencesButton, Widen(ForLocale(kAboutLicences, locale)).c_str());
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == kAboutLicencesButton) {
    MessageBoxW(hwnd, LicenceNotice().c_str(),
                Widen(ForLocale(kAboutCaption, UiLocaleName())).c_str(),
                MB_OK | MB_ICONINFORMATION);
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    ::EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

// AlphaBlend wants the colours multiplied by their alpha.
void Premultiply(HBITMAP bitmap) {
  DIBSECTION dib{};
  if (GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 32 ||
      dib.dsBm.bmBits == nullptr) {
    return;
  }
  auto* px = static_cast<uint8_t*>(dib.dsBm.bmBits);
  const size_t count = static_cast<size_t>(dib.dsBm.bmWidth) * std::abs(dib.dsBm.bmHeight);
  for (size_t i = 0; i < count; ++i, px += 4) {
    const unsigned a = px[3];
    px[0] = static_cast<uint8_t>(px[0] * a / 255);
    px[1] = static_cast<uint8_t>(px[1] * a / 255);
    px[2] = static_cast<uint8_t>(px[2] * a / 255);
  }
}

// A user32 function of newer Windows, or null where the system lacks it.
template <typename F>
F NewerUser32(const char* name) {
  // Through void (*)(): the one function pointer type any other converts to without a warning.
  return reinterpret_cast<F>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The dots per inch of the screen `hwnd` is on (per monitor where the system tells it).
int WindowDpi(HWND hwnd) {
  using GetDpi = UINT(WINAPI*)(HWND);
  if (auto get = NewerUser32<GetDpi>("GetDpiForWindow")) {
    if (const UINT dpi = get(hwnd)) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

// The system's own resizing of a dialog on a DPI change is off: the window places its controls
// in pixels itself (OnDpiChanged). The fonts it still updates.
void KeepDialogLayout(HWND hwnd) {
  using SetBehavior = BOOL(WINAPI*)(HWND, int, int);
  constexpr int kDisableResize = 2, kDisableRelayout = 4;
  if (auto set = NewerUser32<SetBehavior>("SetDialogDpiChangeBehavior")) {
    set(hwnd, kDisableResize | kDisableRelayout, kDisableResize | kDisableRelayout);
  }
}

constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED

// The menu items' keys, shown after a tab in the right-click menu.
const wchar_t* ShortcutText(UINT command) {
  if (command == kRestoreCommand) return L"\tCtrl+R";
  if (command == kAboutCommand) return L"\tF1";
  return L"";
}

}  // namespace

std::wstring ChooserFilter(const std::string& filter) {
  // Each description names its patterns once, whatever parentheses the text carries.
  std::wstring out;
  for (const FilterEntry& entry : FilterEntries(filter)) {
    out += Widen(entry.description);
    out.push_back(L'\0');
    out += Widen(entry.patterns);
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  if (out.size() == 1) out.push_back(L'\0');
  return out;
}

ModalCalls SystemModalCalls() {
  ModalCalls calls;
  calls.getSaveFileName = [](OPENFILENAMEW& ofn) { return GetSaveFileNameW(&ofn); };
  calls.getOpenFileName = [](OPENFILENAMEW& ofn) { return GetOpenFileNameW(&ofn); };
  calls.messageBox = [](HWND owner, const std::wstring& text, const std::wstring& caption,
                        UINT type) {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  };
  calls.runAbout = [](HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kAboutDialogTemplate), owner, AboutProc, 0);
  };
  calls.taskDialog = [](const TASKDIALOGCONFIG& config, int* button, BOOL* checked) {
    return TaskDialogIndirect(&config, button, nullptr, checked);
  };
  return calls;
}

Win32Window::Win32Window(HINSTANCE instance, ModalCalls calls, Clock clock)
    : instance_(instance),
      calls_(std::move(calls)),
      setPosMessage_(RegisterWindowMessageW(L"SetPos")),
      callMessage_(RegisterWindowMessageW(L"Rendax.RunOnWindowThread")),
      clock_(std::move(clock)) {
  // The dialog template names this class, so a second start finds the window by it; it is a
  // dialog's class in all else.
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefDlgProcW;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;
  windowClass.hInstance = instance_;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // fails harmlessly when a second window registered it first
  ACCEL keys[] = {{FVIRTKEY, VK_F1, static_cast<WORD>(kAboutCommand)},
                  {FVIRTKEY | FCONTROL, 'R', static_cast<WORD>(kRestoreCommand)}};
  shortcuts_ = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
}

Win32Window::ModalScope::ModalScope(Win32Window& window) : window_(window) {
  ++window_.modal_;
}

Win32Window::ModalScope::~ModalScope() {
  if (--window_.modal_ == 0 && !window_.pendingOpen_.empty()) {
    window_.OpenFile(std::exchange(window_.pendingOpen_, {}));
  }
}

Win32Window::~Win32Window() {
  if (shortcuts_) DestroyAcceleratorTable(shortcuts_);
  dialog_ = nullptr;
  ForgetNames();
  if (HWND hwnd = hwnd_.exchange(nullptr)) DestroyWindow(hwnd);
  FreeButtons();
  if (background_) DeleteObject(background_);
  if (loop_) DeleteObject(loop_);
  if (linkFont_) DeleteObject(linkFont_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
  if (comStarted_) CoUninitialize();
}

std::string Win32Window::LocaleName() const {
  return UiLocaleName();
}

std::chrono::steady_clock::time_point Win32Window::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void Win32Window::FreeButtons() {
  for (auto& [control, button] : buttons_) {
    for (HBITMAP face : button.faces) {
      if (face) DeleteObject(face);
    }
  }
  buttons_.clear();
}

bool Win32Window::Open(CSdkManager_MFCDlg& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  started_ = false;
  windowThread_ = GetCurrentThreadId();
  // For the controls' accessible names (and the choosers, which like a single-threaded room).
  if (!comStarted_) comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // WM_INITDIALOG runs the dialog's start-up; the template's WS_VISIBLE shows the window after.
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(kMainDialogTemplate), nullptr,
                                 DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) return false;
  DragAcceptFiles(hwnd, TRUE);
  Watch(std::move(feed_));  // a feed given before the window was made starts its scan now
  // The file the program was opened with is taken from the message loop, once the window is on
  // screen: its question or its refusal belongs to the window.
  if (!openWhenShown_.empty()) OpenFile(std::exchange(openWhenShown_, {}));
  return true;
}

void Win32Window::OpenWhenShown(const std::string& path) {
  openWhenShown_ = path;
}

void Win32Window::OpenFile(const std::string& path) {
  // Never inside a box or chooser of the window: a second job must not be set up over the first.
  // Nor before the start-up's firmware check, which decides whether the pedal takes a file.
  if (modal_ > 0 || !started_) {
    pendingOpen_ = path;
    return;
  }
  PostDelayed(0, [this, path] {
    if (modal_ > 0) {
      pendingOpen_ = path;
    } else if (dialog_ && !ended_) {
      dialog_->OnDropFile(path);
    }
  });
}

bool Win32Window::TranslateShortcut(MSG& msg) {
  HWND hwnd = hwnd_.load();
  if (!hwnd || !shortcuts_ || (msg.hwnd != hwnd && !IsChild(hwnd, msg.hwnd))) return false;
  return TranslateAcceleratorW(hwnd, shortcuts_, &msg) != 0;
}

HMENU Win32Window::BuildContextMenu() const {
  HMENU system = GetSystemMenu(hwnd_.load(), FALSE);
  HMENU popup = CreatePopupMenu();
  for (UINT command : {kVerifyCommand, kRestoreCommand, kAboutCommand}) {
    const UINT state = GetMenuState(system, command, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1)) continue;
    wchar_t text[128] = {};
    GetMenuStringW(system, command, text, 128, MF_BYCOMMAND);
    // About in a group of its own, as in the system menu.
    if (command == kAboutCommand && GetMenuItemCount(popup) > 0) {
      AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
    }
    AppendMenuW(popup, MF_STRING | (state & (MF_GRAYED | MF_DISABLED | MF_CHECKED)), command,
                (std::wstring(text) + ShortcutText(command)).c_str());
  }
  return popup;
}

void Win32Window::OnContextMenu(LPARAM at) {
  HWND hwnd = hwnd_.load();
  if (modal_ > 0) return;
  POINT where{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
  if (where.x == -1 && where.y == -1) {
    // From the keyboard (Shift+F10, the menu key): at the focused control.
    RECT r{};
    HWND focus = GetFocus();
    GetWindowRect(focus && IsChild(hwnd, focus) ? focus : hwnd, &r);
    where = {r.left + Scaled(8), r.top + Scaled(8)};
  }
  HMENU popup = BuildContextMenu();
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, where.x, where.y, 0, hwnd, nullptr));
  DestroyMenu(popup);
  if (chosen != 0) RunMenuCommand(chosen);
}

bool Win32Window::RunMenuCommand(UINT command) {
  if (command != kAboutCommand && command != kRestoreCommand && command != kVerifyCommand) {
    return false;
  }
  // A greyed item's key does nothing either; nothing starts over an open box.
  const UINT state = GetMenuState(GetSystemMenu(hwnd_.load(), FALSE), command, MF_BYCOMMAND);
  if (modal_ > 0 || state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED))) {
    return true;
  }
  if (command == kAboutCommand) dialog_->OnAbout();
  if (command == kRestoreCommand) dialog_->OnRestoreLastBackup();
  if (command == kVerifyCommand) dialog_->OnToggleVerify();
  return true;
}

void Win32Window::NotifyJobEnded(const std::string& /*title*/) {
  HWND hwnd = hwnd_.load();
  if (!hwnd || GetForegroundWindow() == hwnd) return;
  // Until the window comes to the front.
  FLASHWINFO flash{sizeof flash, hwnd, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

bool Win32Window::JobRunning() const {
  return dialog_ && dialog_->JobCode() != JobNone;
}

void Win32Window::PressFocused() {
  HWND hwnd = hwnd_.load();
  HWND focus = GetFocus();
  if (!focus || GetParent(focus) != hwnd || !Shown(focus)) return;
  const int id = GetDlgCtrlID(focus);
  if (id == kPedalSelector) {
    SendMessageW(focus, CB_SHOWDROPDOWN, TRUE, 0);
  } else if (id == kExportButton || id == kImportButton || id == kStatusLink ||
             id == kCancelButton) {
    OnCommand(static_cast<WORD>(id), BN_CLICKED);
  }
}

void Win32Window::OnCopyData(const COPYDATASTRUCT& data) {
  HWND hwnd = hwnd_.load();
  // To the front, with the box or chooser open over it if there is one.
  if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
  SetForegroundWindow(GetLastActivePopup(hwnd));
  if (data.cbData == 0 || data.lpData == nullptr) return;
  OpenFile(std::string(static_cast<const char*>(data.lpData), data.cbData));
}

void Win32Window::OnDpiChanged(int dpi, const RECT* suggested) {
  HWND hwnd = hwnd_.load();
  dpi_ = dpi > 0 ? dpi : kBaseDpi;
  if (suggested) {
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (auto& [control, button] : buttons_) {
    SetWindowPos(GetDlgItem(hwnd, control), nullptr, 0, 0, Scaled(button.size.cx),
                 Scaled(button.size.cy), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (linkFont_) DeleteObject(linkFont_);
  linkFont_ = nullptr;
  Layout();
  InvalidateRect(hwnd, nullptr, TRUE);
}

int Win32Window::RunModal(CSdkManager_MFCDlg& dialog) {
  if (!Open(dialog)) return -1;
  MSG msg;
  while (!ended_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND hwnd = hwnd_.load();
    if (TranslateShortcut(msg)) continue;
    if (hwnd == nullptr || !IsDialogMessageW(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  dialog_ = nullptr;
  return result_;
}

void Win32Window::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  for (auto& [id, call] : timers_) KillTimer(hwnd_.load(), id);
  timers_.clear();
  KillTimer(hwnd_.load(), kSettleTimer);
  KillTimer(hwnd_.load(), kScanTimer);
  ForgetNames();
  if (HWND hwnd = hwnd_.exchange(nullptr)) DestroyWindow(hwnd);
  PostThreadMessageW(windowThread_, WM_NULL, 0, 0);  // wakes the loop in RunModal
}

void Win32Window::AppendAboutItem(const std::string& text) {
  HMENU menu = GetSystemMenu(hwnd_.load(), FALSE);
  // The text in the user's language; string 101 holds the Chinese one.
  const std::wstring item = Widen(text);
  if (menu == nullptr || item.empty()) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutCommand, item.c_str());
}

void Win32Window::AppendRestoreItem(const std::string& text) {
  HMENU menu = GetSystemMenu(hwnd_.load(), FALSE);
  if (menu == nullptr) return;
  // A group of its own, before the About item's, shared with the verify item.
  if (GetMenuState(menu, kVerifyCommand, MF_BYCOMMAND) == static_cast<UINT>(-1)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  }
  AppendMenuW(menu, MF_STRING, kRestoreCommand, Widen(text).c_str());
}

void Win32Window::AppendVerifyItem(const std::string& text, bool checked) {
  HMENU menu = GetSystemMenu(hwnd_.load(), FALSE);
  if (menu == nullptr) return;
  const UINT flags = MF_STRING | (checked ? MF_CHECKED : MF_UNCHECKED);
  // Before the restore item, whichever came first.
  if (GetMenuState(menu, kRestoreCommand, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
    InsertMenuW(menu, kRestoreCommand, MF_BYCOMMAND | flags, kVerifyCommand, Widen(text).c_str());
    return;
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, flags, kVerifyCommand, Widen(text).c_str());
}

void Win32Window::CheckVerifyItem(bool checked) {
  CheckMenuItem(GetSystemMenu(hwnd_.load(), FALSE), kVerifyCommand,
                MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void Win32Window::ShowAbout() {
  ModalScope modal(*this);
  calls_.runAbout(instance_, hwnd_.load());
}

void Win32Window::SetIcons(int iconGroup) {
  if (!bigIcon_) {
    bigIcon_ =
        static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(iconGroup), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  }
  if (!smallIcon_) {
    smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(iconGroup), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  }
  SendMessageW(hwnd_.load(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(hwnd_.load(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

void Win32Window::EnableControl(int control, bool enable) {
  HWND hwnd = hwnd_.load();
  if (control == kRestoreItem || control == kVerifyItem) {
    EnableMenuItem(GetSystemMenu(hwnd, FALSE),
                   control == kRestoreItem ? kRestoreCommand : kVerifyCommand,
                   MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    return;
  }
  HWND item = GetDlgItem(hwnd, control);
  EnableWindow(item, enable ? TRUE : FALSE);
  // A picture button that comes back after a job takes the keyboard when nothing else has it.
  if (enable && (control == kExportButton || control == kImportButton)) {
    HWND focus = GetFocus();
    if (focus == nullptr || GetParent(focus) != hwnd || !Shown(focus)) {
      FocusElsewhere(nullptr, item);
    }
  }
}

void Win32Window::SetProgressRange(int low, int high) {
  SendDlgItemMessageW(hwnd_.load(), kProgressBar, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void Win32Window::SetProgressPos(int pos) {
  // Unclamped: the progress bar keeps the position within its range itself.
  SendDlgItemMessageW(hwnd_.load(), kProgressBar, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32Window::LoadButtonFaces(int control, const ButtonFaces& faces) {
  PictureButton& button = buttons_[control];
  const int numbers[4] = {faces.normal, faces.pressed, faces.focused, faces.disabled};
  for (int i = 0; i < 4; ++i) {
    if (button.faces[i]) DeleteObject(button.faces[i]);
    button.faces[i] = static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(numbers[i]),
                                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (button.faces[i]) Premultiply(button.faces[i]);
  }
  BITMAP normal{};
  HWND item = GetDlgItem(hwnd_.load(), control);
  if (button.faces[0] && GetObjectW(button.faces[0], sizeof normal, &normal) && item) {
    button.size = {normal.bmWidth, normal.bmHeight};
    // Sized to the normal face at the window's scale, keeping its place.
    SetWindowPos(item, nullptr, 0, 0, Scaled(normal.bmWidth), Scaled(normal.bmHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(item, nullptr, FALSE);
  }
}

void Win32Window::ShowMessage(const std::string& text, const std::string& detail,
                              MessageKind kind) {
  // A message box is as wide as its lines: each path of the detail on a line of its own,
  // elided in the middle so that no line runs off the screen.
  constexpr std::size_t kPathChars = 64;
  std::wstring body = Widen(text);
  if (!detail.empty()) body += L"\n";
  bool elided = false;
  for (const DetailPiece& piece : LayOutDetail(detail, [](const std::string& p) {
         return GetFileAttributesW(Widen(p).c_str()) != INVALID_FILE_ATTRIBUTES;
       })) {
    std::string line = piece.text;
    if (piece.path) {
      line = ElideMiddle(piece.text, kPathChars);
      elided = elided || line != piece.text;
      line += piece.after;
    }
    body += L"\n" + Widen(line);
  }
  ModalScope modal(*this);
  if (!elided) {
    const UINT icon = kind == MessageKind::Error     ? MB_ICONERROR
                      : kind == MessageKind::Warning ? MB_ICONWARNING
                                                     : MB_ICONINFORMATION;
    calls_.messageBox(hwnd_.load(), body, Widen(kAppName), MB_OK | icon);
    return;
  }
  // A path cut short: a task dialog keeps the whole detail under its "See details".
  const std::wstring caption = Widen(kAppName);
  const std::wstring whole = Widen(detail);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = hwnd_.load();
  config.hInstance = instance_;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = kind == MessageKind::Error     ? TD_ERROR_ICON
                       : kind == MessageKind::Warning ? TD_WARNING_ICON
                                                      : TD_INFORMATION_ICON;
  config.pszContent = body.c_str();
  config.pszExpandedInformation = whole.c_str();
  int button = IDOK;
  BOOL checked = FALSE;
  calls_.taskDialog(config, &button, &checked);
}

bool Win32Window::AskYesNo(const std::string& text, const std::string& /*caption*/) {
  // The window's own question, over it: No is the default, as before every write, and nothing
  // else of the window can be started meanwhile.
  ModalScope modal(*this);
  return calls_.messageBox(hwnd_.load(), Widen(text), Widen(kAppName),
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

bool Win32Window::AskYesNoWithOption(const std::string& text, const std::string& caption,
                                     QuestionOption& option) {
  if (!AskYesNo(text, caption)) return false;
  // A message box has no check box: the option is a question of its own, its default button
  // the state it comes with.
  const UINT type = MB_YESNO | (option.checked ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
  ModalScope modal(*this);
  option.checked =
      calls_.messageBox(hwnd_.load(), Widen(option.text + "?"), Widen(caption), type) == IDYES;
  return true;
}

bool Win32Window::AskBeforeReplacing(const std::string& text, QuestionOption* option) {
  // The loop on the pedal is lost on Yes: No is the default, and Esc (the dialog's cancel)
  // answers No too. A task dialog, for the check box a message box lacks.
  const std::wstring content = Widen(text);
  const std::wstring caption = Widen(kAppName);
  const std::wstring check = option ? Widen(option->text) : std::wstring();
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = hwnd_.load();
  config.hInstance = instance_;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  if (option && option->checked) config.dwFlags |= TDF_VERIFICATION_FLAG_CHECKED;
  config.dwCommonButtons = TDCBF_YES_BUTTON | TDCBF_NO_BUTTON;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TD_WARNING_ICON;
  config.pszContent = content.c_str();
  config.nDefaultButton = IDNO;
  config.pszVerificationText = option ? check.c_str() : nullptr;
  int button = IDNO;
  BOOL checked = option && option->checked;
  ModalScope modal(*this);
  // A question that cannot be put is a No: the loop stays.
  if (FAILED(calls_.taskDialog(config, &button, &checked))) return false;
  if (option) option->checked = checked != FALSE;
  return button == IDYES;
}

std::optional<std::string> Win32Window::ChooseFile(const FileChooser& chooser) {
  const std::wstring filter = ChooserFilter(chooser.filter);
  const std::wstring extension = Widen(chooser.defaultExtension);
  std::vector<wchar_t> name(kChooserPathChars, L'\0');
  const std::wstring initial = Widen(chooser.initialName);
  if (initial.size() < name.size()) std::copy(initial.begin(), initial.end(), name.begin());

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  // Owned by the window, which it disables meanwhile: no second job is started under it.
  ofn.hwndOwner = hwnd_.load();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = kChooserPathChars;
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // NOCHANGEDIR: a relative simulator folder must keep meaning what it meant at start.
  ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  BOOL ok;
  ModalScope modal(*this);
  if (chooser.save) {
    // No create prompt: the classic chooser would ask it for every new file.
    ofn.Flags |= OFN_PATHMUSTEXIST;
    if (chooser.confirmOverwrite) ofn.Flags |= OFN_OVERWRITEPROMPT;
    ok = calls_.getSaveFileName(ofn);
  } else {
    ofn.Flags |= OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    ok = calls_.getOpenFileName(ofn);
  }
  if (!ok || name[0] == L'\0') return std::nullopt;
  return Narrow(std::wstring(name.data()));
}

void Win32Window::SendToWindow(const std::function<void()>& call) {
  HWND hwnd = hwnd_.load();
  if (hwnd == nullptr || GetCurrentThreadId() == windowThread_) {
    call();
    return;
  }
  // Synchronous: returns once the window thread has run the call.
  SendMessageW(hwnd, callMessage_, 0, reinterpret_cast<LPARAM>(&call));
}

void Win32Window::PostDelayed(int ms, std::function<void()> call) {
  const UINT_PTR id = nextTimer_++;
  timers_[id] = std::move(call);
  SetTimer(hwnd_.load(), id, static_cast<UINT>(ms), nullptr);
}

void Win32Window::WaitUntil(const std::string& notice, const std::function<bool()>& done) {
  if (done()) return;
  HWND hwnd = hwnd_.load();
  RECT frame{};
  GetWindowRect(hwnd, &frame);
  const int width = Scaled(360), height = Scaled(48);
  HWND note = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"STATIC", Widen(notice).c_str(),
                              WS_POPUP | WS_BORDER | SS_CENTER | WS_VISIBLE,
                              (frame.left + frame.right - width) / 2, frame.top + 40, width, height,
                              hwnd, nullptr, instance_, nullptr);
  SendMessageW(note, WM_SETFONT, SendMessageW(hwnd, WM_GETFONT, 0, 0), TRUE);
  while (!done()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (!IsDialogMessageW(hwnd, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  if (note) DestroyWindow(note);
}

void Win32Window::SetStatus(const StatusLine& status) {
  HWND hwnd = hwnd_.load();
  HWND link = GetDlgItem(hwnd, kStatusLink);
  SetDlgItemTextW(hwnd, kStatusText, Widen(status.text).c_str());
  SetWindowTextW(link, Widen(status.link).c_str());
  if (status.link.empty()) FocusElsewhere(link, nullptr);
  ShowWindow(link, status.link.empty() ? SW_HIDE : SW_SHOWNA);
  LayoutStrip();
}

void Win32Window::SetPedalChoices(const std::vector<std::string>& labels, int selected) {
  HWND selector = GetDlgItem(hwnd_.load(), kPedalSelector);
  // Filled and selected here: a combo box reports only the user's own choices.
  SendMessageW(selector, CB_RESETCONTENT, 0, 0);
  for (const std::string& label : labels) {
    SendMessageW(selector, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(label).c_str()));
  }
  SendMessageW(selector, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  selected_ = selected;
  const bool show = labels.size() >= 2;
  if (!show) FocusElsewhere(selector, nullptr);
  ShowWindow(selector, show ? SW_SHOWNA : SW_HIDE);
  LayoutStrip();
}

void Win32Window::OnSelectorChange(bool closed) {
  HWND selector = GetDlgItem(hwnd_.load(), kPedalSelector);
  // While the list is open the selection follows the pointer and the arrows: the choice is
  // made when it closes on an item.
  if (!closed && SendMessageW(selector, CB_GETDROPPEDSTATE, 0, 0)) return;
  const int index = static_cast<int>(SendMessageW(selector, CB_GETCURSEL, 0, 0));
  if (index == CB_ERR || index == selected_) return;
  selected_ = index;
  dialog_->OnChoosePedal(index);
}

void Win32Window::ShowCancel(bool show) {
  HWND hwnd = hwnd_.load();
  HWND cancel = GetDlgItem(hwnd, kCancelButton);
  if (show) {
    if (!Visible(cancel)) beforeCancel_ = GetFocus();
    EnableWindow(cancel, TRUE);
    ShowWindow(cancel, SW_SHOWNA);
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel), TRUE);
    return;
  }
  HWND back = beforeCancel_;
  beforeCancel_ = nullptr;
  FocusElsewhere(cancel, back);
  ShowWindow(cancel, SW_HIDE);
}

void Win32Window::FocusElsewhere(HWND leaving, HWND back) {
  HWND hwnd = hwnd_.load();
  if (leaving && GetFocus() != leaving) return;
  HWND to = back && back != leaving && GetParent(back) == hwnd && Shown(back) ? back : nullptr;
  for (int id : {kExportButton, kImportButton}) {
    if (!to && Shown(GetDlgItem(hwnd, id))) to = GetDlgItem(hwnd, id);
  }
  if (to) {
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(to), TRUE);
  } else if (leaving) {
    SetFocus(hwnd);  // nothing to take it: the window itself keeps the keyboard
  }
}

int Win32Window::TextWidth(HWND control, const std::wstring& text) const {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

void Win32Window::Layout() {
  HWND hwnd = hwnd_.load();
  using G = WindowGeometry;
  // The template's dialog units would scale the picture with the font: pixels instead.
  // At the screen's scale: the pictures' pixels at 100 %, Scaled to the window's DPI.
  auto place = [&](int id, const WindowRect& r) {
    SetWindowPos(GetDlgItem(hwnd, id), nullptr, Scaled(r.left), Scaled(r.top), Scaled(r.width),
                 Scaled(r.height), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  // The picture buttons take their faces' size (LoadButtonFaces).
  for (auto [id, at] :
       {std::pair{kExportButton, G::kExport}, std::pair{kImportButton, G::kImport}}) {
    SetWindowPos(GetDlgItem(hwnd, id), nullptr, Scaled(at.x), Scaled(at.y), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  place(kProgressBar, G::kProgress);
  place(kCancelButton, G::kCancel);

  HWND selector = GetDlgItem(hwnd, kPedalSelector);
  RECT box{};
  GetWindowRect(selector, &box);
  stripHeight_ = std::max<int>(Scaled(G::kMinStripHeight), box.bottom - box.top + Scaled(10));
  RECT frame{0, 0, Scaled(G::kPictureWidth), Scaled(G::kPictureHeight) + stripHeight_};
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
  // The frame at the window's own DPI where the system can say it.
  using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  if (auto adjust = NewerUser32<AdjustForDpi>("AdjustWindowRectExForDpi")) {
    adjust(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi_));
  } else {
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
  SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  // The link: the dialog's font, underlined, as links are.
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
  font.lfUnderline = TRUE;
  if (!linkFont_) linkFont_ = CreateFontIndirectW(&font);
  SendDlgItemMessageW(hwnd, kStatusLink, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_), FALSE);
  LayoutStrip();
}

void Win32Window::LayoutStrip() {
  HWND hwnd = hwnd_.load();
  using G = WindowGeometry;
  HWND status = GetDlgItem(hwnd, kStatusText);
  HWND link = GetDlgItem(hwnd, kStatusLink);
  HWND selector = GetDlgItem(hwnd, kPedalSelector);
  const int pictureHeight = Scaled(G::kPictureHeight), margin = Scaled(G::kStripMargin);
  int right = Scaled(G::kPictureWidth) - margin;

  if (Visible(selector)) {
    // As wide as its longest label, within bounds; the status line gets the rest.
    int widest = 0;
    const int count = static_cast<int>(SendMessageW(selector, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      std::wstring label(static_cast<size_t>(SendMessageW(selector, CB_GETLBTEXTLEN, i, 0)), L'\0');
      SendMessageW(selector, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(label.data()));
      widest = std::max(widest, TextWidth(selector, label));
    }
    const int width =
        std::min(Scaled(G::kSelectorMaxWidth), widest + GetSystemMetrics(SM_CXVSCROLL) + 12);
    RECT box{};
    GetWindowRect(selector, &box);
    const int height = box.bottom - box.top;
    // The height given is the open list's; the closed box keeps its own.
    SetWindowPos(selector, nullptr, right - width, pictureHeight + (stripHeight_ - height) / 2,
                 width, height + 8 * SendMessageW(selector, CB_GETITEMHEIGHT, 0, 0),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    right -= width + Scaled(8);
  }

  wchar_t buffer[512];
  GetWindowTextW(link, buffer, 512);
  const int linkWidth = Visible(link) ? TextWidth(link, buffer) + 6 : 0;
  GetWindowTextW(status, buffer, 512);
  const int room = std::max(0, right - margin - (linkWidth ? linkWidth + 4 : 0));
  const int statusWidth = std::min(room, TextWidth(status, buffer) + 2);
  TEXTMETRICW metrics{};
  HDC dc = GetDC(status);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(status, WM_GETFONT, 0, 0)));
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(status, dc);
  const int height = metrics.tmHeight + 4;
  const int top = pictureHeight + (stripHeight_ - height) / 2;
  SetWindowPos(status, nullptr, margin, top, statusWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(link, nullptr, margin + statusWidth + 4, top, linkWidth, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(status, nullptr, FALSE);
  InvalidateRect(link, nullptr, FALSE);
  // What the strip showed beyond the controls' new places.
  RECT strip{0, pictureHeight, Scaled(G::kPictureWidth), pictureHeight + stripHeight_};
  InvalidateRect(hwnd, &strip, FALSE);
}

void Win32Window::NameControls() {
  // Names for assistive technology where a control's text says too little or changes.
  if (!comStarted_ ||
      FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&names_)))) {
    names_ = nullptr;
    return;
  }
  // ForgetNames clears the same three.
  const std::pair<int, const char*> names[] = {
      {kStatusText, kNameStatus}, {kPedalSelector, kNamePedal}, {kCancelButton, kNameCancel}};
  for (const auto& [id, name] : names) {
    names_->SetHwndPropStr(GetDlgItem(hwnd_.load(), id), static_cast<DWORD>(OBJID_CLIENT),
                           CHILDID_SELF, PROPID_ACC_NAME, Widen(name).c_str());
  }
}

void Win32Window::ForgetNames() {
  if (!names_) return;
  const MSAAPROPID name = PROPID_ACC_NAME;
  for (int id : {kStatusText, kPedalSelector, kCancelButton}) {
    names_->ClearHwndProps(GetDlgItem(hwnd_.load(), id), static_cast<DWORD>(OBJID_CLIENT),
                           CHILDID_SELF, &name, 1);
  }
  names_->Release();
  names_ = nullptr;
}

void Win32Window::Watch(std::unique_ptr<NoticeFeed> feed) {
  feed_ = std::move(feed);
  HWND hwnd = hwnd_.load();
  if (hwnd) KillTimer(hwnd, kScanTimer);
  if (hwnd && feed_ && feed_->ScanInterval().count() > 0) {
    SetTimer(hwnd, kScanTimer, static_cast<UINT>(feed_->ScanInterval().count()), nullptr);
  }
}

void Win32Window::ReadNotices() {
  std::vector<HotplugNotice> notices;
  if (!feed_->Read(notices)) Watch(nullptr);  // it gives no more
  for (HotplugNotice notice : notices) settler_.Add(notice, Now());
  // Settled first: one plug-in comes as several notices.
  if (!notices.empty()) ArmSettle();
}

void Win32Window::ArmSettle() {
  using namespace std::chrono;
  const auto wait = ceil<milliseconds>(settler_.Due() - Now()).count();
  SetTimer(hwnd_.load(), kSettleTimer,
           static_cast<UINT>(std::clamp<decltype(wait)>(wait, USER_TIMER_MINIMUM, 60000)), nullptr);
}

void Win32Window::DeliverSettled() {
  const std::vector<HotplugNotice> notices = settler_.Take(Now());
  if (notices.empty()) {
    // Early (the clock and the timer disagree by a tick): wait for the rest.
    if (settler_.Pending()) {
      ArmSettle();
    } else {
      KillTimer(hwnd_.load(), kSettleTimer);
    }
    return;
  }
  KillTimer(hwnd_.load(), kSettleTimer);
  for (HotplugNotice notice : notices) {
    if (dialog_ == nullptr || ended_) return;
    dialog_->OnDeviceChange(notice);
  }
}

Face Win32Window::LastFace(int control) const {
  auto it = buttons_.find(control);
  return it == buttons_.end() ? Face::Normal : it->second.last;
}

HBITMAP Win32Window::Background() {
  if (!background_) {
    background_ = static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(kBackgroundBitmap),
                                                  IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  }
  return background_;
}

// Copies what lies under `target` (client coordinates): the picture (with the loop, when one is
// shown) stretched over its 460 x 306, and below it the strip, the picture's bottom edge drawn
// down so the two read as one surface.
void Win32Window::PaintBackground(HDC dc, const RECT& target) {
  HBITMAP picture = loop_ ? loop_ : Background();
  BITMAP bm{};
  if (!picture || !GetObjectW(picture, sizeof bm, &bm)) {
    FillRect(dc, &target, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  using G = WindowGeometry;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, picture);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  const int width = Scaled(G::kPictureWidth), height = Scaled(G::kPictureHeight);
  const RECT area{0, 0, width, height};
  const RECT strip{0, height, std::max<LONG>(target.right, width),
                   std::max<LONG>(target.bottom, height)};
  RECT part;
  if (IntersectRect(&part, &target, &area)) {
    StretchBlt(dc, part.left, part.top, part.right - part.left, part.bottom - part.top, memory,
               MulDiv(part.left, bm.bmWidth, width), MulDiv(part.top, bm.bmHeight, height),
               MulDiv(part.right - part.left, bm.bmWidth, width),
               MulDiv(part.bottom - part.top, bm.bmHeight, height), SRCCOPY);
  }
  if (IntersectRect(&part, &target, &strip)) {
    StretchBlt(dc, part.left, part.top, part.right - part.left, part.bottom - part.top, memory,
               MulDiv(part.left, bm.bmWidth, width), bm.bmHeight - 1,
               MulDiv(part.right - part.left, bm.bmWidth, width), 1, SRCCOPY);
  }
  SelectObject(memory, old);
  DeleteDC(memory);
}

void Win32Window::Paint(HDC dc) {
  HWND hwnd = hwnd_.load();
  RECT client;
  GetClientRect(hwnd, &client);
  if (IsIconic(hwnd)) {
    SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, bigIcon_);
  } else {
    PaintBackground(dc, client);
  }
}

void Win32Window::ShowLoopOutline(const LoopOutline& outline) {
  if (outline.Empty()) {
    if (loop_) DeleteObject(loop_);
    loop_ = nullptr;
  } else {
    DrawLoop(outline);
  }
  // The disc, in the window: the picture's units scaled onto its 460 x 306.
  using G = WindowGeometry;
  BITMAP bm{};
  if (!GetObjectW(Background(), sizeof bm, &bm) || bm.bmWidth <= 0 || bm.bmHeight <= 0) return;
  const double sx = double(Scaled(G::kPictureWidth)) / bm.bmWidth,
               sy = double(Scaled(G::kPictureHeight)) / bm.bmHeight;
  const RECT disc{static_cast<LONG>((P::kDiscX - P::kStrokesOuter) * sx) - 2,
                  static_cast<LONG>((P::kDiscY - P::kStrokesOuter) * sy) - 2,
                  static_cast<LONG>((P::kDiscX + P::kStrokesOuter) * sx) + 3,
                  static_cast<LONG>((P::kDiscY + P::kStrokesOuter) * sy) + 3};
  InvalidateRect(hwnd_.load(), &disc, FALSE);
}

// The loop is drawn into a copy of the picture, in the picture's units, and shown through the
// same stretch as the picture itself, so it is smoothed alike and lines up with the disc.
void Win32Window::DrawLoop(const LoopOutline& outline) {
  HBITMAP background = Background();
  BITMAP bm{};
  if (!background || !GetObjectW(background, sizeof bm, &bm)) return;
  const int width = bm.bmWidth, height = bm.bmHeight;
  uint32_t* bits = nullptr;
  if (!loop_) loop_ = PixelBitmap(width, height, &bits);
  DIBSECTION dib{};
  if (!loop_ || GetObjectW(loop_, sizeof dib, &dib) != sizeof dib) return;
  bits = static_cast<uint32_t*>(dib.dsBm.bmBits);  // also when it was made before
  HDC from = CreateCompatibleDC(nullptr), to = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFrom = SelectObject(from, background), oldTo = SelectObject(to, loop_);
  BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY);
  SelectObject(from, oldFrom);
  SelectObject(to, oldTo);
  DeleteDC(from);
  DeleteDC(to);
  GdiFlush();

  // The square around the ring, clipped to the picture.
  const int reach = static_cast<int>(P::kStrokesOuter) + kRingPen;
  const int left = std::max(0, static_cast<int>(P::kDiscX) - reach);
  const int top = std::max(0, static_cast<int>(P::kDiscY) - reach);
  const int right = std::min(width, static_cast<int>(P::kDiscX) + reach + 1);
  const int bottom = std::min(height, static_cast<int>(P::kDiscY) + reach + 1);
  if (right <= left || bottom <= top) return;

  // The picture's own strokes are painted over with its sky and glow, as if it had been drawn
  // without them; the ring then shows on that ground.
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const double d = std::hypot(x + 0.5 - P::kDiscX, y + 0.5 - P::kDiscY);
      if (d >= P::kStrokesInner && d <= P::kStrokesOuter) {
        bits[size_t(y) * size_t(width) + size_t(x)] =
            Pixel(PictureGround(x + 0.5, y + 0.5, width, height));
      }
    }
  }

  // One stroke a slice, clockwise from the top, from its lowest to its highest sample, drawn
  // white on black into a mask, then laid over the picture in gold.
  uint32_t* mask = nullptr;
  const int mw = right - left, mh = bottom - top;
  HBITMAP maskBitmap = PixelBitmap(mw, mh, &mask);
  if (!maskBitmap) return;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldMask = SelectObject(dc, maskBitmap);
  PatBlt(dc, 0, 0, mw, mh, BLACKNESS);
  LOGBRUSH brush{BS_SOLID, RGB(255, 255, 255), 0};
  HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND, kRingPen, &brush, 0, nullptr);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  for (const RingStroke& stroke : RingStrokes(outline)) {
    MoveToEx(dc, static_cast<int>(std::lround(stroke.x0)) - left,
             static_cast<int>(std::lround(stroke.y0)) - top, nullptr);
    LineTo(dc, static_cast<int>(std::lround(stroke.x1)) - left,
           static_cast<int>(std::lround(stroke.y1)) - top);
  }
  SelectObject(dc, oldPen);
  DeleteObject(pen);
  SelectObject(dc, oldMask);
  DeleteDC(dc);
  GdiFlush();
  for (int y = 0; y < mh; ++y) {
    for (int x = 0; x < mw; ++x) {
      if ((mask[size_t(y) * size_t(mw) + size_t(x)] & 0xffffff) == 0) continue;
      uint32_t& px = bits[size_t(y + top) * size_t(width) + size_t(x + left)];
      const Rgb under = Colour(px);
      px = Pixel({under.r + (P::kGold.r - under.r) * P::kRingOpacity,
                  under.g + (P::kGold.g - under.g) * P::kRingOpacity,
                  under.b + (P::kGold.b - under.b) * P::kRingOpacity});
    }
  }
  DeleteObject(maskBitmap);
}

// An owner-drawn control is drawn off screen, over the window's background at its place, then
// copied in one go, so nothing flickers.
void Win32Window::DrawOverBackground(const DRAWITEMSTRUCT& item,
                                     const std::function<void(HDC, int, int)>& draw) {
  const RECT r = item.rcItem;
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC memory = CreateCompatibleDC(item.hDC);
  HBITMAP canvas = CreateCompatibleBitmap(item.hDC, w, h);
  HGDIOBJ oldCanvas = SelectObject(memory, canvas);
  HWND hwnd = hwnd_.load();
  RECT placed = r;
  MapWindowPoints(item.hwndItem, hwnd, reinterpret_cast<POINT*>(&placed), 2);
  SetViewportOrgEx(memory, -placed.left, -placed.top, nullptr);
  PaintBackground(memory, placed);
  SetViewportOrgEx(memory, 0, 0, nullptr);
  draw(memory, w, h);
  BitBlt(item.hDC, r.left, r.top, w, h, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(memory);
}

// The status line's text, light on the strip, cut with an ellipsis; the link, in gold,
// underlined, with the focus frame when the keyboard is on it.
void Win32Window::DrawStatus(const DRAWITEMSTRUCT& item) {
  DrawOverBackground(item, [&](HDC memory, int w, int h) {
    const bool link = item.CtlID == static_cast<UINT>(kStatusLink);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item.hwndItem)), L'\0');
    GetWindowTextW(item.hwndItem, text.data(), static_cast<int>(text.size()) + 1);
    HGDIOBJ oldFont = SelectObject(
        memory, reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, link ? kGoldColour : kLettering);
    RECT box{link ? 3 : 0, 0, w, h};
    DrawTextW(memory, text.c_str(), static_cast<int>(text.size()), &box,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(memory, oldFont);
    if (link && (item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
      RECT frame{0, 0, w, h};
      DrawFocusRect(memory, &frame);
    }
  });
}

Face Win32Window::DrawButton(const DRAWITEMSTRUCT& item) {
  const Face face =
      PickFace((item.itemState & ODS_SELECTED) != 0, (item.itemState & ODS_FOCUS) != 0,
               (item.itemState & ODS_DISABLED) == 0);
  // The background under the button, then the face over it.
  DrawOverBackground(item, [&](HDC memory, int, int) {
    auto found = buttons_.find(static_cast<int>(item.CtlID));
    if (found == buttons_.end()) return;
    PictureButton& button = found->second;
    button.last = face;
    if (HBITMAP bitmap = button.faces[static_cast<int>(face)]) {
      BITMAP bm{};
      GetObjectW(bitmap, sizeof bm, &bm);
      HDC source = CreateCompatibleDC(item.hDC);
      HGDIOBJ oldSource = SelectObject(source, bitmap);
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      // The face fills the button, which is the face's size at the window's scale.
      AlphaBlend(memory, 0, 0, Scaled(bm.bmWidth), Scaled(bm.bmHeight), source, 0, 0, bm.bmWidth,
                 bm.bmHeight, blend);
      SelectObject(source, oldSource);
      DeleteDC(source);
    }
  });
  return face;
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Window* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_.store(hwnd);
  } else {
    self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr || self->dialog_ == nullptr) return FALSE;
  return self->OnMessage(hwnd, message, wParam, lParam);
}

INT_PTR Win32Window::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == callMessage_) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return TRUE;
  }
  if (message == setPosMessage_) {
    dialog_->OnSetPos(static_cast<int>(lParam));
    return FALSE;  // and on to the default handling, which has nothing more to do
  }
  switch (message) {
    case WM_INITDIALOG:
      dpi_ = WindowDpi(hwnd);
      KeepDialogLayout(hwnd);
      Layout();
      NameControls();
      dialog_->OnInitDialog();
      // The firmware check once the window is on screen, so its question comes over it; a file
      // handed over or named on the command line waits for it.
      PostDelayed(0, [this] {
        if (dialog_) dialog_->OnShown();
        started_ = true;
        if (!pendingOpen_.empty() && modal_ == 0) OpenFile(std::exchange(pendingOpen_, {}));
      });
      return TRUE;  // the dialog manager gives the first enabled control the focus
    case WM_ACTIVATE:
      // Back from another program, which may have changed the pedal's loop. Not consumed: the
      // dialog manager puts the keyboard back where it was.
      if (LOWORD(wParam) == WA_ACTIVE || LOWORD(wParam) == WA_CLICKACTIVE) dialog_->OnActivate();
      return FALSE;
    case WM_DEVICECHANGE:
      // The system's device notices come this way. Never consumed: the default answer (grant
      // every query) stands.
      if (feed_) {
        feed_->Offer(message, wParam, lParam);
        ReadNotices();
      }
      return FALSE;
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam);
    case WM_ERASEBKGND:
      return TRUE;  // the paint covers the whole client area
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      Paint(dc);
      EndPaint(hwnd, &ps);
      return TRUE;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_SETCURSOR:
      return OnSetCursor(reinterpret_cast<HWND>(wParam));
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(smallIcon_ ? smallIcon_ : bigIcon_);
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_CLOSE:
      dialog_->OnClose();
      return TRUE;
    case WM_TIMER:
      return OnTimer(wParam);
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU:
      OnContextMenu(lParam);
      return TRUE;
    case kDpiChangedMessage:
      OnDpiChanged(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_COPYDATA: {
      const auto& data = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data.dwData != kOpenFileData) return FALSE;
      OnCopyData(data);
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR Win32Window::OnSysCommand(WPARAM command) {
  // Move, minimize, close, ...: the system's.
  return RunMenuCommand(static_cast<UINT>(command & 0xFFF0)) ? TRUE : FALSE;
}

INT_PTR Win32Window::OnSetCursor(HWND under) {
  HWND hwnd = hwnd_.load();
  if (under != GetDlgItem(hwnd, kStatusLink)) return FALSE;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
  return TRUE;
}

void Win32Window::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlID == static_cast<UINT>(kStatusText) ||
      item.CtlID == static_cast<UINT>(kStatusLink)) {
    DrawStatus(item);
  } else {
    DrawButton(item);
  }
}

INT_PTR Win32Window::OnCommand(WORD control, WORD code) {
  // The right-click menu's items and the shortcuts (code 0 and 1).
  if (code <= 1 && RunMenuCommand(control)) return TRUE;
  if (control == IDOK) {
    PressFocused();  // Enter never closes the window
    return TRUE;
  }
  if (control == IDCANCEL) {
    // Esc closes as the close box does, but not over a job: only Cancel stops one.
    if (!JobRunning()) dialog_->OnClose();
    return TRUE;
  }
  // Nothing is started while a box or chooser of the window is open (its own loop would run
  // the command under it).
  if (modal_ > 0 && control != kCancelButton) return TRUE;
  if (control == kPedalSelector) {
    if (code == CBN_SELCHANGE) OnSelectorChange(false);
    if (code == CBN_CLOSEUP) OnSelectorChange(true);
    return TRUE;
  }
  if (code != BN_CLICKED) return FALSE;
  switch (control) {
    case kExportButton:
      dialog_->OnExport();
      return TRUE;
    case kImportButton:
      dialog_->OnImport();
      return TRUE;
    case kCancelButton:
      dialog_->OnCancel();
      return TRUE;
    case kStatusLink:
      dialog_->OnStatusLink();
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR Win32Window::OnTimer(UINT_PTR id) {
  if (id == kSettleTimer) {
    DeliverSettled();
    return TRUE;
  }
  if (id == kScanTimer) {
    ReadNotices();
    return TRUE;
  }
  auto it = timers_.find(id);
  if (it == timers_.end()) return FALSE;
  KillTimer(hwnd_.load(), id);
  std::function<void()> call = std::move(it->second);
  timers_.erase(it);
  call();
  return TRUE;
}

void Win32Window::OnDropFiles(HDROP drop) {
  std::string path;
  if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    const UINT n = DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring wide(n + 1, L'\0');
    DragQueryFileW(drop, 0, wide.data(), n + 1);
    wide.resize(n);
    path = Narrow(wide);
  }
  DragFinish(drop);
  if (!path.empty() && modal_ == 0) dialog_->OnDropFile(path);
}

INT_PTR Win32Window::OnNotify(const NMHDR& header) {
  if (header.idFrom != static_cast<UINT_PTR>(kProgressBar) || header.code != NM_CUSTOMDRAW) {
    return FALSE;
  }
  SetWindowLongPtrW(hwnd_.load(), DWLP_MSGRESULT, CDRF_DODEFAULT);  // the bar draws itself
  return TRUE;
}

}  // namespace rendax
