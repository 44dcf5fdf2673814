// The Qt window, offscreen, with the real worker against simulated pedals in a temp folder.
// Choosers and boxes are answered by a responder that watches for them, as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <vector>

#include "app/about.h"
#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "device/platform/sim/sim_pedal.h"

namespace rendax {
namespace {

// Keeps the event loop running until `done`; false if it never came (a broken test, not a
// timing assertion: the cap is far beyond any normal run).
bool SpinUntil(const std::function<bool()>& done, int capMs = 60000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > capMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Answers whatever modal box or chooser comes up: choosers get `file`, questions `yes`, and
// every text shown is recorded.
class Responder {
 public:
  Responder() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
    timer_.start();
  }
  QString file;
  bool yes = true;
  bool holdMessages = false;      // leave message boxes open (the job waits on them)
  std::vector<std::string> seen;  // message texts and "chooser"
  bool Seen(const std::string& text) const {
    return std::find(seen.begin(), seen.end(), text) != seen.end();
  }

 private:
  void Answer() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
        seen.push_back("chooser");
        chooser->selectFile(file);
        QMetaObject::invokeMethod(chooser, "accept");
      } else if (w->objectName() == "waitNotice") {
        if (seen.empty() || seen.back() != "wait") seen.push_back("wait");
      } else if (auto* box = qobject_cast<QMessageBox*>(w); box && !holdMessages) {
        seen.push_back(box->text().toStdString());
        QAbstractButton* b = box->button(QMessageBox::Ok);
        if (!b) b = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
        b->click();
      } else if (w->objectName() == "about") {
        seen.push_back(w->findChild<QLabel*>("aboutText")->text().toStdString());
        static_cast<QDialog*>(w)->accept();
      }
    }
  }
  QTimer timer_;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    root = dir.path().toStdString() + "/pedals";
    QDir().mkpath(QString::fromStdString(root));
    platform = std::make_unique<SimulatorPlatform>(root);
  }
  void TearDown() override {
    if (dialog && !dialog->Closed()) dialog->OnClose();
  }
  void AddPedal(const std::string& name, uint8_t model, uint16_t firmware = 8) {
    std::string error;
    ASSERT_TRUE(CreateSimulatedPedal(root + "/" + name, model, firmware, error)) << error;
  }
  void Open() {
    dialog = std::make_unique<CSdkManager_MFCDlg>(window, *platform, MakeThreadWorker);
    window.Open(*dialog);
    QApplication::processEvents();
  }
  bool Idle() {
    return dialog->JobCode() == JobNone && window.ExportButton()->isEnabled() &&
           window.Progress()->value() == 0;
  }

  QTemporaryDir dir;
  std::string root;
  std::unique_ptr<SimulatorPlatform> platform;
  MainWindow window;
  std::unique_ptr<CSdkManager_MFCDlg> dialog;
};

TEST_F(WindowTest, BuildsAndSwapsFacesOnEnableAndDisable) {
  Open();  // no pedal yet
  EXPECT_EQ(window.windowTitle(), "Rendax");
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "not resizable";
  EXPECT_EQ(window.windowIcon().availableSizes().size(), 8);
  EXPECT_EQ(window.ImportButton()->FacePixmap(Face::Focused).height(), 88);
  EXPECT_EQ(window.ExportButton()->FacePixmap(Face::Disabled).height(), 90);
  PictureButton* exp = window.ExportButton();
  EXPECT_EQ(exp->size(), QSize(87, 89)) << "sized to the normal face";
  EXPECT_EQ(exp->CurrentFace(), Face::Disabled);
  // What is painted is the disabled picture.
  QImage shown = exp->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  QImage face = exp->FacePixmap(Face::Disabled).toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown.pixel(43, 20), face.pixel(43, 20));

  AddPedal("pedal0", 0);
  dialog->OnDeviceChange(DeviceNotice::VolumeArrival);
  EXPECT_EQ(window.ImportButton()->CurrentFace(), Face::Normal);
  exp->setFocus();
  EXPECT_EQ(exp->CurrentFace(), Face::Focused);
  window.SetProgressPos(150);
  EXPECT_EQ(window.Progress()->value(), 100) << "kept within range like a native bar";

  Responder responder;
  ASSERT_NE(window.AboutAction(), nullptr);
  EXPECT_EQ(window.AboutAction()->text().toStdString(), kAboutMenuText);
  window.AboutAction()->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !responder.seen.empty(); }));
  EXPECT_NE(responder.seen[0].find("版"), std::string::npos) << "the About box is in Chinese";
}

