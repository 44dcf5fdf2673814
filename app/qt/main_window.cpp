// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpacerItem>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "app/about.h"
#include "app/qt/desktop_notice.h"

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

using G = WindowGeometry;
using P = PictureLook;

QColor Colour(const Rgb& c) {
  return QColor(int(c.r), int(c.g), int(c.b));
}
QPoint Point(const WindowPoint& p) {
  return {p.x, p.y};
}
QRect Rect(const WindowRect& r) {
  return {r.left, r.top, r.width, r.height};
}
constexpr QSize kPicture{G::kPictureWidth, G::kPictureHeight};
const QColor kGold = Colour(P::kGold);
const QPointF kDiscCentre{P::kDiscX, P::kDiscY};

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

// ---- Status label ----

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void StatusLabel::SetFullText(const QString& text) {
  setText(text);
  setAccessibleDescription(text);
  UpdateToolTip();
  update();
}

bool StatusLabel::Elided() const {
  return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QSize StatusLabel::minimumSizeHint() const {
  // Room for the ellipsis alone: the layout may give the selector what it needs.
  return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")), sizeHint().height()};
}

void StatusLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  const QRect room = contentsRect();
  painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  UpdateToolTip();
}

void StatusLabel::UpdateToolTip() {
  setToolTip(Elided() ? text() : QString());
}

// ---- Main window ----

MainWindow::MainWindow() : QDialog(nullptr) {
  setWindowTitle(kAppName);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setAcceptDrops(true);

  export_ = new PictureButton(this);
  export_->setObjectName("export");
  export_->setAccessibleName(kNameExport);
  export_->setToolTip("Export");
  export_->move(Point(G::kExport));
  export_->resize(export_->sizeHint());
  import_ = new PictureButton(this);
  import_->setObjectName("import");
  import_->setAccessibleName(kNameImport);
  import_->setToolTip("Import");
  import_->move(Point(G::kImport));
  import_->resize(import_->sizeHint());

  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setGeometry(Rect(G::kProgress));
  progress_->setTextVisible(false);
  progress_->setFocusPolicy(Qt::NoFocus);
  progress_->setValue(0);

  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancel");
  cancel_->setAccessibleName(kNameCancel);
  cancel_->setGeometry(Rect(G::kCancel));
  cancel_->hide();

  BuildStrip();
  setFixedSize(kPicture.width(), kPicture.height() + strip_->height());

  // In reading order: the Import square sits above and left of the Export square.
  setTabOrder(import_, export_);
  setTabOrder(export_, link_);
  setTabOrder(link_, pedals_);
  setTabOrder(pedals_, cancel_);

  connect(export_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnExport();
  });
  connect(import_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnImport();
  });
  connect(cancel_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnCancel();
  });
  connect(link_, &QAbstractButton::clicked, this, [this] {
    if (dialog_) dialog_->OnStatusLink();
  });
  // `activated` comes from the user only, never from SetPedalChoices.
  connect(pedals_, &QComboBox::activated, this, [this](int index) {
    if (dialog_) dialog_->OnChoosePedal(index);
  });
}

void MainWindow::BuildStrip() {
  strip_ = new QWidget(this);
  strip_->setObjectName("strip");

  status_ = new StatusLabel(strip_);
  status_->setObjectName("status");
  status_->setAccessibleName(kNameStatus);
  QPalette light = status_->palette();
  light.setColor(QPalette::WindowText, Colour(P::kLettering));
  status_->setPalette(light);

  // A link in the picture's gold, on the picture's dark ground; its dotted frame shows the focus.
  link_ = new QPushButton(strip_);
  link_->setObjectName("statusLink");
  link_->setCursor(Qt::PointingHandCursor);
  QFont underlined = link_->font();
  underlined.setUnderline(true);
  link_->setFont(underlined);
  link_->setStyleSheet(QString("QPushButton { color: %1; background: transparent;"
                               " border: 1px solid transparent; padding: 1px 3px; }"
                               "QPushButton:focus { border: 1px dotted %1; }"
                               "QPushButton:hover { color: %2; }")
                           .arg(kGold.name(), kGold.lighter(125).name()));
  link_->hide();

  pedals_ = new QComboBox(strip_);
  pedals_->setObjectName("pedals");
  pedals_->setAccessibleName(kNamePedal);
  pedals_->setToolTip("The pedal to work with");
  pedals_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  pedals_->setMaximumWidth(G::kSelectorMaxWidth);
  pedals_->hide();

  auto* row = new QHBoxLayout(strip_);
  row->setContentsMargins(G::kStripMargin, 4, G::kStripMargin, 6);
  row->setSpacing(4);
  row->addWidget(status_);
  row->addWidget(link_);
  row->addStretch(1);
  row->addSpacing(8);
  row->addWidget(pedals_);

  const int controls = std::max(
      {status_->sizeHint().height(), link_->sizeHint().height(), pedals_->sizeHint().height()});
  strip_->setGeometry(0, kPicture.height(), kPicture.width(),
                      std::max(G::kMinStripHeight, controls + 10));
}

