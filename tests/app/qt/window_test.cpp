// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt window, offscreen, with the real worker against simulated pedals in a temp folder.
// Choosers and boxes are answered by a responder that watches for them, as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <map>
#include <vector>

#include "app/about.h"
#include "app/main_dialog.h"
#include "app/qt/hotplug.h"
#include "app/qt/main_window.h"
#include "audio/sample_pages.h"
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
  std::vector<std::string> seen;              // message texts, "chooser" and "wait"
  std::map<std::string, std::string> detail;  // a message's smaller text, by its text
  bool Seen(const std::string& text) const {
    return std::find(seen.begin(), seen.end(), text) != seen.end();
  }
  // For a test that answers a box itself.
  void Pause() { timer_.stop(); }

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
      // The detail as it was said: the box puts each path on a line of its own, and the whole
      // detail under its details when it elided one.
      detail[seen.back()] =
          (box->detailedText().isEmpty() ? box->informativeText().replace('\n', ' ')
                                         : box->detailedText())
              .toStdString();
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
    // A page of loop: a pedal that holds none has nothing to export, and Export stays off.
    const std::vector<uint8_t> page(PageLayoutFor(ModelInfo(model).channels).pageBytes);
    ASSERT_TRUE(WriteSimulatedLoop(root + "/" + name, page, {0, uint32_t(page.size())}, error));
  }
  // Without a worker a stored job stays stored: the window shows a job that never moves.
  static std::unique_ptr<JobWorker> NoWorker(TransferState&, CDevice&, WavFormat&, ResampleState&,
                                             JobFrontEnd&) {
    return nullptr;
  }
  void Open(WorkerFactory worker = MakeThreadWorker) {
    dialog = std::make_unique<CSdkManager_MFCDlg>(window, *platform, std::move(worker));
    window.Open(*dialog);
    QApplication::processEvents();
  }
  bool Idle() {
    return dialog->JobCode() == JobNone && window.ExportButton()->isEnabled() &&
           window.Progress()->value() == 0 && !window.CancelButton()->isVisible();
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
  // The context menu: the verify item, the restore item (greyed out without a pedal), About.
  EXPECT_EQ(window.actions(),
            (QList<QAction*>{window.VerifyAction(), window.RestoreAction(), window.AboutAction()}));
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
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_EQ(window.ImportButton()->CurrentFace(), Face::Normal);
  exp->setFocus();
  EXPECT_EQ(exp->CurrentFace(), Face::Focused);
  ASSERT_NE(window.RestoreAction(), nullptr);
  EXPECT_TRUE(window.RestoreAction()->isEnabled()) << "usable with the buttons";
  window.SetProgressPos(150);
  EXPECT_EQ(window.Progress()->value(), 100) << "kept within range like a native bar";

  ASSERT_NE(window.AboutAction(), nullptr);
  // In the user's language.
  const std::string locale = window.LocaleName();
  EXPECT_EQ(window.AboutAction()->text().toStdString(), ForLocale(kAboutMenuText, locale));
  window.AboutAction()->trigger();
  ASSERT_FALSE(responder.seen.empty()) << "the About box was answered";
  EXPECT_EQ(responder.seen[0],
            CAboutDlg::Product(locale) + "\n" + ForLocale(kAboutDescription, locale));

  window.RestoreAction()->trigger();
  EXPECT_TRUE(responder.Seen(kNoBackupYet)) << "nothing saved yet: the window says so";
  EXPECT_EQ(dialog->JobCode(), JobNone);

  // The verify item's mark is the dialog's: on from the start, off and on again when chosen.
  QAction* verify = window.VerifyAction();
  EXPECT_EQ(verify->text().toStdString(), kVerifyMenuText);
  EXPECT_TRUE(verify->isChecked());
  verify->trigger();
  EXPECT_FALSE(verify->isChecked());
  EXPECT_FALSE(dialog->Verify());
  verify->trigger();
  EXPECT_TRUE(verify->isChecked());
  EXPECT_TRUE(dialog->Verify());
}

TEST_F(WindowTest, AFileOpenedWithTheWindowThatCannotGoInIsRefusedWithItsReason) {
  AddPedal("pedal0", 0);
  const std::string phone = dir.path().toStdString() + "/phone.m4a";
  QFile file(QString::fromStdString(phone));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(
      "\0\0\0\x20"
      "ftypM4A \0\0\0\0",
      16);
  file.close();
  ImportCheck check;
  ASSERT_FALSE(CheckImportFile(phone, 0, check));
  window.OpenWhenShown(phone);
  Open(NoWorker);
  ASSERT_TRUE(Spin([&] { return responder.Seen(check.text); }, "the import check's refusal"));
  EXPECT_EQ(responder.detail[check.text], check.reason);
  EXPECT_EQ(dialog->JobCode(), JobNone);
}

