// The Qt window, offscreen, with the real worker against simulated pedals in a temp folder.
// Choosers and boxes are answered by a responder that watches for them, as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "app/about.h"
#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "device/platform/sim/sim_pedal.h"
#include "tests/support/wait.h"

namespace rendax {
namespace {

using testing::kWaitBound;

// Keeps the event loop running until `done`; fails naming `what` when it never came.
::testing::AssertionResult Spin(const std::function<bool()>& done, const std::string& what) {
  return testing::WaitUntil(done, kWaitBound, what,
                            [] { QApplication::processEvents(QEventLoop::AllEvents, 20); });
}

// Answers each modal box or chooser once it is up: choosers get `file`, questions `yes`, and
// every text shown is recorded. It looks from a timer, so it answers from inside whichever
// event loop runs the box. A box still open `kModalBound` after it came up (one the test cannot
// answer) is rejected with a failure: the modal loop ends and the test fails instead of hanging.
class Responder {
 public:
  static constexpr std::chrono::milliseconds kModalBound{20000};

  Responder() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
  }
  QString file;
  bool yes = true;
  std::vector<std::string> seen;  // message texts, "chooser" and "wait"
  bool Seen(const std::string& text) const {
    return std::find(seen.begin(), seen.end(), text) != seen.end();
  }

 private:
  struct Modal {
    QPointer<QWidget> widget;
    std::chrono::steady_clock::time_point shown;
    bool rejected = false;
  };

  void Look() {
    std::erase_if(modals_, [](const Modal& m) { return !m.widget || !m.widget->isVisible(); });
    bool waitShown = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (w->objectName() == "waitNotice") {
        waitShown = true;
      } else if (w->isModal() && !Tracked(w)) {
        modals_.push_back({w, std::chrono::steady_clock::now()});
        Answer(w);
      }
    }
    if (waitShown && !waitWasShown_) seen.push_back("wait");
    waitWasShown_ = waitShown;
    for (Modal& m : modals_) {
      if (m.widget && !m.rejected && std::chrono::steady_clock::now() - m.shown > kModalBound) {
        m.rejected = true;
        ADD_FAILURE() << "a " << m.widget->metaObject()->className() << " ("
                      << Describe(m.widget).toStdString() << ") was still open after "
                      << kModalBound.count() / 1000 << " s: rejected";
        if (auto* dialog = qobject_cast<QDialog*>(m.widget)) dialog->done(QDialog::Rejected);
        m.widget->close();
      }
    }
  }

  bool Tracked(QWidget* w) const {
    return std::any_of(modals_.begin(), modals_.end(),
                       [w](const Modal& m) { return m.widget == w; });
  }

  static QString Describe(QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) return box->text();
    return w->windowTitle();
  }

  // Each box is answered once; one that stays up after its answer is left to the bound.
  void Answer(QWidget* w) {
    if (auto* chooser = qobject_cast<QFileDialog*>(w)) {
      seen.push_back("chooser");
      // The chooser's selectFile writes into its file-name box only while that box lacks the
      // keyboard focus, which it takes once the chooser is active: typing into the box, as a
      // user does, chooses the file whichever came first.
      auto* name = chooser->findChild<QLineEdit*>("fileNameEdit");
      if (!name) {
        ADD_FAILURE() << "the chooser has no file-name box to type into";
        return;
      }
      name->setText(file);
      // Queued: a warning the chooser raises about the name runs in its own loop, where this
      // responder can still see it, not inside this look.
      QMetaObject::invokeMethod(chooser, "accept", Qt::QueuedConnection);
    } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
      seen.push_back(box->text().toStdString());
      QAbstractButton* b = box->button(QMessageBox::Ok);
      if (!b) b = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
      if (b) b->click();
    } else if (w->objectName() == "about") {
      seen.push_back(w->findChild<QLabel*>("aboutText")->text().toStdString());
      static_cast<QDialog*>(w)->accept();
    }
  }

  QTimer timer_;
  std::vector<Modal> modals_;
  bool waitWasShown_ = false;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    root = dir.path().toStdString() + "/pedals";
    QDir().mkpath(QString::fromStdString(root));
    // Imports save the pedal's loop here, not in the home of whoever runs the tests.
    setenv("RENDAX_BACKUP_DIR", (dir.path().toStdString() + "/backups").c_str(), 1);
    platform = std::make_unique<SimulatorPlatform>(root);
  }
  void TearDown() override {
    // A job left running ends first; the responder answers its boxes meanwhile.
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
  Responder responder;
};