MainWindow::~MainWindow() = default;

void MainWindow::Open(CSdkManager_MFCDlg& dialog) {
  dialog_ = &dialog;
  ended_ = false;
  dialog.OnInitDialog();
  show();
  // Export has the focus at start, as it always had, though Import comes first on Tab.
  QWidget* first = export_->isEnabled()   ? static_cast<QWidget*>(export_)
                   : import_->isEnabled() ? static_cast<QWidget*>(import_)
                                          : nullptr;
  if (first) first->setFocus(Qt::OtherFocusReason);
  // The firmware check, then the file the program was opened with, from the window's own event
  // loop once the window is on screen: their questions and errors belong to the window.
  QTimer::singleShot(0, this, [this, file = std::exchange(openWhenShown_, {})] {
    if (dialog_ && !ended_) dialog_->OnShown();
    if (ended_) return;
    // The buttons the check enabled: Export has the focus, as it always had at start.
    if (!focusWidget() || !focusWidget()->isEnabled()) {
      if (export_->isEnabled()) {
        export_->setFocus(Qt::OtherFocusReason);
      } else if (import_->isEnabled()) {
        import_->setFocus(Qt::OtherFocusReason);
      }
    }
    if (dialog_ && !file.empty()) dialog_->OnDropFile(file);
  });
}

