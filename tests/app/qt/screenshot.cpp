// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the window offscreen against simulated pedals and saves the pictures of docs/:
//   rendax_screenshot docs
// screenshot.png              one pedal, ready
// screenshot-no-pedal.png     nothing plugged in
// screenshot-two-pedals.png   two pedals, the selector showing
// screenshot-job.png          an export under way, with its time left and Cancel
// screenshot-loop.png         the demo loop drawn around the disc after its export
#include <QApplication>
#include <QTemporaryDir>
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

  void AddPedal(const std::string& name, uint8_t model) {
    std::string error;
    if (!CreateSimulatedPedal(root_ + "/" + name, model, 8, error)) {
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
  if (argc != 2) {
    std::fprintf(stderr, "usage: rendax_screenshot FOLDER\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const std::string folder = argv[1];
  std::filesystem::create_directories(folder);

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
