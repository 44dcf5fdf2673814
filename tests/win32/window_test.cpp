// The native window layer under wine: the dialog made from the resources, its controls and
// menu, the picture buttons' faces, "SetPos" from another thread, device notices, the choosers
// and questions (answered by a recorder instead of a person), and closing.
#include "app/win32/win32_window.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dbt.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/about.h"
#include "device/platform/sim/sim_pedal.h"
#include "rendax_version.h"
#include "tests/app/wav_file.h"

namespace rendax {
namespace {

namespace fs = std::filesystem;

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::wstring Text(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetWindowTextW(hwnd, buffer, 256);
  return buffer;
}

// What the window asked of the modal calls, and the answers they give.
struct Recorder {
  std::vector<OPENFILENAMEW> saves, opens;
  std::vector<std::wstring> filters, initialNames, extensions;
  std::wstring chosen;  // empty: the chooser is cancelled
  struct Box {
    HWND owner;
    std::wstring text, caption;
    UINT type;
  };
  std::vector<Box> boxes;
  int answer = IDYES;
  int abouts = 0;

  ModalCalls Calls() {
    ModalCalls c;
    auto chooser = [this](std::vector<OPENFILENAMEW>& log) {
      return [this, &log](OPENFILENAMEW& ofn) -> BOOL {
        log.push_back(ofn);
        const wchar_t* f = ofn.lpstrFilter;
        std::wstring filter;
        while (*f) {  // up to the double NUL
          filter += f;
          filter += L'|';
          f += wcslen(f) + 1;
        }
        filters.push_back(filter);
        initialNames.push_back(ofn.lpstrFile);
        extensions.push_back(ofn.lpstrDefExt ? ofn.lpstrDefExt : L"");
        if (chosen.empty()) return FALSE;
        wcsncpy(ofn.lpstrFile, chosen.c_str(), ofn.nMaxFile);
        return TRUE;
      };
    };
    c.getSaveFileName = chooser(saves);
    c.getOpenFileName = chooser(opens);
    c.messageBox = [this](HWND owner, const std::wstring& text, const std::wstring& caption,
                          UINT type) {
      boxes.push_back({owner, text, caption, type});
      return answer;
    };
    c.runAbout = [this](HINSTANCE, HWND) { ++abouts; };
    return c;
  }
};

// A window over a simulator folder, with no worker: job codes stay where the buttons put them.
class WindowRig {
 public:
  explicit WindowRig(bool pedal) {
    root_ = fs::temp_directory_path() / ("rendax-win32-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_);
    // The restore item looks here, never in the real backups.
    _wputenv_s(L"RENDAX_BACKUP_DIR", (root_ / "backups").wstring().c_str());
    if (pedal) AttachPedal();
    platform_ = std::make_unique<SimulatorPlatform>(root_.string());
    window_ = std::make_unique<Win32Window>(GetModuleHandleW(nullptr), recorder_.Calls());
    dialog_ = std::make_unique<CSdkManager_MFCDlg>(*window_, *platform_,
                                                   [](auto&...) { return nullptr; });
    opened_ = window_->Open(*dialog_);
    Pump();
  }
  ~WindowRig() {
    if (!dialog_->Closed()) dialog_->OnClose();
    dialog_.reset();
    window_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void AttachPedal() {
    std::string error;
    ASSERT_TRUE(CreateSimulatedPedal((root_ / "pedal0").string(), 0, 8, error)) << error;
  }
  void DetachPedal() { fs::remove_all(root_ / "pedal0"); }

  HWND Hwnd() const { return window_->Handle(); }
  HWND Item(int id) const { return GetDlgItem(Hwnd(), id); }
  void Click(int id) {
    SendMessageW(Hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  void DeviceChange(WPARAM event, DWORD deviceType) {
    DEV_BROADCAST_HDR header{sizeof header, deviceType, 0};
    SendMessageW(Hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
    Pump();
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != 0; }
  const fs::path& Root() const { return root_; }

  Recorder recorder_;
  std::unique_ptr<SimulatorPlatform> platform_;
  std::unique_ptr<Win32Window> window_;
  std::unique_ptr<CSdkManager_MFCDlg> dialog_;
  bool opened_ = false;

 private:
  fs::path root_;
  static inline int counter_ = 0;
};

TEST(Win32Window, BuildsTheMainDialogFromItsResources) {
  WindowRig rig(true);
  ASSERT_TRUE(rig.opened_);
  HWND hwnd = rig.Hwnd();
  EXPECT_EQ(Text(hwnd), L"Rendax");
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);

  // Picture buttons: owner-drawn, sized to the normal face (87 x 89), enabled by a usable pedal.
  for (int id : {kExportButton, kImportButton}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(GetWindowLongPtrW(rig.Item(id), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    RECT r{};
    GetClientRect(rig.Item(id), &r);
    EXPECT_EQ(r.right, 87);
    EXPECT_EQ(r.bottom, 89);
    EXPECT_TRUE(rig.Enabled(id));
  }
  wchar_t cls[64] = {};
  GetClassNameW(rig.Item(kProgressBar), cls, 64);
  EXPECT_STREQ(cls, PROGRESS_CLASSW);
  EXPECT_TRUE(GetWindowLongPtrW(rig.Item(kProgressBar), GWL_STYLE) & PBS_SMOOTH);
  PBRANGE range{};
  SendMessageW(rig.Item(kProgressBar), PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  EXPECT_EQ(SendMessageW(rig.Item(kProgressBar), PBM_GETPOS, 0, 0), 0);

  // The About item closes the system menu, after a separator, with string 101's text.
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), kAboutCommand);
  wchar_t item[64] = {};
  GetMenuStringW(menu, count - 1, item, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(item), Widen(kAboutMenuText));
  MENUITEMINFOW separator{};
  separator.cbSize = sizeof separator;
  separator.fMask = MIIM_FTYPE;
  GetMenuItemInfoW(menu, count - 2, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
  // Before it, in a group of its own, the restore item, usable with the buttons.
  ASSERT_GE(count, 4);
  EXPECT_EQ(GetMenuItemID(menu, count - 3), kRestoreCommand);
  GetMenuStringW(menu, count - 3, item, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(item), Widen(kRestoreMenuText));
  EXPECT_FALSE(GetMenuState(menu, kRestoreCommand, MF_BYCOMMAND) & MF_GRAYED);
  GetMenuItemInfoW(menu, count - 4, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);

  EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0);

  // The About item opens the About box; other system commands are the system's.
  SendMessageW(hwnd, WM_SYSCOMMAND, kAboutCommand, 0);
  EXPECT_EQ(rig.recorder_.abouts, 1);
  // The restore item reaches the dialog: nothing is saved yet, and it says so.
  SendMessageW(hwnd, WM_SYSCOMMAND, kRestoreCommand, 0);
  ASSERT_FALSE(rig.recorder_.boxes.empty());
  EXPECT_EQ(rig.recorder_.boxes.back().text.rfind(Widen(kNoBackupYet) + L"\n\n", 0), 0u);
  EXPECT_EQ(rig.dialog_->JobCode(), JobNone);
}

TEST(Win32Window, ResourcesCarryTheAboutBoxManifestAndVersion) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  HWND about =
      CreateDialogParamW(self, MAKEINTRESOURCEW(kAboutDialogTemplate), nullptr, nullptr, 0);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Text(about), Widen(CAboutDlg::kCaption));
  EXPECT_EQ(Text(GetDlgItem(about, 1003)), Widen(CAboutDlg::kProduct));
  EXPECT_EQ(Text(GetDlgItem(about, 1004)), Widen(CAboutDlg::kDescription));
  EXPECT_EQ(Text(GetDlgItem(about, IDOK)), Widen(CAboutDlg::kOk));
  DestroyWindow(about);

  HRSRC manifest = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char*>(LockResource(LoadResource(self, manifest))),
                         SizeofResource(self, manifest));
  EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);

  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::vector<uint8_t> info(GetFileVersionInfoSizeW(path, nullptr));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  // The record carries the project's version, the same four numbers as --version and About.
  const DWORD ms = (RENDAX_VERSION_MAJOR << 16) | RENDAX_VERSION_MINOR;
  const DWORD ls = (RENDAX_VERSION_PATCH << 16) | RENDAX_VERSION_TWEAK;
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &size));
  EXPECT_EQ(translation[0], 0x0804) << "Chinese (Simplified, PRC)";
  EXPECT_EQ(translation[1], 936);
}

TEST(Win32Window, ButtonsDrawTheFaceOfTheirState) {
  WindowRig rig(true);
  // One pixel where the four faces of a button differ, with its colour in each face.
  struct Probe {
    int control, x, y;
    COLORREF colours[4];  // by Face: normal, pressed, focused, disabled
  };
  const Probe probes[] = {
      {kExportButton,
       80,
       22,
       {RGB(248, 204, 56), RGB(224, 176, 0), RGB(251, 228, 149), RGB(223, 223, 223)}},
      {kImportButton,
       25,
       63,
       {RGB(138, 163, 135), RGB(31, 48, 29), RGB(91, 114, 88), RGB(212, 212, 212)}},
  };
  struct State {
    UINT itemState;
    Face face;
  };
  const State states[] = {{0, Face::Normal},
                          {ODS_SELECTED | ODS_FOCUS, Face::Pressed},
                          {ODS_FOCUS, Face::Focused},
                          {ODS_DISABLED, Face::Disabled}};
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 87;
  bi.bmiHeader.biHeight = -89;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP canvas = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, canvas);
  for (const Probe& p : probes) {
    for (const State& s : states) {
      SCOPED_TRACE(::testing::Message() << p.control << " state " << s.itemState);
      DRAWITEMSTRUCT item{};
      item.CtlType = ODT_BUTTON;
      item.CtlID = p.control;
      item.itemAction = ODA_DRAWENTIRE;
      item.itemState = s.itemState;
      item.hwndItem = rig.Item(p.control);
      item.hDC = dc;
      item.rcItem = {0, 0, 87, 89};
      EXPECT_EQ(rig.window_->DrawButton(item), s.face);
      const COLORREF got = GetPixel(dc, p.x, p.y);
      const COLORREF want = p.colours[static_cast<int>(s.face)];
      EXPECT_NEAR(GetRValue(got), GetRValue(want), 3);
      EXPECT_NEAR(GetGValue(got), GetGValue(want), 3);
      EXPECT_NEAR(GetBValue(got), GetBValue(want), 3);
    }
  }
  // Transparent corners show the background picture, not black.
  DRAWITEMSTRUCT item{ODT_BUTTON, static_cast<UINT>(kExportButton), 0,  ODA_DRAWENTIRE,
                      0,          rig.Item(kExportButton),          dc, {0, 0, 87, 89},
                      0};
  rig.window_->DrawButton(item);
  const COLORREF corner = GetPixel(dc, 0, 0);
  EXPECT_GT(GetRValue(corner) + GetGValue(corner) + GetBValue(corner), 0);
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

TEST(Win32Window, SetPosIsARegisteredMessageSentFromAnotherThread) {
  WindowRig rig(true);
  EXPECT_EQ(rig.window_->SetPosMessage(), RegisterWindowMessageW(L"SetPos"));
  HWND hwnd = rig.Hwnd();
  HWND bar = rig.Item(kProgressBar);
  std::atomic<bool> done{false};
  LRESULT seenAfterSend = -1;
  DWORD ranOn = 0;
  std::thread worker([&] {
    SendMessageW(hwnd, RegisterWindowMessageW(L"SetPos"), 0, 37);
    // Synchronous: the bar has moved by the time the send returns.
    seenAfterSend = SendMessageW(bar, PBM_GETPOS, 0, 0);
    // The worker's window operations run on the window thread.
    rig.window_->SendToWindow([&] { ranOn = GetCurrentThreadId(); });
    done = true;
  });
  // Pumping is what lets the worker's sends finish; 30 s of it without them is a failure.
  for (int i = 0; i < 3000 && !done; ++i) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  EXPECT_TRUE(done) << "the worker's sends were not served within 30 s";
  worker.join();
  EXPECT_EQ(seenAfterSend, 37);
  EXPECT_EQ(ranOn, GetCurrentThreadId());
  SendMessageW(hwnd, RegisterWindowMessageW(L"SetPos"), 0, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
}

TEST(Win32Window, DeviceNoticesEnableAndDisableTheButtons) {
  // Only a volume's arrival and a removal count.
  DEV_BROADCAST_HDR volume{sizeof volume, DBT_DEVTYP_VOLUME, 0};
  DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0};
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
            DeviceNotice::VolumeArrival);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port)),
            DeviceNotice::OtherArrival);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0), DeviceNotice::DeviceRemoval);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_CONFIGCHANGED, 0), DeviceNotice::OtherDeviceChange);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVNODES_CHANGED, 0), DeviceNotice::OtherDeviceChange);

  WindowRig rig(false);
  EXPECT_FALSE(rig.Enabled(kExportButton));
  EXPECT_FALSE(rig.Enabled(kImportButton));
  rig.DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME);
  EXPECT_FALSE(rig.Enabled(kExportButton));

  rig.AttachPedal();
  rig.DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
  EXPECT_FALSE(rig.Enabled(kExportButton)) << "not a volume: nothing is looked for";
  rig.DeviceChange(DBT_CONFIGCHANGED, 0);
  EXPECT_FALSE(rig.Enabled(kExportButton));
  rig.DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
  EXPECT_TRUE(rig.Enabled(kExportButton));
  EXPECT_TRUE(rig.Enabled(kImportButton));
  EXPECT_FALSE(rig.dialog_->PedalPath().empty());

  rig.DetachPedal();
  rig.DeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME);
  EXPECT_FALSE(rig.Enabled(kExportButton));
  EXPECT_FALSE(rig.Enabled(kImportButton));
  EXPECT_TRUE(rig.dialog_->PedalPath().empty());
}

