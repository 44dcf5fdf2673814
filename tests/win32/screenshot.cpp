// SPDX-License-Identifier: GPL-3.0-or-later
// The native window after an export, its loop drawn around the disc, for scripts/wine-test to
// photograph (docs/screenshot-windows-loop.png):
//
//   rendax_win32_screenshot PEDALS READY
//
// PEDALS is a simulator folder holding a pedal with a loop. The export's chooser and its closing
// message are answered here instead of by a person. Once the export has ended and the window
// shows the outline, the file READY is written; the window then stays up until it is closed or
// two minutes have passed. Exits 1, saying why, when the export does not end within 60 s.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/main_dialog.h"
#include "app/win32/win32_window.h"
#include "device/platform/sim/sim_pedal.h"

namespace {

using namespace rendax;
using Clock = std::chrono::steady_clock;

// Runs the window's messages for up to `limit`, until `done()`; false when the time ran out.
bool PumpUntil(Win32Window& window, Clock::duration limit, const std::function<bool()>& done) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      HWND hwnd = window.Handle();
      if (hwnd == nullptr || !IsDialogMessageW(hwnd, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rendax_win32_screenshot PEDALS READY\n");
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  const std::filesystem::path pedals = argv[1];
  const std::wstring file = (pedals / "exported.wav").wstring();

  std::string message;
  ModalCalls calls = SystemModalCalls();
  calls.getSaveFileName = [&](OPENFILENAMEW& ofn) {
    wcsncpy(ofn.lpstrFile, file.c_str(), ofn.nMaxFile);
    return TRUE;
  };
  calls.messageBox = [&](HWND, const std::wstring& text, const std::wstring&, UINT) {
    message = Narrow(text);
    return IDOK;
  };

  Win32Window window(GetModuleHandleW(nullptr), calls);
  SimulatorPlatform platform(pedals.string());
  CSdkManager_MFCDlg dialog(window, platform, MakeThreadWorker);
  if (!window.Open(dialog)) {
    std::fprintf(stderr, "rendax_win32_screenshot: no window\n");
    return 1;
  }
  HWND cancel = GetDlgItem(window.Handle(), kCancelButton);
  dialog.OnExport();
  const bool ended = PumpUntil(window, std::chrono::seconds(60), [&] {
    return !message.empty() && dialog.JobCode() == JobNone && !IsWindowVisible(cancel);
  });
  if (!ended) {
    std::fprintf(stderr, "rendax_win32_screenshot: the export did not end in 60 s\n");
    dialog.OnClose();
    return 1;
  }
  std::printf("%s\n", message.c_str());
  // Drawn before the picture is taken.
  UpdateWindow(window.Handle());
  std::ofstream(argv[2]) << "ready\n";
  PumpUntil(window, std::chrono::minutes(2), [&] { return window.Ended(); });
  if (!dialog.Closed()) dialog.OnClose();
  return 0;
}
