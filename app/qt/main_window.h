// The Qt window: the main dialog's window layer. One fixed-size window with the background
// picture, the two picture buttons and the progress bar.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QEventLoop>
#include <QPixmap>
#include <QProgressBar>
#include <array>

class QMimeData;

#include "app/main_dialog.h"
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

// Where things sit in the 460 x 306 client area (the background picture is drawn for this size).
struct WindowGeometry {
  static constexpr QSize kClient{460, 306};
  static constexpr QPoint kExport{136, 150};
  static constexpr QPoint kImport{30, 92};
  static constexpr QRect kProgress{12, 272, 315, 19};
};

class MainWindow : public QDialog, public WindowLayer {
 public:
  MainWindow();
  ~MainWindow() override;

  // Attaches the dialog, runs its start-up and shows the window; RunModal also waits for the end.
  void Open(CSdkManager_MFCDlg& dialog);
  int RunModal(CSdkManager_MFCDlg& dialog) override;
  void EndDialog(int result) override;
  void AppendAboutItem(const std::string& text) override;
  void AppendRestoreItem(const std::string& text) override;
  void ShowAbout() override;
  void SetIcons(int iconGroup) override;
  void EnableControl(int control, bool enable) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void LoadButtonFaces(int control, const ButtonFaces& faces) override;
  void ShowMessage(const std::string& text, const std::string& detail) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  bool AskYesNoWithOption(const std::string& text, const std::string& caption,
                          QuestionOption& option) override;
  std::optional<std::string> ChooseFile(const FileChooser& chooser) override;
  void SendToWindow(const std::function<void()>& call) override;
  void PostDelayed(int ms, std::function<void()> call) override;
  void WaitUntil(const std::string& notice, const std::function<bool()>& done) override;

  // A device notice from the hot-plug source, on the window thread.
  void DeliverNotice(DeviceNotice notice);

  PictureButton* ExportButton() const { return export_; }
  PictureButton* ImportButton() const { return import_; }
  QProgressBar* Progress() const { return progress_; }
  QAction* AboutAction() const { return about_; }
  QAction* RestoreAction() const { return restore_; }
  bool Ended() const { return ended_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void accept() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAbstractButton* Button(int control) const;
  std::string DroppedFile(const QMimeData* mime) const;

  CSdkManager_MFCDlg* dialog_ = nullptr;
  PictureButton* export_;
  PictureButton* import_;
  QProgressBar* progress_;
  QAction* about_ = nullptr;
  QAction* restore_ = nullptr;
  QPixmap background_;
  QEventLoop loop_;
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace rendax
