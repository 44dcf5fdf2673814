// The window program: one dialog for export, import and the pedal's firmware.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "device/platform.h"
#include "rendax_version.h"

namespace {

// Runs `call` once the window first shows, that is after the start-up's pedal search and firmware
// question, from the window's own event loop.
class OnFirstShow : public QObject {
 public:
  OnFirstShow(QWidget& window, std::function<void()> call) : call_(std::move(call)) {
    window.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, this, call_);
    }
    return false;
  }

 private:
  std::function<void()> call_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(rendax::kAppName);
  QApplication::setApplicationVersion(RENDAX_VERSION);
  // Wayland docks match the window to its menu entry by this name, not by the window class.
  QGuiApplication::setDesktopFileName("io.github.rendax.companion");

  rendax::MainWindow window;
  auto hotplug =
      rendax::WatchDevices([&window](rendax::DeviceNotice n) { window.DeliverNotice(n); });

  // The application object's run, with the dialog at hand: an audio file named on the command
  // line (the desktop's "Open With") is taken as if dropped on the window, with the same checks
  // and the import warning first.
  rendax::CSdkManager_MFCDlg dialog(window, rendax::DefaultPlatform(), rendax::MakeThreadWorker);
  std::unique_ptr<OnFirstShow> open;
  if (argc == 2) {
    open = std::make_unique<OnFirstShow>(
        window, [&dialog, file = std::string(argv[1])] { dialog.OnDropFile(file); });
  }
  window.RunModal(dialog);
  return 0;
}
