// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the window offscreen against simulated pedals and saves the pictures of docs/:
//   rendax_screenshot docs
// screenshot.png              one pedal, ready
// screenshot-no-pedal.png     nothing plugged in
// screenshot-two-pedals.png   two pedals, the selector showing
// screenshot-job.png          an export under way, with its time left and Cancel
// screenshot-loop.png         the demo loop drawn around the disc after its export
// With --boxes, on a real display under a window manager (scripts/screenshots), the boxes over
// the window, frames and all:
// screenshot-question.png     the firmware question of a pedal with older firmware
// screenshot-error.png        an export's error with a long path
// screenshot-about.png        the About box
#include <QApplication>
#include <QDialog>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "cli/demo_loop.h"
#include "device/platform/sim/sim_pedal.h"

namespace {

using namespace rendax;

// The window with its choosers and boxes answered by the script: the export goes to `file`, and
// the job's message is kept instead of shown. Its clock moves on by a fixed step each time it is
// read, so the time left a job shows is the same on every machine.
class ScriptedWindow : public MainWindow {
 public:
  std::string file;
  std::string message;
  std::optional<std::string> ChooseFile(const FileChooser&) override { return file; }
  void ShowMessage(const std::string& text, const std::string&, MessageKind) override {
    message = text;
  }
  std::chrono::steady_clock::time_point Now() const override {
    return std::chrono::steady_clock::time_point{} + ++reads_ * std::chrono::milliseconds(60);
  }

 private:
  mutable int reads_ = 0;
};

class Scene {
 public:
  Scene() {
    if (!dir_.isValid()) Fail("cannot make a temporary folder");
    root_ = dir_.path().toStdString() + "/pedals";
    std::filesystem::create_directories(root_);
    setenv("RENDAX_BACKUP_DIR", (dir_.path().toStdString() + "/backups").c_str(), 1);
  }
  ~Scene() {
    if (dialog_) dialog_->OnClose();
  }

  void AddPedal(const std::string& name, uint8_t model, uint16_t firmware = 8) {
    std::string error;
    if (!CreateSimulatedPedal(root_ + "/" + name, model, firmware, error)) {
      Fail("cannot make a pedal: " + error);
    }
  }
  void StoreLoop(const std::string& name, const std::vector<uint8_t>& stream) {
    std::string error;
    if (!WriteSimulatedLoop(root_ + "/" + name, stream, LoopInfo{0, uint32_t(stream.size())},
                            error)) {
      Fail("cannot store a loop: " + error);
    }
  }

  // `worker`: the real transfer thread; without it nothing runs.
  void Open(bool worker = false) {
    platform_ = std::make_unique<SimulatorPlatform>(root_);
    WorkerFactory factory = MakeThreadWorker;
    if (!worker) factory = [](auto&...) { return std::unique_ptr<JobWorker>(); };
    dialog_ = std::make_unique<CSdkManager_MFCDlg>(window, *platform_, factory);
    window.file = dir_.path().toStdString() + "/loop.wav";
    window.Open(*dialog_);
    QApplication::processEvents();
  }

