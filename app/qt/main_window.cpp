#include "app/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <condition_variable>
#include <mutex>

#include "app/about.h"

namespace rendax {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string U(const QString& s) {
  return s.toUtf8().toStdString();
}
QPixmap Bitmap(int number) {
  return QPixmap(QString(":/bitmap/%1.png").arg(number));
}

QIcon AppIcon(int group) {
  QIcon icon;
  for (int size : {128, 96, 72, 64, 48, 32, 24, 16}) {
    icon.addFile(QString(":/icon/%1/%2.png").arg(group).arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

// ---- Picture button ----

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
}

void PictureButton::SetFaces(const ButtonFaces& faces) {
  faces_[int(Face::Normal)] = Bitmap(faces.normal);
  faces_[int(Face::Pressed)] = Bitmap(faces.pressed);
  faces_[int(Face::Focused)] = Bitmap(faces.focused);
  faces_[int(Face::Disabled)] = Bitmap(faces.disabled);
  // Sized to the normal face, keeping the position.
  resize(faces_[int(Face::Normal)].size());
  update();
}

QSize PictureButton::sizeHint() const {
  const QPixmap& normal = faces_[int(Face::Normal)];
  return normal.isNull() ? QSize(87, 89) : normal.size();
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, FacePixmap(CurrentFace()));
}

// ---- Main window ----

MainWindow::MainWindow() : QDialog(nullptr) {
  setWindowTitle(kAppName);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(WindowGeometry::kClient);
  setAcceptDrops(true);

  // Tab order: Export first, so it has the focus at start.
  export_ = new PictureButton(this);
  export_->setObjectName("export");
  export_->setAccessibleName("Export");
  export_->setToolTip("Export");
  export_->move(WindowGeometry::kExport);
  export_->resize(export_->sizeHint());
  import_ = new PictureButton(this);
  import_->setObjectName("import");
  import_->setAccessibleName("Import");
  import_->setToolTip("Import");
  import_->move(WindowGeometry::kImport);
  import_->resize(import_->sizeHint());

  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setGeometry(WindowGeometry::kProgress);
  progress_->setTextVisible(false);
  progress_->setFocusPolicy(Qt::NoFocus);
  progress_->setValue(0);

  connect(export_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnExport();
  });
  connect(import_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnImport();
  });
}

MainWindow::~MainWindow() = default;

void MainWindow::Open(CSdkManager_MFCDlg& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  // Start-up runs before the window is first shown, so the firmware question comes first.
  dialog.OnInitDialog();
  show();
  QWidget* first = export_->isEnabled()   ? static_cast<QWidget*>(export_)
                   : import_->isEnabled() ? static_cast<QWidget*>(import_)
                                          : nullptr;
  if (first) first->setFocus(Qt::OtherFocusReason);
}

int MainWindow::RunModal(CSdkManager_MFCDlg& dialog) {
  Open(dialog);
  if (!ended_) loop_.exec();
  dialog_ = nullptr;
  return result_;
}

void MainWindow::EndDialog(int result) {
  result_ = result;
  ended_ = true;
  hide();
  loop_.exit(result);
}

