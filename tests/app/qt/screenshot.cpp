// Draws the window offscreen with a simulated pedal attached and saves it as a PNG:
//   rendax_screenshot docs/screenshot.png
#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "device/platform/sim/sim_pedal.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rendax_screenshot OUTPUT.png\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);

  QTemporaryDir dir;
  std::string pedal = dir.path().toStdString() + "/pedal0";
  std::string error;
  if (!dir.isValid() || !rendax::CreateSimulatedPedal(pedal, 0, 8, error)) {
    std::fprintf(stderr, "rendax_screenshot: cannot make a simulated pedal: %s\n", error.c_str());
    return 1;
  }
  rendax::SimulatorPlatform platform(dir.path().toStdString());
  rendax::MainWindow window;
  // No worker: nothing runs, the picture shows a pedal ready and a transfer under way.
  rendax::CSdkManager_MFCDlg dialog(window, platform, [](auto&...) { return nullptr; });
  window.Open(dialog);
  window.SetProgressPos(37);
  QApplication::processEvents();

  QImage image = window.grab().toImage();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "rendax_screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  dialog.OnClose();
  std::printf("%s: %dx%d\n", argv[1], image.width(), image.height());
  return 0;
}
