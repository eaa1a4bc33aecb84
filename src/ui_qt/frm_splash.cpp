#include "ui_qt/frm_splash.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "ui/splash_layout.h"

// The logo is compiled into the static library; registering it by hand keeps the linker from
// dropping it, since nothing else refers to the generated resource code.
static void registerSplashResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(splash);
    return true;
  }();
  (void)registered;
}

namespace quillfen {

namespace {

QRect pixels(const splash::TwipsBox& box) {
  const splash::PixelBox p = splash::toPixels(box, splash::kStandardDpi);
  return {p.left, p.top, p.width, p.height};
}

QFont fontOf(const splash::FontDesign& design) {
  QStringList families;
  for (const char* family : design.families) families << family;
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(design.points);
  font.setBold(design.bold);
  return font;
}

QFont fittedFont(const QFont& design, const QString& text, const QSize& box) {
  QFont font = design;
  while (font.pointSizeF() > splash::kSmallestPoints) {
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height()) break;
    font.setPointSizeF(font.pointSizeF() - splash::kFittingStepPoints);
  }
  return font;
}

bool producesCharacter(const QKeyEvent& key) {
  // Tab moves the focus, however little there is to move it to.
  return !key.text().isEmpty() && key.key() != Qt::Key_Tab && key.key() != Qt::Key_Backtab;
}

bool operatesButton(const QKeyEvent& key) {
  return key.key() == Qt::Key_Space || key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter ||
         key.key() == Qt::Key_Select;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setFont(font);
  return label;
}

}  // namespace

FrmSplash::FrmSplash(CloseQuestion askToClose) : askToClose_(std::move(askToClose)) {
  registerSplashResources();
  setObjectName("frmSplash");
  setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
  setWindowTitle(splash::kTitle);
  setFixedSize(pixels(splash::kClient).size());
  // Without a title bar the border is the window's own, drawn in the margin around Frame1.
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  setFont(fontOf(splash::kWindowFont));
  buildControls();
  for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);
  installEventFilter(this);
}

void FrmSplash::buildControls() {
  frame1_ = new QFrame(this);
  frame1_->setObjectName("Frame1");
  frame1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
  frame1_->setGeometry(pixels(splash::kFrame1));

  auto* logo = new QLabel(frame1_);
  logo->setObjectName("imgLogo");
  logo->setPixmap(QPixmap(":/quillfen/logo.jpg"));
  logo->setScaledContents(true);
  logo->setGeometry(pixels(splash::kLogo));

  auto* product = makeLabel(frame1_, "lblCompanyProduct", splash::kCompanyProductText,
                            fontOf(splash::kCompanyProductFont));
  placeSizedToText(*product, splash::kCompanyProduct, splash::Anchor::Centre);
  auto* name =
      makeLabel(frame1_, "lblProductName", splash::kProductNameText, fontOf(splash::kProductFont));
  placeSizedToText(*name, splash::kProductName, splash::Anchor::Centre);
  auto* version =
      makeLabel(frame1_, "lblVersion", splash::kVersionText, fontOf(splash::kProductFont));
  version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  placeSizedToText(*version, splash::kVersion, splash::Anchor::Right);

  const QRect warningBox = pixels(splash::kWarning);
  auto* warning =
      makeLabel(frame1_, "lblWarning", splash::kLegalNotice, fontOf(splash::kWarningFont));
  warning->setFont(fittedFont(warning->font(), warning->text(), warningBox.size()));
  warning->setGeometry(warningBox);

  btoCancel_ = new QPushButton(splash::kCancelText, frame1_);
  btoCancel_->setObjectName("btoCancel");
  btoCancel_->setAutoDefault(false);
  btoCancel_->setDefault(false);
  btoCancel_->setGeometry(pixels(splash::kCancelButton));
  connect(btoCancel_, &QPushButton::clicked, this, &FrmSplash::pressCancel);

  ckbCancel_ = new QCheckBox(splash::kCancelFlagText, frame1_);
  ckbCancel_->setObjectName("ckbCancel");
  ckbCancel_->setGeometry(pixels(splash::kCancelFlag));
  ckbCancel_->setFocusPolicy(Qt::NoFocus);
  ckbCancel_->hide();

  statusFont_ = font();
  lblStatus_ = makeLabel(frame1_, "lblStatus", "", statusFont_);
  lblStatus_->setGeometry(pixels(splash::kStatus));
  setStatus(splash::kInitialStatus);

  progressBar1_ = new QProgressBar(frame1_);
  progressBar1_->setObjectName("ProgressBar1");
  progressBar1_->setTextVisible(false);
  progressBar1_->setRange(0, splash::kBarSteps);
  progressBar1_->setGeometry(pixels(splash::kProgressBar));
  progressBar1_->hide();
  updateBar();

  // A click on anything but the bare frame (and the button) does nothing: it must not reach
  // the frame as if it had been made there.
  for (QWidget* control : frame1_->findChildren<QWidget*>()) {
    control->setAttribute(Qt::WA_NoMousePropagation);
  }
}