TEST_F(WindowTest, StatusLineAndItsLink) {
  AddPedal("pedal0", 1, 7);
  responder.yes = false;  // the update is declined
  Open(NoWorker);
  StatusLabel* status = window.Status();
  EXPECT_EQ(status->accessibleName(), kNameStatus);
  EXPECT_EQ(status->text().toStdString(), "Firmware 7 needs updating \u2014");
  EXPECT_EQ(status->accessibleDescription(), status->text()) << "read out whole";
  ASSERT_TRUE(window.StatusLink()->isVisible());
  EXPECT_EQ(window.StatusLink()->text().toStdString(), kUpdateLink);
  ASSERT_EQ(responder.seen.size(), 1u) << "the firmware question, once";
  window.StatusLink()->click();
  EXPECT_EQ(std::count(responder.seen.begin(), responder.seen.end(), responder.seen[0]), 2)
      << "the link asks again";

  window.SetStatus({kPlugInPedal, ""});
  EXPECT_FALSE(window.StatusLink()->isVisible());
  // Too long for the strip: cut with an ellipsis, the whole line in its tooltip.
  const std::string longLine(200, 'x');
  window.SetStatus({longLine, ""});
  EXPECT_TRUE(status->Elided());
  EXPECT_EQ(status->toolTip().toStdString(), longLine);
}

TEST_F(WindowTest, SelectorShowsWithTwoPedalsAndTakesTheUsersChoice) {
  AddPedal("pedal0", 0);
  AddPedal("pedal1", 1);
  Open(NoWorker);
  QComboBox* pedals = window.PedalSelector();
  EXPECT_EQ(pedals->accessibleName(), kNamePedal);
  ASSERT_TRUE(pedals->isVisible());
  ASSERT_EQ(pedals->count(), 2);
  EXPECT_EQ(pedals->currentIndex(), 0);
  QTest::keyClick(pedals, Qt::Key_Down);  // as the user chooses
  EXPECT_EQ(dialog->Model(), 1);
  EXPECT_EQ(pedals->currentIndex(), 1);
  window.EnableControl(kPedalSelector, false);  // as during a job
  EXPECT_FALSE(pedals->isVisible()) << "the job's status line takes its room";
  window.EnableControl(kPedalSelector, true);
  EXPECT_TRUE(pedals->isVisible());

  // The chosen pedal goes: one label left, which the dialog sets, choosing nothing itself.
  QFile marker(QString::fromStdString(root + "/pedal1/unplugged"));
  ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
  marker.close();
  dialog->OnDeviceChange(HotplugNotice::DeviceRemoval);
  EXPECT_FALSE(pedals->isVisible());
  EXPECT_EQ(dialog->PedalPath(), "") << "setting the choices chose a pedal";
}

TEST_F(WindowTest, CancelShowsForAJobTakesTheFocusAndCancelsIt) {
  AddPedal("pedal0", 0);
  Open(NoWorker);
  QPushButton* cancel = window.CancelButton();
  EXPECT_EQ(cancel->accessibleName(), kNameCancel);
  EXPECT_FALSE(cancel->isVisible());
  ASSERT_TRUE(window.ExportButton()->hasFocus());
  responder.file = dir.path() + "/never.wav";
  window.ExportButton()->click();
  ASSERT_TRUE(cancel->isVisible());
  // The window's focus: the chooser may still be giving the activation back.
  EXPECT_EQ(window.focusWidget(), cancel);
  cancel->click();
  EXPECT_FALSE(cancel->isVisible());
  EXPECT_EQ(window.Status()->text(), "Cancelling");
  EXPECT_EQ(window.focusWidget(), window.ExportButton()) << "the keyboard back where it was";
}