void MainWindow::OpenWhenShown(const std::string& path) {
  openWhenShown_ = path;
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

void MainWindow::AppendVerifyItem(const std::string& text, bool checked) {
  verify_ = new QAction(Q(text), this);
  verify_->setObjectName("verify");
  verify_->setCheckable(true);
  verify_->setChecked(checked);
  verifyChecked_ = checked;
  connect(verify_, &QAction::triggered, this, [this] {
    // The dialog decides the mark (CheckVerifyItem); Qt's own toggle is undone first.
    verify_->setChecked(verifyChecked_);
    if (dialog_) dialog_->OnToggleVerify();
  });
  // Before the restore item, whichever came first.
  insertAction(restore_, verify_);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::CheckVerifyItem(bool checked) {
  verifyChecked_ = checked;
  if (verify_) verify_->setChecked(checked);
}

void MainWindow::ShowAbout() {
  QDialog box(this);
  box.setObjectName("about");
  const std::string locale = LocaleName();
  box.setWindowTitle(Q(ForLocale(kAboutCaption, locale)));
  auto* icon = new QLabel(&box);
  icon->setPixmap(AppIcon(kIconGroup).pixmap(48, 48));
  auto* text = new QLabel(
      Q(CAboutDlg::Product(locale)) + "\n" + Q(ForLocale(kAboutDescription, locale)), &box);
  text->setObjectName("aboutText");
  auto* buttons = new QDialogButtonBox(&box);
  buttons->addButton(Q(ForLocale(kAboutOk, locale)), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  QPushButton* licences =
      buttons->addButton(Q(ForLocale(kAboutLicences, locale)), QDialogButtonBox::ActionRole);
  licences->setObjectName("licences");
  connect(licences, &QPushButton::clicked, &box, [&box, locale] {
    QMessageBox::information(&box, Q(ForLocale(kAboutCaption, locale)),
                             Q(CAboutDlg::LicenceNotice(RENDAX_LICENSE_FILE)));
  });
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  auto* column = new QVBoxLayout(&box);
  column->addLayout(row);
  column->addWidget(buttons);
  box.exec();
}

std::string MainWindow::LocaleName() const {
  return U(QLocale::system().name());
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
  } else if (control == kVerifyItem) {
    if (verify_) verify_->setEnabled(enable);
  } else if (control == kCancelButton) {
    cancel_->setEnabled(enable);
  } else if (control == kPedalSelector) {
    pedals_->setEnabled(enable);
    ShowSelector();
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

namespace {

// Every box's width: room for a title bar's caption and a path on a line of its own.
int BoxWidth(const QWidget* owner) {
  return owner->fontMetrics().averageCharWidth() * 64;
}

// The detail under a box's text, each path on a line of its own, elided in the middle to the
// box's width; true in `elided` when one was, so the whole detail goes into the box's details.
QString DetailText(const std::string& detail, const QFontMetrics& metrics, int width,
                   bool& elided) {
  QStringList lines;
  elided = false;
  for (const DetailPiece& piece :
       LayOutDetail(detail, [](const std::string& p) { return QFileInfo::exists(Q(p)); })) {
    QString line = Q(piece.text);
    if (piece.path) {
      const QString shown = metrics.elidedText(line, Qt::ElideMiddle, width);
      elided = elided || shown != line;
      line = shown + Q(piece.after);
    }
    lines << line;
  }
  return lines.join('\n');
}

// A box of the window's: the platform's icon, the application's name as its title, wide enough
// for it, text that can be selected and copied, and the detail laid out below.
void Prepare(QMessageBox& box, const std::string& text, const std::string& detail) {
  box.setWindowTitle(kAppName);
  box.setText(Q(text));
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  const int width = BoxWidth(box.parentWidget() ? box.parentWidget() : &box);
  if (!detail.empty()) {
    bool elided = false;
    // The text's column is the box's width less its icon and margins.
    box.setInformativeText(DetailText(detail, box.fontMetrics(), width * 2 / 3, elided));
    if (elided) box.setDetailedText(Q(detail));
  }
  // QMessageBox sizes itself to its text; a spacer across its grid sets the least width.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
}

QMessageBox::Icon IconOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Information:
      return QMessageBox::Information;
    case MessageKind::Warning:
      return QMessageBox::Warning;
    case MessageKind::Error:
      return QMessageBox::Critical;
  }
  return QMessageBox::Information;
}

}  // namespace

void MainWindow::ShowMessage(const std::string& text, const std::string& detail, MessageKind kind) {
  QMessageBox box(IconOf(kind), kAppName, QString(), QMessageBox::Ok, this);
  box.setObjectName("message");
  Prepare(box, text, detail);
  box.exec();
}

namespace {

// A Yes/No box of the window's, with the optional check box below its text. Every question
// comes before a write (a loop replaced, firmware written): No is the default for Enter and
// Esc. A question before a loop is replaced warns; the others ask.
bool Ask(QWidget* owner, QMessageBox::Icon icon, const std::string& text, QuestionOption* option,
         const char* name) {
  QMessageBox box(icon, kAppName, QString(), QMessageBox::Yes | QMessageBox::No, owner);
  box.setObjectName(name);
  Prepare(box, text, {});
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
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

bool MainWindow::AskYesNo(const std::string& text, const std::string& /*caption*/) {
  return Ask(this, QMessageBox::Question, text, nullptr, "question");
}

bool MainWindow::AskYesNoWithOption(const std::string& text, const std::string& /*caption*/,
                                    QuestionOption& option) {
  return Ask(this, QMessageBox::Question, text, &option, "question");
}

bool MainWindow::AskBeforeReplacing(const std::string& text, QuestionOption* option) {
  return Ask(this, QMessageBox::Warning, text, option, "replaceQuestion");
}

std::optional<std::string> MainWindow::ChooseFile(const FileChooser& chooser) {
  QFileDialog dialog(this, QString(), QString(), Q(TranslateFileFilter(chooser.filter)));
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

void MainWindow::SetStatus(const StatusLine& status) {
  status_->SetFullText(Q(status.text));
  link_->setText(Q(status.link));
  link_->setVisible(!status.link.empty());
}

void MainWindow::SetPedalChoices(const std::vector<std::string>& labels, int selected) {
  const QSignalBlocker quiet(pedals_);
  pedals_->clear();
  for (const std::string& label : labels) pedals_->addItem(Q(label));
  pedals_->setCurrentIndex(selected);
  ShowSelector();
}

void MainWindow::ShowSelector() {
  // Only a choice that can be made is shown: while a job runs the selector is disabled and
  // leaves its room to the job's longer status line.
  pedals_->setVisible(pedals_->count() >= 2 && pedals_->isEnabled());
}

void MainWindow::ShowCancel(bool show) {
  if (show) {
    if (!cancel_->isVisible()) focusBeforeCancel_ = focusWidget();
    cancel_->setEnabled(true);
    cancel_->show();
    cancel_->setFocus(Qt::OtherFocusReason);
    return;
  }
  // The window's own focus, kept while another window (a box, a chooser) is active.
  const bool hadFocus = focusWidget() == cancel_;
  cancel_->hide();
  if (!hadFocus) return;
  // The keyboard goes back to where it was before the job, else to a picture button.
  QWidget* back = focusBeforeCancel_;
  focusBeforeCancel_ = nullptr;
  if (!back || !back->isVisible() || !back->isEnabled()) {
    back = export_->isEnabled() ? export_ : import_->isEnabled() ? import_ : nullptr;
  }
  if (back) back->setFocus(Qt::OtherFocusReason);
}

void MainWindow::ShowLoopOutline(const LoopOutline& outline) {
  outline_ = outline;
  update();
}

void MainWindow::DeliverNotice(HotplugNotice notice) {
  if (dialog_ && !ended_) dialog_->OnDeviceChange(notice);
}

void MainWindow::TakeHandedOver(const std::string& path) {
  // The question on screen, if any, is what the user must see first.
  QWidget* front = QApplication::activeModalWidget();
  if (!front) front = this;
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  front->raise();
  front->activateWindow();
  if (QWindow* handle = front->windowHandle()) handle->requestActivate();
  if (path.empty() || ended_) return;
  if (!dialog_) {
    OpenWhenShown(path);  // not open yet: taken once it is
    return;
  }
  if (front != this) return;
  QTimer::singleShot(0, this, [this, path] {
    if (dialog_ && !ended_) dialog_->OnDropFile(path);
  });
}

void MainWindow::NotifyJobEnded(const std::string& title) {
  if (isActiveWindow()) return;
  NotifyDesktop(Q(title));
  QApplication::alert(this);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (background_.isNull()) {
    background_ = Bitmap(kBackgroundBitmap);
    // The strip continues the picture's bottom edge, so the two read as one surface: its
    // colours, sampled along that edge, run across the strip.
    const QImage edge = background_.toImage();
    stripShade_ = QLinearGradient(0, 0, kPicture.width(), 0);
    for (int i = 0; i <= 8; ++i) {
      stripShade_.setColorAt(i / 8.0,
                             edge.pixelColor((edge.width() - 1) * i / 8, edge.height() - 1));
    }
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const QRect picture(QPoint(0, 0), kPicture);
  painter.drawPixmap(picture, background_);
  painter.fillRect(QRect(0, picture.bottom() + 1, width(), height() - picture.height()),
                   stripShade_);
  if (!outline_.Empty()) DrawLoop(painter);
}

void MainWindow::DrawLoop(QPainter& painter) const {
  // From the picture's units to the window's: the picture is stretched onto kPicture.
  const double sx = kPicture.width() / P::kWidth;
  const double sy = kPicture.height() / P::kHeight;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);

  // The picture's decorative strokes are painted over with its own sky and glow, which the
  // ring then shows through, as if the picture had been drawn without them.
  painter.save();
  painter.scale(sx, sy);
  QPainterPath ring;
  ring.addEllipse(kDiscCentre, P::kStrokesOuter, P::kStrokesOuter);
  ring.addEllipse(kDiscCentre, P::kStrokesInner, P::kStrokesInner);
  // The sky runs along the picture's diagonal in its own box: t = (x / w + y / h) / 2.
  const double w = P::kWidth, h = P::kHeight;
  const double k = 2 / (1 / (w * w) + 1 / (h * h));
  QLinearGradient sky(QPointF(0, 0), QPointF(k / w, k / h));
  sky.setColorAt(0, Colour(P::kSkyTop));
  sky.setColorAt(1, Colour(P::kSkyBottom));
  painter.fillPath(ring, sky);
  QRadialGradient glow(kDiscCentre, P::kGlowRadius);
  QColor glowNear = Colour(P::kGlow), glowFar = glowNear;
  glowNear.setAlphaF(float(P::kGlowOpacity));
  glowFar.setAlphaF(0);
  glow.setColorAt(0, glowNear);
  glow.setColorAt(1, glowFar);
  painter.fillPath(ring, glow);
  painter.restore();

  // One stroke a slice, clockwise from the top, from the slice's lowest to its highest sample.
  // Drawn in window units, so the pen stays one logical pixel whatever the scale and screen.
  QColor gold = kGold;
  gold.setAlphaF(float(P::kRingOpacity));
  QPen pen(gold, 1.2, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(pen);
  for (const RingStroke& stroke : RingStrokes(outline_)) {
    painter.drawLine(QPointF(stroke.x0 * sx, stroke.y0 * sy),
                     QPointF(stroke.x1 * sx, stroke.y1 * sy));
  }
  painter.restore();
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && dialog_ && !ended_) dialog_->OnActivate();
  return QDialog::event(event);
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
      // On the selector Enter opens its list, as a person choosing a pedal expects, rather than
      // ending the program.
      if (pedals_->hasFocus()) {
        pedals_->showPopup();
        event->accept();
        return;
      }
      [[fallthrough]];
    case Qt::Key_Escape:
      // Enter and Esc end the dialog, through the same path as the close box: during a job
      // that waits for it, saying so. Esc never cancels a job; only the Cancel button does.
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

// Any one file is taken while the Import button is usable: one the import cannot read is refused
// with its reason rather than by the cursor alone.
bool MainWindow::TakesDrop(const std::string& path) const {
  return dialog_ && !path.empty() && dialog_->ImportPossible();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (TakesDrop(DroppedFile(event->mimeData()))) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  std::string path = DroppedFile(event->mimeData());
  if (!TakesDrop(path)) return;
  event->acceptProposedAction();
  // The warning is a modal box: ask once the drop itself has finished.
  QTimer::singleShot(0, this, [this, path] {
    if (dialog_) dialog_->OnDropFile(path);
  });
}

}  // namespace rendax