void MainWindow::AppendAboutItem(const std::string& text) {
  // Linux has no system menu to extend: the item sits in the window's context menu and answers
  // the help key. (On Windows it is appended to the system menu.)
  about_ = new QAction(Q(text), this);
  about_->setShortcut(QKeySequence::HelpContents);
  about_->setShortcutContext(Qt::WindowShortcut);
  connect(about_, &QAction::triggered, this, [this] {
    if (dialog_) dialog_->OnAbout();
  });
  addAction(about_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::AppendRestoreItem(const std::string& text) {
  // Beside the About item, in the context menu, with a key of its own.
  restore_ = new QAction(Q(text), this);
  restore_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  restore_->setShortcutContext(Qt::WindowShortcut);
  connect(restore_, &QAction::triggered, this, [this] {
    if (dialog_) dialog_->OnRestoreLastBackup();
  });
  addAction(restore_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::ShowAbout() {
  QDialog box(this);
  box.setObjectName("about");
  box.setWindowTitle(QString::fromUtf8(CAboutDlg::kCaption));
  auto* icon = new QLabel(&box);
  icon->setPixmap(AppIcon(kIconGroup).pixmap(48, 48));
  auto* text = new QLabel(
      QString::fromUtf8(CAboutDlg::kProduct) + "\n" + QString::fromUtf8(CAboutDlg::kDescription),
      &box);
  text->setObjectName("aboutText");
  auto* buttons = new QDialogButtonBox(&box);
  buttons->addButton(QString::fromUtf8(CAboutDlg::kOk), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  auto* column = new QVBoxLayout(&box);
  column->addLayout(row);
  column->addWidget(buttons);
  box.exec();
}

void MainWindow::SetIcons(int iconGroup) {
  QIcon icon = AppIcon(iconGroup);
  setWindowIcon(icon);
  QApplication::setWindowIcon(icon);
}

QAbstractButton* MainWindow::Button(int control) const {
  if (control == kExportButton) return export_;
  if (control == kImportButton) return import_;
  return nullptr;
}

void MainWindow::EnableControl(int control, bool enable) {
  if (control == kProgressBar) {
    progress_->setEnabled(enable);
  } else if (control == kRestoreItem) {
    if (restore_) restore_->setEnabled(enable);
  } else if (QAbstractButton* b = Button(control)) {
    b->setEnabled(enable);
  }
}

void MainWindow::SetProgressRange(int low, int high) {
  progress_->setRange(low, high);
}

void MainWindow::SetProgressPos(int pos) {
  // A native progress bar keeps the position within its range; QProgressBar ignores values
  // outside it instead.
  progress_->setValue(std::clamp(pos, progress_->minimum(), progress_->maximum()));
}

void MainWindow::LoadButtonFaces(int control, const ButtonFaces& faces) {
  if (control == kExportButton) export_->SetFaces(faces);
  if (control == kImportButton) import_->SetFaces(faces);
}

void MainWindow::ShowMessage(const std::string& text, const std::string& detail) {
  QMessageBox box(QMessageBox::NoIcon, kAppName, Q(text), QMessageBox::Ok, this);
  if (!detail.empty()) box.setInformativeText(Q(detail));
  box.exec();
}

namespace {

// No owner window, as the questions come before or apart from the main window.
bool Ask(const QIcon& icon, const std::string& text, const std::string& caption,
         QuestionOption* option) {
  QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No);
  box.setWindowIcon(icon);
  if (option) {
    auto* check = new QCheckBox(Q(option->text), &box);
    check->setObjectName("option");
    check->setChecked(option->checked);
    box.setCheckBox(check);
  }
  const bool yes = box.exec() == QMessageBox::Yes;
  if (option) option->checked = box.checkBox()->isChecked();
  return yes;
}

}  // namespace

bool MainWindow::AskYesNo(const std::string& text, const std::string& caption) {
  return Ask(windowIcon(), text, caption, nullptr);
}

bool MainWindow::AskYesNoWithOption(const std::string& text, const std::string& caption,
                                    QuestionOption& option) {
  return Ask(windowIcon(), text, caption, &option);
}

std::optional<std::string> MainWindow::ChooseFile(const FileChooser& chooser) {
  QFileDialog dialog(nullptr, QString(), QString(), Q(TranslateFileFilter(chooser.filter)));
  if (chooser.save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !chooser.confirmOverwrite);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (!chooser.defaultExtension.empty()) dialog.setDefaultSuffix(Q(chooser.defaultExtension));
  if (!chooser.initialName.empty()) dialog.selectFile(Q(chooser.initialName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return U(files.first());
}

void MainWindow::SendToWindow(const std::function<void()>& call) {
  if (QThread::currentThread() == thread()) {
    call();
    return;
  }
  // A queued call, waited for under our own mutex: the hand-over of `call` and of what it
  // writes is ordered by that mutex, visibly to the thread sanitizer too.
  std::mutex mutex;
  std::condition_variable ran;
  bool done = false;
  const std::function<void()>* pending = &call;
  QMetaObject::invokeMethod(
      this,
      [&] {
        const std::function<void()>* work;
        {
          std::lock_guard lock(mutex);
          work = pending;
        }
        (*work)();
        std::lock_guard lock(mutex);
        done = true;
        ran.notify_one();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex);
  ran.wait(lock, [&] { return done; });
}

void MainWindow::PostDelayed(int ms, std::function<void()> call) {
  QTimer::singleShot(ms, this, std::move(call));
}

void MainWindow::WaitUntil(const std::string& notice, const std::function<bool()>& done) {
  if (done()) return;
  QLabel note(Q(notice), this, Qt::Tool | Qt::FramelessWindowHint);
  note.setObjectName("waitNotice");
  note.setMargin(12);
  note.setAutoFillBackground(true);
  note.adjustSize();
  note.move(mapToGlobal(QPoint((width() - note.width()) / 2, 12)));
  note.show();

  QEventLoop wait;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &wait, [&] {
    if (done()) wait.quit();
  });
  poll.start(50);
  wait.exec();
}

void MainWindow::DeliverNotice(DeviceNotice notice) {
  if (dialog_ && !ended_) dialog_->OnDeviceChange(notice);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (background_.isNull()) background_ = Bitmap(kBackgroundBitmap);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(rect(), background_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (ended_ || !dialog_) {
    event->accept();
    return;
  }
  event->ignore();
  dialog_->OnClose();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      // Enter and Esc end the dialog, through the same path as the close box.
      if (dialog_ && !ended_) dialog_->OnClose();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void MainWindow::reject() {
  if (dialog_ && !ended_) dialog_->OnClose();
}

void MainWindow::accept() {
  if (dialog_ && !ended_) dialog_->OnClose();
}

std::string MainWindow::DroppedFile(const QMimeData* mime) const {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().first();
  return url.isLocalFile() ? U(url.toLocalFile()) : std::string();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  std::string path = DroppedFile(event->mimeData());
  if (dialog_ && !path.empty() && dialog_->AcceptsDrop(path)) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::string path = DroppedFile(event->mimeData());
  if (!dialog_ || path.empty() || !dialog_->AcceptsDrop(path)) return;
  event->acceptProposedAction();
  // The warning is a modal box: ask once the drop itself has finished.
  QTimer::singleShot(0, this, [this, path] {
    if (dialog_) dialog_->OnDropFile(path);
  });
}

}  // namespace rendax
