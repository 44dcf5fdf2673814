// SPDX-License-Identifier: GPL-3.0-or-later
// rendax.exe: the window program for Windows.
#include <windows.h>
// windows.h first: commctrl.h uses its types.
#include <commctrl.h>
#include <shellapi.h>

#include "app/main_dialog.h"
#include "app/win32/win32_window.h"
#include "device/platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  rendax::Win32Window window(instance);
  // A file named on the command line (Explorer's "Open with") is taken as if dropped on the
  // window, with the same checks and the import warning first.
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    if (argc == 2) window.OpenWhenShown(rendax::Narrow(argv[1]));
    LocalFree(argv);
  }
  rendax::DevicePlatform& platform = rendax::DefaultPlatform();
  std::string error;
  window.Watch(platform.WatchNotices(error));
  rendax::CSdkManager_MFCApp app;
  app.InitInstance(window, platform, rendax::MakeThreadWorker);
  return 0;
}
