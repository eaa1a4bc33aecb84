#pragma once

#include <QFont>
#include <QFrame>
#include <functional>

#include "ui/splash_layout.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace quillfen {

// The progress window: a borderless, fixed panel with the logo, product name, version, legal
// notice, status line, progress bar and Cancel button. The hidden check box ckbCancel holds
// the cancel flag. A character key (over any control) or a click on the bare frame asks the
// close question; Yes emits closeRequested, and the owner unloads the window.
class FrmSplash final : public QFrame {
  Q_OBJECT

 public:
  // Asks the close question with `window` as the owner of the question; true for Yes.
  using CloseQuestion = std::function<bool(QWidget& window)>;

  explicit FrmSplash(CloseQuestion askToClose);

  void setStatus(const QString& text);
  void setProgressMin(float value);
  void setProgressMax(float value);
  void setProgressValue(float value);
  void setProgressVisible(bool visible);
  int cancelValue() const;

  // Shows the window centred on the screen with the focus on btoCancel.
  void showCentred();
  // The Cancel button's reaction: flag 1, "Aborting...", and one pass of events so that the
  // text is painted at once.
  void pressCancel();

 signals:
  void closeRequested();
  void cancelPressed();  // after the flag was set

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void placeSizedToText(QLabel& label, const splash::TwipsBox& designBox, splash::Anchor anchor);
  void updateBar();
  bool handleKeyPress(QObject* watched, const QKeyEvent& key);
  bool askToCloseWindow();

  CloseQuestion askToClose_;
  QFrame* frame1_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QFont statusFont_;
  QProgressBar* progressBar1_ = nullptr;
  QPushButton* btoCancel_ = nullptr;
  QCheckBox* ckbCancel_ = nullptr;
  float min_ = 0, max_ = 100, value_ = 0;
  bool framePressed_ = false;
};

// The real close question: a modal box titled "Quillfen", no icon, Yes and No, Yes the default.
bool askToCloseWithMessageBox(QWidget& window);

}  // namespace quillfen
