// The window program: one dialog for export, import and the pedal's firmware.
#include <QApplication>

#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "device/platform.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(rendax::kAppName);
  QApplication::setApplicationVersion("1.0.0.1");

  rendax::MainWindow window;
  auto hotplug =
      rendax::WatchDevices([&window](rendax::DeviceNotice n) { window.DeliverNotice(n); });

  rendax::CSdkManager_MFCApp app;
  app.InitInstance(window, rendax::DefaultPlatform(), rendax::MakeThreadWorker);
  return 0;
}
