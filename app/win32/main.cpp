// SPDX-License-Identifier: GPL-3.0-or-later
// rendax.exe: the window program for Windows.
#include <windows.h>
// windows.h first: commctrl.h uses its types.
#include <commctrl.h>
#include <shellapi.h>

#include "app/main_dialog.h"
#include "app/win32/single_instance.h"
#include "app/win32/win32_window.h"
#include "device/platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // A file named on the command line (Explorer's "Open with"), UTF-16 there, UTF-8 inside.
  std::string file;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    if (argc == 2) file = rendax::Narrow(argv[1]);
    LocalFree(argv);
  }
  // One window per user: a second start hands its file to the first, which comes to the front.
  rendax::InstanceLock lock;
  if (!lock.First() && rendax::HandToRunningWindow(file, 5000)) return 0;

  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  rendax::Win32Window window(instance);
  // Taken as if dropped on the window once it is on screen, with the same checks and the import
  // warning first.
  if (!file.empty()) window.OpenWhenShown(file);
  rendax::DevicePlatform& platform = rendax::DefaultPlatform();
  std::string error;
  window.Watch(platform.WatchNotices(error));
  rendax::CSdkManager_MFCApp app;
  app.InitInstance(window, platform, rendax::MakeThreadWorker);
  return 0;
}