TEST_F(WindowTest, TabGoesImportExportLinkSelectorCancel) {
  AddPedal("pedal0", 0);
  Open(NoWorker);
  window.SetStatus({"Firmware 7 needs updating \u2014", kUpdateLink});
  window.SetPedalChoices({"Rendax \u00b7 sg3", "Rendax Twin \u00b7 sg4"}, 0);
  window.ShowCancel(true);
  window.ImportButton()->setFocus();
  std::vector<QWidget*> order{QApplication::focusWidget()};
  for (int i = 0; i < 4; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(order, (std::vector<QWidget*>{window.ImportButton(), window.ExportButton(),
                                          window.StatusLink(), window.PedalSelector(),
                                          window.CancelButton()}));
}

TEST_F(WindowTest, ReplacingAsksWithNoAsDefaultAndEscAnswersNo) {
  Open(NoWorker);
  responder.Pause();  // this box is answered here, with Esc
  QString title;
  QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
  bool optionShown = false;
  // Runs inside the box's own event loop, once it is up.
  QMetaObject::invokeMethod(
      &window,
      [&] {
        auto box = [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); };
        if (!QTest::qWaitFor([&] { return box() != nullptr; }, 10000)) {
          ADD_FAILURE() << "no question came up";
          if (QWidget* other = QApplication::activeModalWidget()) other->close();
          return;
        }
        title = box()->windowTitle();
        byDefault = box()->standardButton(box()->defaultButton());
        optionShown = box()->checkBox() && box()->checkBox()->isChecked();
        QTest::keyClick(box(), Qt::Key_Escape);
      },
      Qt::QueuedConnection);
  QuestionOption option{kSumChannelsOption, true};
  EXPECT_FALSE(window.AskBeforeReplacing(ReplaceWarning("Rendax (pedal0)"), &option));
  QApplication::processEvents();  // the call above has run, whatever happened
  EXPECT_EQ(title, "Rendax");
  EXPECT_EQ(byDefault, QMessageBox::No);
  EXPECT_TRUE(optionShown);
  EXPECT_TRUE(option.checked);
}

// Export, an import cancelled half-way (the earlier loop comes back), and a verified import.
TEST_F(WindowTest, ExportCancelledImportAndVerifiedImportThroughTheWorker) {
  AddPedal("pedal0", 1);
  std::vector<uint8_t> stream(8 * 65536 + 4096);
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

  // An import over a shorter earlier loop, cancelled once the bar is near a third, well into the
  // writes (the worker waits while the window takes its progress).
  // Its pages' filler is zero, as a pedal keeps it; a backup holds the samples alone.
  const PageLayout page = PageLayoutFor(2);
  std::vector<uint8_t> earlier(3 * 65536);
  for (size_t i = 0; i < earlier.size(); ++i) {
    earlier[i] = i % page.pageBytes < page.pageBytes - page.fillerBytes ? uint8_t(i * 5 + 1) : 0;
  }
  ASSERT_TRUE(
      WriteSimulatedLoop(root + "/pedal0", earlier, LoopInfo{0, uint32_t(earlier.size())}, error))
      << error;
  responder.seen.clear();
  QString statusWhenPressed;
  QObject::connect(window.Progress(), &QProgressBar::valueChanged, &scope, [&](int v) {
    // The bar also counts the backup's reads before and the verify's reads after.
    if (v < 30 || !statusWhenPressed.isEmpty() || !window.CancelButton()->isVisible()) return;
    statusWhenPressed = window.Status()->text();
    window.CancelButton()->click();
  });
  window.ImportButton()->click();
  ASSERT_TRUE(Spin([&] { return responder.Seen(kMsgImportCancelled) && Idle(); },
                   "the import's \"" + std::string(kMsgImportCancelled) + "\" and an idle window"))
      << ::testing::PrintToString(responder.seen) << statusWhenPressed.toStdString();
  EXPECT_EQ(responder.seen[0], ReplaceWarning(PedalName(1, root + "/pedal0")));
  EXPECT_EQ(responder.seen[1], "chooser");
  EXPECT_TRUE(statusWhenPressed.startsWith("Importing \u00b7 ")) << statusWhenPressed.toStdString();
  std::vector<uint8_t> loop;
  LoopInfo info;
  ASSERT_TRUE(ReadSimulatedLoop(root + "/pedal0", loop, info, error)) << error;
  EXPECT_TRUE(loop == earlier) << "the earlier loop is back: " << loop.size() << " bytes";
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.length, earlier.size());

  // The file again, to its end, read back (verify is on from the start).
  QObject::disconnect(window.Progress(), nullptr, &scope, nullptr);
  responder.seen.clear();
  window.ImportButton()->click();
  ASSERT_TRUE(Spin([&] { return responder.Seen(kMsgSendComplete) && Idle(); },
                   "the import's \"Send Complete\" and an idle window"));
  EXPECT_EQ(dialog->ImportPath(), wav.toStdString());
  EXPECT_TRUE(QString::fromStdString(responder.detail[kMsgSendComplete])
                  .endsWith("verified: the loop reads back as sent"))
      << responder.detail[kMsgSendComplete];
  ASSERT_TRUE(ReadSimulatedLoop(root + "/pedal0", loop, info, error)) << error;
  EXPECT_EQ(info.status, 0);
  // The round trip resamples twice; the length comes back within a page of the original.
  EXPECT_NEAR(double(info.length), double(stream.size()), 4096.0);
  EXPECT_FALSE(window.Outline().Empty()) << "the new loop is drawn";
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
  auto hotplug = WatchDevices(*platform, [this](HotplugNotice n) { window.DeliverNotice(n); });
  ASSERT_NE(hotplug, nullptr);
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
