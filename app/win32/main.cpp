// rendax.exe: the window program for Windows.
#include <windows.h>
// windows.h first: commctrl.h uses its types.
#include <commctrl.h>

#include "app/main_dialog.h"
#include "app/win32/win32_window.h"
#include "device/platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  rendax::Win32Window window(instance);
  rendax::CSdkManager_MFCApp app;
  app.InitInstance(window, rendax::DefaultPlatform(), rendax::MakeThreadWorker);
  return 0;
}
