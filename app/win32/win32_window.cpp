#include "app/win32/win32_window.h"

#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

namespace rendax {

namespace {

constexpr DWORD kChooserPathChars = 260;  // MAX_PATH, the chooser's file-name buffer

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
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

}  // namespace

std::wstring ChooserFilter(const std::string& filter) {
  std::wstring out = Widen(filter);
  for (wchar_t& c : out) {
    if (c == L'|') c = L'\0';
  }
  // The list ends with two NULs even when the text lacks its closing "||".
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

DeviceNotice NoticeFromDeviceChange(WPARAM wParam, LPARAM lParam) {
  if (wParam == DBT_DEVICEARRIVAL) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    return header != nullptr && header->dbch_devicetype == DBT_DEVTYP_VOLUME
               ? DeviceNotice::VolumeArrival
               : DeviceNotice::OtherArrival;
  }
  if (wParam == DBT_DEVICEREMOVECOMPLETE) return DeviceNotice::DeviceRemoval;
  return DeviceNotice::OtherDeviceChange;
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
  return calls;
}

Win32Window::Win32Window(HINSTANCE instance, ModalCalls calls)
    : instance_(instance),
      calls_(std::move(calls)),
      setPosMessage_(RegisterWindowMessageW(L"SetPos")),
      callMessage_(RegisterWindowMessageW(L"Rendax.RunOnWindowThread")) {}

Win32Window::~Win32Window() {
  dialog_ = nullptr;
  if (HWND hwnd = hwnd_.exchange(nullptr)) DestroyWindow(hwnd);
  FreeButtons();
  if (background_) DeleteObject(background_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
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
  windowThread_ = GetCurrentThreadId();
  // WM_INITDIALOG runs the dialog's start-up; the template's WS_VISIBLE shows the window after.
  HWND hwnd = CreateDialogParamW(instance_, MAKEINTRESOURCEW(kMainDialogTemplate), nullptr,
                                 DialogProc, reinterpret_cast<LPARAM>(this));
  if (hwnd == nullptr) return false;
  DragAcceptFiles(hwnd, TRUE);
  return true;
}

int Win32Window::RunModal(CSdkManager_MFCDlg& dialog) {
  if (!Open(dialog)) return -1;
  MSG msg;
  while (!ended_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    HWND hwnd = hwnd_.load();
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
  if (HWND hwnd = hwnd_.exchange(nullptr)) DestroyWindow(hwnd);
  PostThreadMessageW(windowThread_, WM_NULL, 0, 0);  // wakes the loop in RunModal
}

void Win32Window::AppendAboutItem(const std::string& text) {
  HMENU menu = GetSystemMenu(hwnd_.load(), FALSE);
  if (menu == nullptr) return;
  // String 101 names the item; the dialog's own text stands in if the resource is missing.
  const wchar_t* resource = nullptr;
  const int n = LoadStringW(instance_, kAboutMenuString, reinterpret_cast<LPWSTR>(&resource), 0);
  const std::wstring item = n > 0 ? std::wstring(resource, static_cast<size_t>(n)) : Widen(text);
  if (item.empty()) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutCommand, item.c_str());
}

void Win32Window::AppendRestoreItem(const std::string& text) {
  HMENU menu = GetSystemMenu(hwnd_.load(), FALSE);
  if (menu == nullptr) return;
  // A group of its own, before the About item's.
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kRestoreCommand, Widen(text).c_str());
}

void Win32Window::ShowAbout() {
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
  if (control == kRestoreItem) {
    EnableMenuItem(GetSystemMenu(hwnd_.load(), FALSE), kRestoreCommand,
                   MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
    return;
  }
  EnableWindow(GetDlgItem(hwnd_.load(), control), enable ? TRUE : FALSE);
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
    // Sized to the normal face, keeping its place.
    SetWindowPos(item, nullptr, 0, 0, normal.bmWidth, normal.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(item, nullptr, FALSE);
  }
}

void Win32Window::ShowMessage(const std::string& text, const std::string& detail) {
  std::wstring body = Widen(text);
  if (!detail.empty()) body += L"\n\n" + Widen(detail);
  calls_.messageBox(hwnd_.load(), body, Widen(kAppName), MB_OK);
}

bool Win32Window::AskYesNo(const std::string& text, const std::string& caption) {
  // No owner window: the firmware question comes before the main window is shown.
  return calls_.messageBox(nullptr, Widen(text), Widen(caption), MB_YESNO) == IDYES;
}

bool Win32Window::AskYesNoWithOption(const std::string& text, const std::string& caption,
                                     QuestionOption& option) {
  if (!AskYesNo(text, caption)) return false;
  // A message box has no check box: the option is a question of its own, its default button
  // the state it comes with.
  const UINT type = MB_YESNO | (option.checked ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
  option.checked =
      calls_.messageBox(nullptr, Widen(option.text + "?"), Widen(caption), type) == IDYES;
  return true;
}

std::optional<std::string> Win32Window::ChooseFile(const FileChooser& chooser) {
  const std::wstring filter = ChooserFilter(chooser.filter);
  const std::wstring extension = Widen(chooser.defaultExtension);
  std::vector<wchar_t> name(kChooserPathChars, L'\0');
  const std::wstring initial = Widen(chooser.initialName);
  if (initial.size() < name.size()) std::copy(initial.begin(), initial.end(), name.begin());

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = nullptr;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = kChooserPathChars;
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // NOCHANGEDIR: a relative simulator folder must keep meaning what it meant at start.
  ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  BOOL ok;
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
  const int width = 360, height = 48;
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

// Copies the part of the background picture, stretched over `client`, that lies under `target`.
void Win32Window::PaintBackground(HDC dc, const RECT& target, const RECT& client) {
  HBITMAP picture = Background();
  BITMAP bm{};
  const int cw = client.right - client.left, ch = client.bottom - client.top;
  if (!picture || !GetObjectW(picture, sizeof bm, &bm) || cw <= 0 || ch <= 0) {
    FillRect(dc, &target, GetSysColorBrush(COLOR_BTNFACE));
    return;
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, picture);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  const int sx = MulDiv(target.left - client.left, bm.bmWidth, cw);
  const int sy = MulDiv(target.top - client.top, bm.bmHeight, ch);
  const int sw = MulDiv(target.right - target.left, bm.bmWidth, cw);
  const int sh = MulDiv(target.bottom - target.top, bm.bmHeight, ch);
  StretchBlt(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
             memory, sx, sy, sw, sh, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
}

void Win32Window::Paint() {
  HWND hwnd = hwnd_.load();
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  if (IsIconic(hwnd)) {
    SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - cx + 1) / 2, (client.bottom - cy + 1) / 2, bigIcon_);
  } else {
    PaintBackground(dc, client, client);
  }
  EndPaint(hwnd, &ps);
}

Face Win32Window::DrawButton(const DRAWITEMSTRUCT& item) {
  const Face face =
      PickFace((item.itemState & ODS_SELECTED) != 0, (item.itemState & ODS_FOCUS) != 0,
               (item.itemState & ODS_DISABLED) == 0);
  const RECT r = item.rcItem;
  const int w = r.right - r.left, h = r.bottom - r.top;
  // Drawn off screen, then copied: the background under the button, then the face over it.
  HDC memory = CreateCompatibleDC(item.hDC);
  HBITMAP canvas = CreateCompatibleBitmap(item.hDC, w, h);
  HGDIOBJ oldCanvas = SelectObject(memory, canvas);

  HWND hwnd = hwnd_.load();
  RECT client{}, placed = r;
  GetClientRect(hwnd, &client);
  MapWindowPoints(item.hwndItem, hwnd, reinterpret_cast<POINT*>(&placed), 2);
  SetViewportOrgEx(memory, -placed.left, -placed.top, nullptr);
  PaintBackground(memory, placed, client);
  SetViewportOrgEx(memory, 0, 0, nullptr);

  auto found = buttons_.find(static_cast<int>(item.CtlID));
  if (found != buttons_.end()) {
    PictureButton& button = found->second;
    button.last = face;
    if (HBITMAP bitmap = button.faces[static_cast<int>(face)]) {
      BITMAP bm{};
      GetObjectW(bitmap, sizeof bm, &bm);
      HDC source = CreateCompatibleDC(item.hDC);
      HGDIOBJ oldSource = SelectObject(source, bitmap);
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      AlphaBlend(memory, 0, 0, bm.bmWidth, bm.bmHeight, source, 0, 0, bm.bmWidth, bm.bmHeight,
                 blend);
      SelectObject(source, oldSource);
      DeleteDC(source);
    }
  }
  BitBlt(item.hDC, r.left, r.top, w, h, memory, 0, 0, SRCCOPY);
  SelectObject(memory, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(memory);
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
      dialog_->OnInitDialog();
      return TRUE;  // the dialog manager gives the first enabled control the focus
    case WM_DEVICECHANGE:
      // Never consumed: the default answer (grant every query) stands.
      dialog_->OnDeviceChange(NoticeFromDeviceChange(wParam, lParam));
      return FALSE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kAboutCommand) {
        dialog_->OnAbout();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == kRestoreCommand) {
        dialog_->OnRestoreLastBackup();
        return TRUE;
      }
      return FALSE;
    case WM_ERASEBKGND:
      return TRUE;  // the paint covers the whole client area
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(smallIcon_ ? smallIcon_ : bigIcon_);
    case WM_DRAWITEM:
      DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kExportButton) {
        dialog_->OnExport();
        return TRUE;
      }
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kImportButton) {
        dialog_->OnImport();
        return TRUE;
      }
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        dialog_->OnClose();  // Enter and Esc end the dialog, as the close box does
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      dialog_->OnClose();
      return TRUE;
    case WM_TIMER: {
      auto it = timers_.find(wParam);
      if (it == timers_.end()) return FALSE;
      KillTimer(hwnd, wParam);
      std::function<void()> call = std::move(it->second);
      timers_.erase(it);
      call();
      return TRUE;
    }
    case WM_DROPFILES: {
      HDROP drop = reinterpret_cast<HDROP>(wParam);
      std::string path;
      if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
        const UINT n = DragQueryFileW(drop, 0, nullptr, 0);
        std::wstring wide(n + 1, L'\0');
        DragQueryFileW(drop, 0, wide.data(), n + 1);
        wide.resize(n);
        path = Narrow(wide);
      }
      DragFinish(drop);
      if (!path.empty()) dialog_->OnDropFile(path);
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == static_cast<UINT_PTR>(kProgressBar) && header->code == NM_CUSTOMDRAW) {
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, CDRF_DODEFAULT);  // the bar draws itself
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace rendax
