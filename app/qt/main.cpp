// SPDX-License-Identifier: GPL-3.0-or-later
// The window program: one dialog for export, import and the pedal's firmware.
#include <QApplication>

#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "device/platform.h"
#include "rendax_version.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(rendax::kAppName);
  QApplication::setApplicationVersion(RENDAX_VERSION);
  // Wayland docks match the window to its menu entry by this name, not by the window class.
  QGuiApplication::setDesktopFileName("io.github.rendax.companion");

  rendax::MainWindow window;
  rendax::DevicePlatform& platform = rendax::DefaultPlatform();
  auto hotplug = rendax::WatchDevices(
      platform, [&window](rendax::HotplugNotice n) { window.DeliverNotice(n); });

  // A file named on the command line (the desktop's "Open With") is taken as if dropped on the
  // window, with the same checks and the import warning first.
  if (argc == 2) window.OpenWhenShown(argv[1]);
  rendax::CSdkManager_MFCApp app;
  app.InitInstance(window, platform, rendax::MakeThreadWorker);
  return 0;
}