TEST_F(WindowTest, BuildsAndSwapsFacesOnEnableAndDisable) {
  Open();  // no pedal yet
  EXPECT_EQ(window.windowTitle(), "Rendax");
  // The context menu: the restore item, greyed out without a pedal, then About.
  EXPECT_EQ(window.actions(), (QList<QAction*>{window.RestoreAction(), window.AboutAction()}));
  ASSERT_NE(window.RestoreAction(), nullptr);
  EXPECT_EQ(window.RestoreAction()->text().toStdString(), kRestoreMenuText);
  EXPECT_EQ(window.RestoreAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
  EXPECT_FALSE(window.RestoreAction()->isEnabled());
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
  ASSERT_NE(window.RestoreAction(), nullptr);
  EXPECT_TRUE(window.RestoreAction()->isEnabled()) << "usable with the buttons";
  window.SetProgressPos(150);
  EXPECT_EQ(window.Progress()->value(), 100) << "kept within range like a native bar";

  ASSERT_NE(window.AboutAction(), nullptr);
  EXPECT_EQ(window.AboutAction()->text().toStdString(), kAboutMenuText);
  window.AboutAction()->trigger();
  ASSERT_FALSE(responder.seen.empty()) << "the About box was answered";
  EXPECT_NE(responder.seen[0].find("版"), std::string::npos) << "the About box is in Chinese";

  window.RestoreAction()->trigger();
  EXPECT_TRUE(responder.Seen(kNoBackupYet)) << "nothing saved yet: the window says so";
  EXPECT_EQ(dialog->JobCode(), JobNone);
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
  QObject scope;  // the recording ends with the test
  QObject::connect(window.Progress(), &QProgressBar::valueChanged, &scope,
                   [&](int v) { progress.push_back(v); });
  const QString wav = dir.path() + "/out.wav";
  responder.file = wav;
  window.ExportButton()->click();
  ASSERT_TRUE(Spin([&] { return responder.Seen("Receive Complete") && Idle(); },
                   "the export's \"Receive Complete\" and an idle window"));
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
  ASSERT_TRUE(Spin([&] { return responder.Seen("Send Complete") && Idle(); },
                   "the import's \"Send Complete\" and an idle window"));
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
  responder.file = dir.path() + "/close.wav";
  // The close box, pressed while the job surely runs: posted from its first progress, which the
  // worker waits on, so the close comes before anything more the job sends the window (at
  // least its message and the final progress 0).
  QObject scope;
  QObject::connect(window.Progress(), &QProgressBar::valueChanged, &scope, [&](int v) {
    if (v > 0 && !window.Ended()) {
      QObject::disconnect(window.Progress(), nullptr, &scope, nullptr);
      QMetaObject::invokeMethod(&window, &QWidget::close, Qt::QueuedConnection);
    }
  });
  window.ExportButton()->click();
  // The close waits in a nested loop, serving progress and the box, until the job has ended.
  ASSERT_TRUE(Spin([&] { return dialog->Closed(); }, "the window closing"));
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
  ASSERT_TRUE(Spin([&] { return window.ExportButton()->isEnabled(); }, "the pedal's arrival"));
  EXPECT_EQ(dialog->Model(), 2);

  QFile marker(QString::fromStdString(root + "/pedal7/unplugged"));
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  ASSERT_TRUE(Spin([&] { return !window.ExportButton()->isEnabled(); }, "the pedal's removal"));
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