void FrmSplash::placeSizedToText(QLabel& label, const splash::TwipsBox& designBox,
                                 splash::Anchor anchor) {
  const QSize size = label.sizeHint();
  const splash::PixelBox box = splash::sizedToText(
      splash::toPixels(designBox, splash::kStandardDpi), size.width(), size.height(), anchor);
  label.setGeometry(box.left, box.top, box.width, box.height);
}

void FrmSplash::setStatus(const QString& text) {
  lblStatus_->setFont(fittedFont(statusFont_, text, pixels(splash::kStatus).size()));
  lblStatus_->setText(text);
}

void FrmSplash::setProgressMin(float value) {
  min_ = value;
  updateBar();
}

void FrmSplash::setProgressMax(float value) {
  max_ = value;
  updateBar();
}

void FrmSplash::setProgressValue(float value) {
  value_ = value;
  updateBar();
}

void FrmSplash::setProgressVisible(bool visible) {
  progressBar1_->setVisible(visible);
}

int FrmSplash::cancelValue() const {
  return ckbCancel_->isChecked() ? 1 : 0;
}

void FrmSplash::updateBar() {
  progressBar1_->setValue(splash::barPosition(min_, max_, value_));
}

void FrmSplash::showCentred() {
  if (!isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  show();
  btoCancel_->setFocus(Qt::OtherFocusReason);
}

void FrmSplash::pressCancel() {
  ckbCancel_->setChecked(true);
  setStatus(splash::kAbortingStatus);
  emit cancelPressed();
  QCoreApplication::processEvents();
}

bool FrmSplash::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      return handleKeyPress(watched, static_cast<const QKeyEvent&>(*event));
    case QEvent::MouseButtonPress:
      if (watched == frame1_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        framePressed_ = true;
      }
      return false;
    case QEvent::MouseButtonRelease: {
      if (watched != frame1_ || !framePressed_) return false;
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return false;
      framePressed_ = false;
      if (frame1_->rect().contains(mouse->position().toPoint())) askToCloseWindow();
      return true;
    }
    default:
      return false;
  }
}

// Key preview: the form sees every character key before the control with the focus. Enter or
// Space on the focused Cancel button asks first; answered No, the key goes on to press the
// button, so that Cancel stays reachable from the keyboard.
bool FrmSplash::handleKeyPress(QObject* watched, const QKeyEvent& key) {
  if (!producesCharacter(key)) return false;
  const bool pressesCancel = watched == btoCancel_ && operatesButton(key);
  if (askToCloseWindow()) return true;
  if (pressesCancel) pressCancel();
  return true;
}

bool FrmSplash::askToCloseWindow() {
  if (!askToClose_ || !askToClose_(*this)) return false;
  hide();
  emit closeRequested();
  return true;
}

// A close from outside (the window manager's close key) unloads the window like Yes does.
void FrmSplash::closeEvent(QCloseEvent* event) {
  QFrame::closeEvent(event);
  if (event->spontaneous()) emit closeRequested();
}

bool askToCloseWithMessageBox(QWidget& window) {
  QMessageBox box(QMessageBox::NoIcon, splash::kTitle, splash::kCloseQuestion,
                  QMessageBox::Yes | QMessageBox::No, &window);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace quillfen