  // Runs an export to its end, Cancel gone and the status line back to the pedal.
  void Export() {
    dialog_->OnExport();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (window.message.empty() || dialog_->JobCode() != JobNone ||
           window.CancelButton()->isVisible()) {
      if (std::chrono::steady_clock::now() > deadline) Fail("the export did not end in 60 s");
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (window.message != kMsgReceiveComplete) Fail("the export said " + window.message);
  }

  void Save(const std::string& folder, const char* name) {
    QApplication::processEvents();
    const std::string path = folder + "/" + name;
    const QImage image = window.grab().toImage();
    if (!image.save(QString::fromStdString(path), "PNG")) Fail("cannot write " + path);
    std::printf("%s: %dx%d\n", path.c_str(), image.width(), image.height());
  }

  // Runs `open`, which shows a box of the window's and waits for it; once the window manager
  // has framed and painted the box, the screen under the window and the box is saved and the
  // box answered No (or closed).
  void SaveBox(const std::string& folder, const char* name, const std::function<void()>& open) {
    int looks = 0;
    bool saved = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible() || ++looks < 8) return;
      const QRect area =
          window.frameGeometry().united(box->frameGeometry()).adjusted(-12, -12, 12, 12);
      const QImage image =
          box->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
      const std::string path = folder + "/" + name;
      if (!image.save(QString::fromStdString(path), "PNG")) Fail("cannot write " + path);
      std::printf("%s: %dx%d\n", path.c_str(), image.width(), image.height());
      saved = true;
      poll.stop();
      box->reject();
    });
    poll.start(100);
    open();
    if (!saved) Fail(std::string("no box to take for ") + name);
  }

  [[noreturn]] static void Fail(const std::string& what) {
    std::fprintf(stderr, "rendax_screenshot: %s\n", what.c_str());
    std::exit(1);
  }

  ScriptedWindow window;

 private:
  QTemporaryDir dir_;
  std::string root_;
  std::unique_ptr<SimulatorPlatform> platform_;
  std::unique_ptr<CSdkManager_MFCDlg> dialog_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool boxes = argc == 3 && std::string(argv[1]) == "--boxes";
  if (argc != 2 && !boxes) {
    std::fprintf(stderr, "usage: rendax_screenshot [--boxes] FOLDER\n");
    return 2;
  }
  if (!boxes && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::string folder = argv[argc - 1];
  std::filesystem::create_directories(folder);

  if (boxes) {
    {
      // The question comes once the window is on screen, over it.
      Scene scene;
      scene.AddPedal("pedal0", 1, 7);
      scene.SaveBox(folder, "screenshot-question.png", [&] { scene.Open(); });
    }
    Scene scene;
    scene.AddPedal("pedal0", 1);
    scene.Open();
    scene.SaveBox(folder, "screenshot-error.png", [&] {
      scene.window.MainWindow::ShowMessage(
          kMsgFileCreationError,
          "/home/guitarist/Music/backing-tracks/2026-12-09-set-list/encore-long-version.wav: "
          "Permission denied",
          MessageKind::Error);
    });
    scene.SaveBox(folder, "screenshot-about.png", [&] { scene.window.ShowAbout(); });
    return 0;
  }

  {
    Scene scene;
    scene.AddPedal("pedal0", 0);
    scene.Open();
    scene.Save(folder, "screenshot.png");
  }
  {
    Scene scene;
    scene.Open();
    scene.Save(folder, "screenshot-no-pedal.png");
  }
  {
    Scene scene;
    scene.AddPedal("pedal0", 1);
    scene.AddPedal("pedal1", 0);
    scene.Open();
    scene.Save(folder, "screenshot-two-pedals.png");
  }
  {
    // Taken a third of the way into an export, while the worker waits for the window to take
    // its progress.
    Scene scene;
    scene.AddPedal("pedal0", 1);
    std::vector<uint8_t> stream(64 * 65536);
    for (std::size_t i = 0; i < stream.size(); ++i) stream[i] = uint8_t(i * 13 + (i >> 11));
    scene.StoreLoop("pedal0", stream);
    scene.Open(true);
    bool saved = false;
    QObject::connect(scene.window.Progress(), &QProgressBar::valueChanged, [&](int percent) {
      if (saved || percent < 30 || !scene.window.Status()->text().contains("left")) return;
      scene.Save(folder, "screenshot-job.png");
      saved = true;
    });
    scene.Export();
    if (!saved) Scene::Fail("the export never showed its time left");
  }
  {
    Scene scene;
    scene.AddPedal("pedal0", 1);
    const auto demo = PackDemoStream(SynthesizeDemoLoop(2), 6, 1);
    scene.StoreLoop("pedal0", demo);
    scene.Open(true);
    scene.Export();
    if (scene.window.Outline().Empty()) Scene::Fail("the export drew no loop");
    scene.Save(folder, "screenshot-loop.png");
  }
  return 0;
}