TEST_F(WindowTest, ExportThenImportThroughTheWorker) {
  AddPedal("pedal0", 1);
  std::vector<uint8_t> stream(3 * 65536 + 4096);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = uint8_t(i * 7 + (i >> 9));
  std::string error;
  ASSERT_TRUE(
      WriteSimulatedLoop(root + "/pedal0", stream, LoopInfo{0, uint32_t(stream.size())}, error))
      << error;
  Open();
  ASSERT_TRUE(window.ExportButton()->isEnabled());

  std::vector<int> progress;
  QObject::connect(window.Progress(), &QProgressBar::valueChanged,
                   [&](int v) { progress.push_back(v); });
  Responder responder;
  const QString wav = dir.path() + "/out.wav";
  responder.file = wav;
  window.ExportButton()->click();
  ASSERT_TRUE(SpinUntil([&] { return responder.Seen("Receive Complete") && Idle(); }));
  EXPECT_EQ(responder.seen.front(), "chooser");
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.end()[-2], 100);
  EXPECT_EQ(progress.back(), 0);
  QFile out(wav);
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  QByteArray bytes = out.readAll();
  ASSERT_GT(bytes.size(), 44);
  EXPECT_TRUE(bytes.startsWith("RIFF"));
  EXPECT_EQ(bytes[22], 2) << "two channels for model 1";

  // Import the file back: warning (Yes), chooser, the job, "Send Complete".
  ASSERT_TRUE(WriteSimulatedLoop(root + "/pedal0", {}, LoopInfo{1, 0}, error)) << error;
  responder.seen.clear();
  progress.clear();
  window.ImportButton()->click();
  ASSERT_TRUE(SpinUntil([&] { return responder.Seen("Send Complete") && Idle(); }));
  EXPECT_EQ(responder.seen[0],
            "Warning: It will delete the existing content of rendax. Do you want to continue?");
  EXPECT_EQ(responder.seen[1], "chooser");
  EXPECT_EQ(dialog->ImportPath(), wav.toStdString());
  std::vector<uint8_t> loop;
  LoopInfo info;
  ASSERT_TRUE(ReadSimulatedLoop(root + "/pedal0", loop, info, error)) << error;
  EXPECT_EQ(info.status, 0);
  // The round trip resamples twice; the length comes back within a page of the original.
  EXPECT_NEAR(double(info.length), double(stream.size()), 4096.0);
  EXPECT_EQ(progress.back(), 0);
}

TEST_F(WindowTest, ClosingDuringAJobWaitsForItWithoutDeadlock) {
  AddPedal("pedal0", 0);
  std::vector<uint8_t> stream(40 * 65536);
  std::string error;
  ASSERT_TRUE(
      WriteSimulatedLoop(root + "/pedal0", stream, LoopInfo{0, uint32_t(stream.size())}, error));
  Open();
  Responder responder;
  responder.file = dir.path() + "/close.wav";
  window.ExportButton()->click();
  responder.holdMessages = true;  // the job cannot end before the window is closed
  ASSERT_TRUE(SpinUntil([&] { return window.Progress()->value() > 0; }));
  responder.holdMessages = false;
  window.close();  // the close box: waits in a nested loop, serving progress and the box
  EXPECT_TRUE(responder.Seen("wait")) << "the window said the transfer is still running";
  EXPECT_TRUE(window.Ended());
  EXPECT_TRUE(dialog->Closed());
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_TRUE(responder.Seen("Receive Complete")) << "the job ran to its end first";
  EXPECT_TRUE(QFile::exists(responder.file));
}

TEST_F(WindowTest, SimulatedPedalsPluggedInAndOutReachTheDialog) {
  Open();
  auto hotplug = WatchSimulator(root, [this](DeviceNotice n) { window.DeliverNotice(n); });
  ASSERT_FALSE(window.ExportButton()->isEnabled());

  AddPedal("pedal7", 2);
  ASSERT_TRUE(SpinUntil([&] { return window.ExportButton()->isEnabled(); }));
  EXPECT_EQ(dialog->Model(), 2);

  QFile marker(QString::fromStdString(root + "/pedal7/unplugged"));
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  ASSERT_TRUE(SpinUntil([&] { return !window.ExportButton()->isEnabled(); }));
  EXPECT_EQ(dialog->PedalPath(), "");
}

}  // namespace
}  // namespace rendax

int main(int argc, char** argv) {
  // Headless unless the caller chose a display platform.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
