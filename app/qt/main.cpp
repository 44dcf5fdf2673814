// SPDX-License-Identifier: GPL-3.0-or-later
// The window program: one dialog for export, import and the pedal's firmware.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>

#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "app/qt/single_instance.h"
#include "device/platform.h"
#include "rendax_version.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(rendax::kAppName);
  QApplication::setApplicationVersion(RENDAX_VERSION);
  // Wayland docks match the window to its menu entry by this name, not by the window class.
  QGuiApplication::setDesktopFileName("io.github.rendax.companion");

  // One window per user: a window already open takes this start's file and comes to the front.
  rendax::SingleInstance instance;
  switch (instance.Take(argc == 2 ? QFile::decodeName(argv[1]) : QString())) {
    case rendax::SingleInstance::Claim::Owner:
      break;
    case rendax::SingleInstance::Claim::HandedOver:
      return 0;
    case rendax::SingleInstance::Claim::NoAnswer:
      std::fprintf(stderr, "%s\n", rendax::kMsgWindowNotAnswering);
      QMessageBox::warning(nullptr, rendax::kAppName, rendax::kMsgWindowNotAnswering);
      return 1;
  }

  rendax::MainWindow window;
  instance.OnHandOver(
      [&window](const QString& file) { window.TakeHandedOver(file.toUtf8().toStdString()); });
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
