// SPDX-License-Identifier: GPL-3.0-or-later
// The native window layer under wine: the dialog made from the resources, its controls and
// menu, the picture buttons' faces, "SetPos" from another thread, device notices and their
// settling, the strip with the status line and selector, Cancel, the verify item, the loop around
// the disc, the choosers and questions (answered by a recorder instead of a person), and closing.
#include "app/win32/win32_window.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dbt.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "app/about.h"
#include "app/win32/single_instance.h"
#include "audio/sample_pages.h"
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
  struct Question {
    HWND owner;
    std::wstring text, caption, check;
    TASKDIALOG_FLAGS flags;
    TASKDIALOG_COMMON_BUTTON_FLAGS buttons;
    int defaultButton;
    std::wstring expanded;  // what "See details" shows
  };
  std::vector<Question> questions;      // the task dialogs
  int answer = IDYES;                   // of message boxes and task dialogs
  std::function<void()> whileChoosing;  // what happens while a chooser is open
  bool tick = false;                    // a task dialog's check box is left ticked
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
        if (whileChoosing) whileChoosing();
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
    c.taskDialog = [this](const TASKDIALOGCONFIG& config, int* button, BOOL* checked) {
      questions.push_back({config.hwndParent, config.pszContent, config.pszWindowTitle,
                           config.pszVerificationText ? config.pszVerificationText : L"",
                           config.dwFlags, config.dwCommonButtons, config.nDefaultButton,
                           config.pszExpandedInformation ? config.pszExpandedInformation : L""});
      *button = answer;
      *checked = tick;
      return S_OK;
    };
    return c;
  }
};

// The simulator, counting the searches for pedals.
class CountingPlatform : public SimulatorPlatform {
 public:
  using SimulatorPlatform::SimulatorPlatform;
  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override {
    ++searches;
    return SimulatorPlatform::ListCandidates(paths, error);
  }
  int searches = 0;
};