TEST(Win32Window, ButtonsAskForAFileThenStoreTheJob) {
  WindowRig rig(true);
  Recorder& r = rig.recorder_;

  // Export: the save chooser proposes "Rendax" with the .wav extension and asks before it
  // replaces a file.
  r.chosen.clear();
  rig.Click(kExportButton);
  ASSERT_EQ(r.saves.size(), 1u);
  EXPECT_EQ(r.filters.back(), L"WAVE Files (*.wav))|*.wav|");
  EXPECT_EQ(r.initialNames.back(), L"Rendax");
  EXPECT_EQ(r.extensions.back(), L"wav");
  EXPECT_EQ(r.saves[0].nMaxFile, 260u);
  EXPECT_EQ(r.saves[0].hwndOwner, nullptr);
  EXPECT_TRUE(r.saves[0].Flags & OFN_PATHMUSTEXIST);
  EXPECT_TRUE(r.saves[0].Flags & OFN_OVERWRITEPROMPT);
  EXPECT_EQ(rig.dialog_->JobCode(), JobNone) << "cancelled: nothing changes";
  r.chosen = L"C:\\loops\\Rendax.wav";
  rig.Click(kExportButton);
  EXPECT_EQ(rig.dialog_->ExportPath(), "C:\\loops\\Rendax.wav");
  EXPECT_EQ(rig.dialog_->JobCode(), JobExport);

  // Import: the warning first, without owner, captioned " ", Yes and No.
  r.answer = IDNO;
  rig.Click(kImportButton);
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].owner, nullptr);
  EXPECT_EQ(r.boxes[0].caption, L" ");
  EXPECT_EQ(r.boxes[0].type, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(r.boxes[0].text, Widen(kImportWarning));
  EXPECT_TRUE(r.opens.empty()) << "No: no chooser";
  r.answer = IDYES;
  r.chosen = testing::WriteRampWav(rig.Root() / L"\u00fcber.wav", 48000, 16, 1).wstring();
  rig.Click(kImportButton);
  ASSERT_EQ(r.opens.size(), 1u);
  EXPECT_EQ(r.filters.back(),
            L"WAVE Files (*.wav))|*.wav|Audio files|"
            L"*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff;*.aifc;*.rf64;*.w64|");
  EXPECT_EQ(r.extensions.back(), L"");
  EXPECT_TRUE(r.opens[0].Flags & OFN_HIDEREADONLY);
  EXPECT_EQ(rig.dialog_->ImportPath(), Narrow(r.chosen)) << "UTF-8 inside";
  EXPECT_NE(rig.dialog_->ImportPath().find("\xc3\xbc"
                                           "ber.wav"),
            std::string::npos);
  EXPECT_EQ(rig.dialog_->JobCode(), JobImport);

  // A stereo file for the one-channel pedal: a message box has no check box, so summing both
  // channels is a question of its own, after Yes; No is its default.
  WindowRig stereo(true);
  Recorder& s = stereo.recorder_;
  s.chosen = testing::WriteRampWav(stereo.Root() / "stereo.wav", 48000, 16, 2).wstring();
  stereo.Click(kImportButton);
  ASSERT_EQ(s.boxes.size(), 3u);
  EXPECT_EQ(s.boxes[2].text, Widen(std::string(kSumChannelsOption) + "?"));
  EXPECT_EQ(s.boxes[2].type, static_cast<UINT>(MB_YESNO | MB_DEFBUTTON2));
  EXPECT_TRUE(stereo.dialog_->Mix());

  // A message of the worker: owned by the window, captioned with the program's name, OK only.
  rig.window_->ShowMessage("Receive Complete", "");
  EXPECT_EQ(r.boxes.back().owner, rig.Hwnd());
  EXPECT_EQ(r.boxes.back().caption, L"Rendax");
  EXPECT_EQ(r.boxes.back().type, static_cast<UINT>(MB_OK));
}

TEST(Win32Window, CloseBoxAndEscEndTheDialog) {
  for (UINT how : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_COMMAND)}) {
    WindowRig rig(true);
    HWND hwnd = rig.Hwnd();
    if (how == WM_CLOSE) {
      SendMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
      SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    EXPECT_TRUE(rig.dialog_->Closed());
    EXPECT_EQ(rig.dialog_->Device(), nullptr) << "the device object is freed";
    EXPECT_TRUE(rig.window_->Ended());
    EXPECT_FALSE(IsWindow(hwnd));
  }
}

}  // namespace
}  // namespace rendax
