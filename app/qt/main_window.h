// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt window: the main dialog's window layer. One fixed-size window with the background
// picture, the two picture buttons, the progress bar and its Cancel button, and below the picture
// a strip with the status line and the pedal selector.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QLinearGradient>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <array>

class QMimeData;

#include "app/main_dialog.h"
#include "app/window_geometry.h"
#include "app/window_layer.h"

namespace rendax {

// A push button drawn with one of four pictures (see PickFace).
class PictureButton : public QAbstractButton {
 public:
  explicit PictureButton(QWidget* parent);
  void SetFaces(const ButtonFaces& faces);
  Face CurrentFace() const { return PickFace(isDown(), hasFocus(), isEnabled()); }
  const QPixmap& FacePixmap(Face face) const { return faces_[static_cast<int>(face)]; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::array<QPixmap, 4> faces_;  // indexed by Face
};

// One line of text, cut with an ellipsis when the window is too narrow for it; text() stays whole
// (and is the accessible description, for screen readers).
class StatusLabel : public QLabel {
 public:
  explicit StatusLabel(QWidget* parent);
  void SetFullText(const QString& text);
  bool Elided() const;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void UpdateToolTip();
};

class MainWindow : public QDialog, public WindowLayer {
 public:
  MainWindow();
  ~MainWindow() override;

  // Attaches the dialog, runs its start-up and shows the window; RunModal also waits for the end.
  void Open(CSdkManager_MFCDlg& dialog);
  RENDAX_WINDOW_LAYER_OVERRIDES;

  // A file to import (the program was opened with it), taken as if dropped once the window is
  // on screen; Open does it.
  void OpenWhenShown(const std::string& path);

  // A device notice from the hot-plug source, on the window thread.
  void DeliverNotice(HotplugNotice notice);

  // Another start of the program handed over `path` ("" for none): the window comes to the front
  // and takes the file as if dropped on it, unless a question is already up.
  void TakeHandedOver(const std::string& path);
  // Said only while the user looks at another window: a desktop notification and a taskbar flash.
  void NotifyJobEnded(const std::string& title) override;

  PictureButton* ExportButton() const { return export_; }
  PictureButton* ImportButton() const { return import_; }
  QProgressBar* Progress() const { return progress_; }
  QAction* AboutAction() const { return about_; }
  QAction* RestoreAction() const { return restore_; }
  QAction* VerifyAction() const { return verify_; }
  StatusLabel* Status() const { return status_; }
  QPushButton* StatusLink() const { return link_; }
  QComboBox* PedalSelector() const { return pedals_; }
  QPushButton* CancelButton() const { return cancel_; }
  const LoopOutline& Outline() const { return outline_; }
  bool Ended() const { return ended_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  // Back from another program, which may have changed the pedal's loop.
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void accept() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAbstractButton* Button(int control) const;
  std::string DroppedFile(const QMimeData* mime) const;
  bool TakesDrop(const std::string& path) const;
  void BuildStrip();
  void ShowSelector();
  void DrawLoop(QPainter& painter) const;

  CSdkManager_MFCDlg* dialog_ = nullptr;
  PictureButton* export_;
  PictureButton* import_;
  QProgressBar* progress_;
  QPushButton* cancel_;
  QWidget* strip_ = nullptr;
  StatusLabel* status_ = nullptr;
  QPushButton* link_ = nullptr;
  QComboBox* pedals_ = nullptr;
  QAction* about_ = nullptr;
  QAction* restore_ = nullptr;
  QAction* verify_ = nullptr;
  bool verifyChecked_ = false;  // the mark the dialog last set
  QPointer<QWidget> focusBeforeCancel_;
  LoopOutline outline_;
  QPixmap background_;
  QLinearGradient stripShade_;
  QEventLoop loop_;
  std::string openWhenShown_;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace rendax