// A window over a simulator folder, with no worker: job codes stay where the buttons put them.
// Its clock moves only when the test moves it. `pedals`: none, a Rendax, or a Rendax and a Rendax
// Twin; a Rendax with other firmware than 8 has the update declined.
class WindowRig {
 public:
  // `openWith`: the file the program was opened with.
  explicit WindowRig(int pedals, uint16_t firmware = 8, const std::string& openWith = "") {
    if (firmware != 8) recorder_.answer = IDNO;
    root_ = fs::temp_directory_path() / ("rendax-win32-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_);
    // The restore item looks here, never in the real backups.
    _wputenv_s(L"RENDAX_BACKUP_DIR", (root_ / "backups").wstring().c_str());
    if (pedals > 0) AttachPedal("pedal0", 0, firmware);
    if (pedals > 1) AttachPedal("pedal1", 1);
    platform_ = std::make_unique<CountingPlatform>(root_.string());
    window_ = std::make_unique<Win32Window>(GetModuleHandleW(nullptr), recorder_.Calls(),
                                            [this] { return now_; });
    dialog_ = std::make_unique<CSdkManager_MFCDlg>(*window_, *platform_,
                                                   [](auto&...) { return nullptr; });
    // The system's notices, as the program reads them; the simulator's own scan would race the
    // test's clock.
    std::string error;
    window_->Watch(NativePlatform().WatchNotices(error));
    if (!openWith.empty()) window_->OpenWhenShown(openWith);
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

  void AttachPedal(const char* name = "pedal0", uint8_t model = 0, uint16_t firmware = 8) {
    std::string error;
    ASSERT_TRUE(CreateSimulatedPedal((root_ / name).string(), model, firmware, error)) << error;
    // A page of loop: a pedal that holds none has nothing to export, and Export stays off.
    const std::vector<uint8_t> page(PageLayoutFor(ModelInfo(model).channels).pageBytes);
    ASSERT_TRUE(
        WriteSimulatedLoop((root_ / name).string(), page, {0, uint32_t(page.size())}, error));
  }
  void DetachPedal() { fs::remove_all(root_ / "pedal0"); }

  HWND Hwnd() const { return window_->Handle(); }
  HWND Item(int id) const { return GetDlgItem(Hwnd(), id); }
  void Click(int id) {
    SendMessageW(Hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  void Notice(WPARAM event, DWORD deviceType) {
    DEV_BROADCAST_HDR header{sizeof header, deviceType, 0};
    SendMessageW(Hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
  }
  // The settling time passes and its timer goes off.
  void Settle() {
    now_ += NoticeSettler::kSettle;
    SendMessageW(Hwnd(), WM_TIMER, kSettleTimer, 0);
    Pump();
  }
  void DeviceChange(WPARAM event, DWORD deviceType) {
    Notice(event, deviceType);
    Settle();
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != 0; }
  const fs::path& Root() const { return root_; }

  Recorder recorder_;
  std::chrono::steady_clock::time_point now_{};
  std::unique_ptr<CountingPlatform> platform_;
  std::unique_ptr<Win32Window> window_;
  std::unique_ptr<CSdkManager_MFCDlg> dialog_;
  bool opened_ = false;

 private:
  fs::path root_;
  static inline int counter_ = 0;
};

TEST(Win32Window, BuildsTheMainDialogFromItsResources) {
  WindowRig rig(1);
  ASSERT_TRUE(rig.opened_);
  HWND hwnd = rig.Hwnd();
  EXPECT_EQ(Text(hwnd), L"Rendax");
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  EXPECT_FALSE(GetMenuState(GetSystemMenu(hwnd, FALSE), SC_MINIMIZE, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(FindWindowW(kWindowClass, nullptr), hwnd) << "found by its class";

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
  EXPECT_EQ(std::wstring(item), Widen(ForLocale(kAboutMenuText, rig.window_->LocaleName())));
  MENUITEMINFOW separator{};
  separator.cbSize = sizeof separator;
  separator.fMask = MIIM_FTYPE;
  GetMenuItemInfoW(menu, count - 2, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
  // Before it, in a group of their own, the verify item (checked) and the restore item, usable
  // with the buttons.
  ASSERT_GE(count, 5);
  EXPECT_EQ(GetMenuItemID(menu, count - 3), kRestoreCommand);
  GetMenuStringW(menu, count - 3, item, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(item), Widen(kRestoreMenuText));
  EXPECT_FALSE(GetMenuState(menu, kRestoreCommand, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(GetMenuItemID(menu, count - 4), kVerifyCommand);
  GetMenuStringW(menu, count - 4, item, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(item), Widen(kVerifyMenuText));
  EXPECT_TRUE(GetMenuState(menu, kVerifyCommand, MF_BYCOMMAND) & MF_CHECKED);
  GetMenuItemInfoW(menu, count - 5, TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);

  // The picture keeps its 460 x 306 with the strip below it, and the controls their pixels.
  RECT client{};
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 460);
  EXPECT_GE(client.bottom, 306 + WindowGeometry::kMinStripHeight);
  auto placed = [&](int id) {
    RECT r{};
    GetWindowRect(rig.Item(id), &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT bar = placed(kProgressBar), cancel = placed(kCancelButton);
  EXPECT_EQ(std::vector<LONG>({bar.left, bar.top, bar.right, bar.bottom}),
            std::vector<LONG>({12, 272, 327, 291}));
  EXPECT_EQ(std::vector<LONG>({cancel.left, cancel.top, cancel.right, cancel.bottom}),
            std::vector<LONG>({341, 269, 448, 294}));

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
  // The Chinese texts; the window gives the box those of the user's language.
  EXPECT_EQ(Text(about), Widen(kAboutCaption.chinese));
  EXPECT_EQ(Text(GetDlgItem(about, kAboutProductText)), Widen(CAboutDlg::Product("zh")));
  EXPECT_EQ(Text(GetDlgItem(about, kAboutDescriptionText)), Widen(kAboutDescription.chinese));
  EXPECT_EQ(Text(GetDlgItem(about, IDOK)), Widen(kAboutOk.chinese));
  EXPECT_EQ(Text(GetDlgItem(about, kAboutLicencesButton)), Widen(kAboutLicences.chinese));
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
  WindowRig rig(1);
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
  WindowRig rig(1);
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
  WindowRig rig(0);
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

  // One plug-in comes as several notices: nothing is looked for until they have settled, and
  // then as often as for a single one.
  rig.AttachPedal();
  int searches = rig.platform_->searches;
  rig.DeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
  const int single = rig.platform_->searches - searches;
  EXPECT_GT(single, 0);
  searches = rig.platform_->searches;
  for (int i = 0; i < 3; ++i) rig.Notice(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME);
  Pump();
  EXPECT_EQ(rig.platform_->searches, searches) << "looked for before the notices settled";
  rig.Settle();
  EXPECT_EQ(rig.platform_->searches - searches, single);
}

TEST(Win32Window, StripShowsTheStatusLineAndTheSelector) {
  WindowRig rig(1);
  HWND status = rig.Item(kStatusText), link = rig.Item(kStatusLink);
  HWND selector = rig.Item(kPedalSelector);
  const std::string longText(200, 'x');
  struct Row {
    StatusLine line;
    std::vector<std::string> labels;
    int selected;
  };
  const Row rows[] = {
      {{"Rendax \u00b7 firmware 8 \u00b7 no loop", ""}, {"Rendax"}, 0},
      {{"Firmware 7 needs updating \u2014", "Update..."}, {"Rendax", "Rendax Twin"}, 1},
      {{longText, "Try again"}, {"Rendax", "Rendax Twin", "Rendax Mini"}, 2},
      {{"Plug in a Rendax pedal", ""}, {}, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line.text.substr(0, 40));
    rig.window_->SetStatus(row.line);
    rig.window_->SetPedalChoices(row.labels, row.selected);
    EXPECT_EQ(Text(status), Widen(row.line.text));
    EXPECT_EQ(IsWindowVisible(link) != 0, !row.line.link.empty());
    EXPECT_EQ(Text(link), Widen(row.line.link));
    EXPECT_EQ(IsWindowVisible(selector) != 0, row.labels.size() >= 2);
    EXPECT_EQ(SendMessageW(selector, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(row.labels.size()));
    EXPECT_EQ(SendMessageW(selector, CB_GETCURSEL, 0, 0), row.selected);
    // Side by side in the strip, in that order, the text cut short rather than overlapping.
    RECT client{}, s{}, l{}, c{};
    GetClientRect(rig.Hwnd(), &client);
    GetWindowRect(status, &s);
    GetWindowRect(link, &l);
    GetWindowRect(selector, &c);
    for (RECT* r : {&s, &l, &c})
      MapWindowPoints(nullptr, rig.Hwnd(), reinterpret_cast<POINT*>(r), 2);
    EXPECT_GE(s.top, 306);
    if (IsWindowVisible(link)) {
      EXPECT_GE(l.left, s.right);
    }
    const LONG end = IsWindowVisible(link) ? l.right : s.right;
    EXPECT_LE(end, IsWindowVisible(selector) ? c.left : client.right);
    EXPECT_LE(c.right, client.right);
  }

  // Tab goes Import, Export, link, selector, Cancel, and round.
  rig.window_->SetStatus({"Firmware 7 needs updating \u2014", "Update..."});
  rig.window_->SetPedalChoices({"Rendax", "Rendax Twin"}, 0);
  rig.window_->ShowCancel(true);
  const int order[] = {kImportButton,  kExportButton, kStatusLink,
                       kPedalSelector, kCancelButton, kImportButton};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(rig.Hwnd(), rig.Item(order[i]), FALSE), rig.Item(order[i + 1]))
        << "after " << order[i];
  }
}

TEST(Win32Window, StripCancelAndVerifyReachTheDialog) {
  // The link: a pedal whose firmware update was declined offers it again.
  {
    WindowRig rig(1, 7);
    ASSERT_TRUE(IsWindowVisible(rig.Item(kStatusLink)));
    const size_t asked = rig.recorder_.boxes.size();
    rig.Click(kStatusLink);
    EXPECT_EQ(rig.recorder_.boxes.size(), asked + 1) << "the update is offered again";
  }
  // The selector: two pedals; the user's choice is taken, the layer's own selection is not.
  {
    WindowRig rig(2);
    HWND selector = rig.Item(kPedalSelector);
    ASSERT_TRUE(IsWindowVisible(selector));
    RECT box{};
    GetWindowRect(selector, &box);
    MapWindowPoints(nullptr, rig.Hwnd(), reinterpret_cast<POINT*>(&box), 2);
    EXPECT_GE(box.top, 306) << "in the strip from the start";
    const int chosen = static_cast<int>(SendMessageW(selector, CB_GETCURSEL, 0, 0));
    const std::string path = rig.dialog_->PedalPath();
    rig.window_->SetPedalChoices({"one", "two"}, 1 - chosen);
    EXPECT_EQ(rig.dialog_->PedalPath(), path);
    rig.window_->SetPedalChoices({"one", "two"}, chosen);
    SendMessageW(selector, CB_SETCURSEL, 1 - chosen, 0);
    SendMessageW(rig.Hwnd(), WM_COMMAND, MAKEWPARAM(kPedalSelector, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(selector));
    EXPECT_NE(rig.dialog_->PedalPath(), path);
  }
  // Cancel: shown with a job and given the keyboard; pressed, it stops the job and hides, and
  // the keyboard goes back where it was.
  {
    WindowRig rig(1);
    HWND cancel = rig.Item(kCancelButton);
    EXPECT_FALSE(IsWindowVisible(cancel));
    SendMessageW(rig.Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(rig.Item(kImportButton)),
                 TRUE);
    rig.recorder_.chosen = L"C:\\loops\\Rendax.wav";
    rig.Click(kExportButton);
    EXPECT_TRUE(IsWindowVisible(cancel));
    EXPECT_TRUE(IsWindowEnabled(cancel));
    EXPECT_EQ(GetFocus(), cancel);
    rig.Click(kCancelButton);
    EXPECT_FALSE(IsWindowVisible(cancel));
    EXPECT_EQ(GetFocus(), rig.Item(kImportButton));
  }
  // The verify item: its mark is the dialog's setting.
  {
    WindowRig rig(1);
    HMENU menu = GetSystemMenu(rig.Hwnd(), FALSE);
    for (bool expected : {false, true}) {
      SendMessageW(rig.Hwnd(), WM_SYSCOMMAND, kVerifyCommand, 0);
      EXPECT_EQ(rig.dialog_->Verify(), expected);
      EXPECT_EQ((GetMenuState(menu, kVerifyCommand, MF_BYCOMMAND) & MF_CHECKED) != 0, expected);
    }
  }
}

TEST(Win32Window, LoopIsDrawnAroundTheDisc) {
  WindowRig rig(1);
  // A pixel on the ring's outer half, straight above the centre, where the picture has a stroke.
  const int x = 360, y = 62;
  auto gold = [&] {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 460, 306);
    HGDIOBJ old = SelectObject(dc, canvas);
    SendMessageW(rig.Hwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    const COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return GetRValue(c) > GetBValue(c) + 40;
  };
  LoopOutline silent, loud;
  silent.low.assign(360, 0.0f);
  silent.high.assign(360, 0.0f);
  loud.low.assign(360, -1.0f);
  loud.high.assign(360, 1.0f);
  const struct {
    const char* what;
    const LoopOutline* outline;
    bool gold;
  } rows[] = {{"no loop: the picture", nullptr, true},
              {"a silent loop: its thin ring alone, the picture's strokes gone", &silent, false},
              {"a loud loop", &loud, true},
              {"no loop again: the picture", nullptr, true}};
  for (const auto& row : rows) {
    rig.window_->ShowLoopOutline(row.outline ? *row.outline : LoopOutline{});
    EXPECT_EQ(gold(), row.gold) << row.what;
  }
}

TEST(Win32Window, ButtonsAskForAFileThenStoreTheJob) {
  WindowRig rig(1);
  Recorder& r = rig.recorder_;

  // Export: the save chooser proposes "Rendax" with the .wav extension and asks before it
  // replaces a file.
  r.chosen.clear();
  rig.Click(kExportButton);
  ASSERT_EQ(r.saves.size(), 1u);
  EXPECT_EQ(r.filters.back(), L"WAVE Files (*.wav)|*.wav|") << "its patterns named once";
  EXPECT_EQ(r.initialNames.back(), L"Rendax");
  EXPECT_EQ(r.extensions.back(), L"wav");
  EXPECT_EQ(r.saves[0].nMaxFile, 260u);
  EXPECT_EQ(r.saves[0].hwndOwner, rig.Hwnd());
  EXPECT_TRUE(r.saves[0].Flags & OFN_PATHMUSTEXIST);
  EXPECT_TRUE(r.saves[0].Flags & OFN_OVERWRITEPROMPT);
  EXPECT_EQ(rig.dialog_->JobCode(), JobNone) << "cancelled: nothing changes";
  r.chosen = L"C:\\loops\\Rendax.wav";
  // While the chooser is open nothing else starts: the export it confirms is the one stored.
  r.whileChoosing = [&] {
    rig.Click(kImportButton);
    SendMessageW(rig.Hwnd(), WM_COMMAND, MAKEWPARAM(kRestoreCommand, 1), 0);
  };
  rig.Click(kExportButton);
  r.whileChoosing = nullptr;
  EXPECT_TRUE(r.questions.empty()) << "the import was set up under the chooser";
  EXPECT_TRUE(r.boxes.empty()) << "the restore was started under the chooser";
  EXPECT_EQ(rig.dialog_->ExportPath(), "C:\\loops\\Rendax.wav");
  EXPECT_EQ(rig.dialog_->JobCode(), JobExport);

  // Import: the warning first, owned by the window, captioned with the program's name, Yes and
  // No with No the default; Esc (the task dialog's cancel) answers No.
  r.answer = IDCANCEL;
  rig.Click(kImportButton);
  ASSERT_EQ(r.questions.size(), 1u);
  const Recorder::Question& warning = r.questions[0];
  EXPECT_EQ(warning.owner, rig.Hwnd());
  EXPECT_EQ(warning.caption, L"Rendax");
  EXPECT_EQ(warning.text,
            Widen(ReplaceWarning(PedalName(rig.dialog_->Model(), rig.dialog_->PedalPath()))));
  EXPECT_EQ(warning.buttons, TDCBF_YES_BUTTON | TDCBF_NO_BUTTON);
  EXPECT_EQ(warning.defaultButton, IDNO);
  EXPECT_TRUE(warning.flags & TDF_ALLOW_DIALOG_CANCELLATION);
  EXPECT_EQ(warning.check, L"") << "no check box without an option";
  EXPECT_TRUE(r.opens.empty()) << "Esc: no chooser";
  r.answer = IDYES;
  r.chosen = testing::WriteRampWav(rig.Root() / L"\u00fcber.wav", 48000, 16, 1).wstring();
  rig.Click(kImportButton);
  ASSERT_EQ(r.opens.size(), 1u);
  EXPECT_EQ(r.filters.back(),
            L"Audio files (*.wav *.flac *.ogg *.oga *.opus *.mp3 *.aif *.aiff *.aifc *.rf64 *.w64)|"
            L"*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff;*.aifc;*.rf64;*.w64|"
            L"WAVE Files (*.wav)|*.wav|")
      << "every audio file first, WAV alone second";
  EXPECT_EQ(r.extensions.back(), L"");
  EXPECT_TRUE(r.opens[0].Flags & OFN_HIDEREADONLY);
  EXPECT_EQ(rig.dialog_->ImportPath(), Narrow(r.chosen)) << "UTF-8 inside";
  EXPECT_NE(rig.dialog_->ImportPath().find("\xc3\xbc"
                                           "ber.wav"),
            std::string::npos);
  EXPECT_EQ(rig.dialog_->JobCode(), JobImport);

  // A stereo file for the one-channel pedal: summing both channels is the question's check box,
  // unticked at first; what the user leaves it at is what the job does.
  WindowRig stereo(1);
  Recorder& s = stereo.recorder_;
  s.chosen = testing::WriteRampWav(stereo.Root() / "stereo.wav", 48000, 16, 2).wstring();
  s.tick = true;
  stereo.Click(kImportButton);
  ASSERT_EQ(s.questions.size(), 2u);
  EXPECT_EQ(s.questions[1].check, Widen(kSumChannelsOption));
  EXPECT_FALSE(s.questions[1].flags & TDF_VERIFICATION_FLAG_CHECKED);
  EXPECT_EQ(s.questions[1].defaultButton, IDNO);
  EXPECT_TRUE(stereo.dialog_->Mix());

  // A message of the worker: owned by the window, captioned with the program's name, OK only,
  // with the icon of its kind.
  rig.window_->ShowMessage("Receive Complete", "", MessageKind::Information);
  EXPECT_EQ(r.boxes.back().owner, rig.Hwnd());
  EXPECT_EQ(r.boxes.back().caption, L"Rendax");
  EXPECT_EQ(r.boxes.back().type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  rig.window_->ShowMessage("Send Error", "", MessageKind::Error);
  EXPECT_EQ(r.boxes.back().type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  // A path too long for a box's line is cut in the middle; the whole detail is under details.
  const std::string path =
      "C:\\Users\\guitarist\\Music\\backing-tracks\\2026-12-09-set-list\\encore-long-version.wav";
  r.questions.clear();
  rig.window_->ShowMessage("File Creation Error", path + ": Access is denied.", MessageKind::Error);
  ASSERT_EQ(r.questions.size(), 1u);
  EXPECT_EQ(r.questions[0].text,
            Widen("File Creation Error\n\n" + ElideMiddle(path, 64) + ":\nAccess is denied."));
  EXPECT_EQ(r.questions[0].expanded, Widen(path + ": Access is denied."));
  EXPECT_EQ(r.questions[0].buttons, TDCBF_OK_BUTTON);
}

TEST(Win32Window, AFileOpenedWithTheWindowThatCannotGoInIsRefusedWithItsReason) {
  const fs::path phone =
      fs::temp_directory_path() / ("rendax-" + std::to_string(GetCurrentProcessId()) + ".m4a");
  std::ofstream(phone, std::ios::binary) << "ftypM4A  not audio libsndfile reads";
  ImportCheck check;
  ASSERT_FALSE(CheckImportFile(phone.string(), 0, check));
  // Named on the command line, or handed over by a second start of the program.
  for (bool secondStart : {false, true}) {
    SCOPED_TRACE(secondStart ? "handed over" : "on the command line");
    WindowRig rig(1, 8, secondStart ? "" : phone.string());
    if (secondStart) {
      InstanceLock first, second;
      EXPECT_TRUE(first.First());
      EXPECT_FALSE(second.First());
      EXPECT_TRUE(HandToRunningWindow(phone.string(), 5000));
    }
    // From the message loop, once the window is up.
    for (int i = 0; i < 3000 && rig.recorder_.boxes.empty(); ++i) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      Pump();
    }
    ASSERT_EQ(rig.recorder_.boxes.size(), 1u) << "no refusal within 30 s";
    EXPECT_EQ(rig.recorder_.boxes[0].owner, rig.Hwnd());
    // The file's path on a line of its own, its colon with it.
    std::string reason = check.reason;
    reason.replace(reason.find(": "), 2, ":\n");
    EXPECT_EQ(rig.recorder_.boxes[0].text, Widen(check.text + "\n\n" + reason));
    EXPECT_EQ(rig.dialog_->JobCode(), JobNone);
  }
  fs::remove(phone);
}

TEST(Win32Window, EnterPressesTheFocusedControlAndEscClosesOnlyWithoutAJob) {
  // Enter as the dialog manager takes it from the focused control; nothing closes the window.
  struct Row {
    int focus;
    uint16_t firmware;
    const char* what;
  };
  const Row rows[] = {{kExportButton, 8, "the save chooser"},
                      {kImportButton, 8, "the import warning"},
                      {kStatusLink, 7, "the update question again"},
                      {kPedalSelector, 8, "the selector's list"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WindowRig rig(row.focus == kPedalSelector ? 2 : 1, row.firmware);
    Recorder& r = rig.recorder_;
    const size_t asked = r.saves.size() + r.questions.size() + r.boxes.size();
    HWND focus = rig.Item(row.focus);
    SendMessageW(rig.Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
    ASSERT_EQ(GetFocus(), focus);
    MSG enter{focus, WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    IsDialogMessageW(rig.Hwnd(), &enter);
    Pump();
    EXPECT_FALSE(rig.dialog_->Closed());
    if (row.focus == kPedalSelector) {
      EXPECT_TRUE(SendMessageW(focus, CB_GETDROPPEDSTATE, 0, 0));
      SendMessageW(focus, CB_SHOWDROPDOWN, FALSE, 0);
    } else {
      EXPECT_EQ(r.saves.size() + r.questions.size() + r.boxes.size(), asked + 1);
    }
  }
  // Esc over a job does nothing (Cancel stops it); without one it closes.
  WindowRig rig(1);
  rig.recorder_.chosen = L"C:\\loops\\Rendax.wav";
  rig.Click(kExportButton);
  ASSERT_EQ(rig.dialog_->JobCode(), JobExport);
  SendMessageW(rig.Hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_FALSE(rig.dialog_->Closed());
}

TEST(Win32Window, RightClickMenuAndShortcutsReachTheItems) {
  WindowRig rig(1);
  HMENU menu = rig.window_->BuildContextMenu();
  struct Item {
    UINT command;
    std::wstring text;
  };
  const Item items[] = {
      {kVerifyCommand, Widen(kVerifyMenuText)},
      {kRestoreCommand, Widen(kRestoreMenuText) + L"\tCtrl+R"},
      {0, L""},
      {kAboutCommand, Widen(ForLocale(kAboutMenuText, rig.window_->LocaleName())) + L"\tF1"}};
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(std::size(items)));
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
    EXPECT_EQ(GetMenuItemID(menu, i), items[i].command);
    EXPECT_EQ(text, items[i].text);
  }
  EXPECT_TRUE(GetMenuState(menu, kVerifyCommand, MF_BYCOMMAND) & MF_CHECKED);
  DestroyMenu(menu);

  // F1 opens About; Ctrl+R's command (an accelerator's, code 1) the restore.
  MSG f1{rig.Item(kExportButton), WM_KEYDOWN, VK_F1, 0, 0, {}};
  EXPECT_TRUE(rig.window_->TranslateShortcut(f1));
  EXPECT_EQ(rig.recorder_.abouts, 1);
  SendMessageW(rig.Hwnd(), WM_COMMAND, MAKEWPARAM(kRestoreCommand, 1), 0);
  ASSERT_EQ(rig.recorder_.boxes.size(), 1u);
  EXPECT_EQ(rig.recorder_.boxes[0].text.rfind(Widen(kNoBackupYet), 0), 0u);
  // A greyed item's key does nothing.
  rig.window_->EnableControl(kRestoreItem, false);
  SendMessageW(rig.Hwnd(), WM_COMMAND, MAKEWPARAM(kRestoreCommand, 1), 0);
  EXPECT_EQ(rig.recorder_.boxes.size(), 1u);
}

TEST(Win32Window, DrawsAtTheScreensScale) {
  WindowRig rig(1);
  ASSERT_EQ(rig.window_->Dpi(), 96) << "wine's screen is at 100 %";
  RECT suggested{10, 10, 1000, 800};
  SendMessageW(rig.Hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(192, 192),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(rig.window_->Dpi(), 192);
  RECT client{};
  GetClientRect(rig.Hwnd(), &client);
  EXPECT_EQ(client.right, 920);
  EXPECT_GE(client.bottom, 612 + 2 * WindowGeometry::kMinStripHeight);
  auto placed = [&](int id) {
    RECT r{};
    GetWindowRect(rig.Item(id), &r);
    MapWindowPoints(nullptr, rig.Hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return std::vector<LONG>({r.left, r.top, r.right - r.left, r.bottom - r.top});
  };
  using G = WindowGeometry;
  EXPECT_EQ(placed(kExportButton),
            std::vector<LONG>({2 * G::kExport.x, 2 * G::kExport.y, 174, 178}));
  EXPECT_EQ(placed(kProgressBar), std::vector<LONG>({24, 544, 630, 38}));
}

TEST(Win32Window, CloseBoxAndEscEndTheDialog) {
  for (UINT how : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_COMMAND)}) {
    WindowRig rig(1);
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
