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
#include <algorithm>
#include <cmath>

#include "quillfen_version.h"

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

// The window is laid out in twips, 15 to a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

QRect fromTwips(int left, int top, int width, int height) {
  return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
          height / kTwipsPerPixel};
}

const QSize kClientSize{7380 / kTwipsPerPixel, 4245 / kTwipsPerPixel};
const QRect kFrame1 = fromTwips(120, 120, 7080, 4050);
// Inside Frame1:
const QRect kCompanyProduct = fromTwips(2355, 705, 2580, 630);
const QRect kProductName = fromTwips(2520, 1560, 2280, 300);
const QRect kVersion = fromTwips(5670, 2280, 1125, 300);
const QRect kWarning = fromTwips(3120, 2640, 3855, 195);
const QRect kLogo = fromTwips(120, 315, 2055, 3225);
const QRect kCancelButton = fromTwips(6000, 3240, 975, 375);
const QRect kCancelFlag = fromTwips(3120, 3120, 255, 255);
const QRect kStatus = fromTwips(120, 3720, 2175, 255);
const QRect kProgressBar = fromTwips(2280, 3720, 4695, 255);

const char* const kLegalNotice = "Provided as is, without warranty of any kind.";
const char* const kCloseQuestion =
    "Would you like to close this window (Quillfen will continue to run)?";

// The bar's float range is drawn on a fine integer scale.
constexpr int kBarSteps = 10000;
constexpr double kSmallestPoints = 6.0;

QFont fontOf(const QStringList& families, double points, bool bold = false) {
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  font.setBold(bold);
  return font;
}

// Each design font first, then look-alikes commonly installed on Linux.
QFont tempusSans(double points, bool bold = false) {
  return fontOf({"Tempus Sans ITC", "Comic Neue", "Comic Sans MS", "Lato", "DejaVu Sans"}, points,
                bold);
}

QFont arial(double points) {
  return fontOf({"Arial", "Liberation Sans", "Arimo", "Helvetica", "DejaVu Sans"}, points);
}

QFont windowDefault() {
  return fontOf(
      {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"}, 8.25);
}

// Fallback fonts often run wider than the design's: a text that would overflow its fixed box
// gets a smaller size of the same font rather than being cut off.
QFont fittedFont(const QFont& design, const QString& text, const QSize& box) {
  QFont font = design;
  while (font.pointSizeF() > kSmallestPoints) {
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= box.width() && metrics.height() <= box.height()) break;
    font.setPointSizeF(font.pointSizeF() - 0.25);
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
  setWindowTitle("Quillfen");
  setFixedSize(kClientSize);
  // Without a title bar the border is the window's own, drawn in the margin around Frame1.
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  setFont(windowDefault());
  buildControls();
  for (QWidget* control : findChildren<QWidget*>()) control->installEventFilter(this);
  installEventFilter(this);
}

void FrmSplash::buildControls() {
  frame1_ = new QFrame(this);
  frame1_->setObjectName("Frame1");
  frame1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
  frame1_->setGeometry(kFrame1);

  auto* logo = new QLabel(frame1_);
  logo->setObjectName("imgLogo");
  logo->setPixmap(QPixmap(":/quillfen/logo.jpg"));
  logo->setScaledContents(true);
  logo->setGeometry(kLogo);

  auto* product = makeLabel(frame1_, "lblCompanyProduct", "QUILLFEN", tempusSans(24, true));
  placeSizedToText(*product, kCompanyProduct, Qt::AlignHCenter);
  auto* name = makeLabel(frame1_, "lblProductName", "Tapeless backup system", tempusSans(12));
  placeSizedToText(*name, kProductName, Qt::AlignHCenter);
  auto* version =
      makeLabel(frame1_, "lblVersion", "Version " QUILLFEN_VERSION_SHORT, tempusSans(12));
  version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  placeSizedToText(*version, kVersion, Qt::AlignRight);

  auto* warning = makeLabel(frame1_, "lblWarning", kLegalNotice, arial(8.25));
  warning->setFont(fittedFont(warning->font(), warning->text(), kWarning.size()));
  warning->setGeometry(kWarning);

  btoCancel_ = new QPushButton("Cancel", frame1_);
  btoCancel_->setObjectName("btoCancel");
  btoCancel_->setAutoDefault(false);
  btoCancel_->setDefault(false);
  btoCancel_->setGeometry(kCancelButton);
  connect(btoCancel_, &QPushButton::clicked, this, &FrmSplash::pressCancel);

  ckbCancel_ = new QCheckBox("Check1", frame1_);
  ckbCancel_->setObjectName("ckbCancel");
  ckbCancel_->setGeometry(kCancelFlag);
  ckbCancel_->setFocusPolicy(Qt::NoFocus);
  ckbCancel_->hide();

  statusFont_ = font();
  lblStatus_ = makeLabel(frame1_, "lblStatus", "", statusFont_);
  lblStatus_->setGeometry(kStatus);
  setStatus("Initializing...");

  progressBar1_ = new QProgressBar(frame1_);
  progressBar1_->setObjectName("ProgressBar1");
  progressBar1_->setTextVisible(false);
  progressBar1_->setRange(0, kBarSteps);
  progressBar1_->setGeometry(kProgressBar);
  progressBar1_->hide();
  updateBar();

  // A click on anything but the bare frame (and the button) does nothing: it must not reach
  // the frame as if it had been made there.
  for (QWidget* control : frame1_->findChildren<QWidget*>()) {
    control->setAttribute(Qt::WA_NoMousePropagation);
  }
}

// "Sized to its text": the label takes the size of its text in whatever font was found, and
// keeps the design box's top and, horizontally, its centre or right edge, so that a fallback
// font of another width leaves the panel's composition intact.
void FrmSplash::placeSizedToText(QLabel& label, const QRect& designBox, Qt::Alignment anchor) {
  const QSize size = label.sizeHint();
  const int left = anchor == Qt::AlignRight ? designBox.right() + 1 - size.width()
                                            : designBox.center().x() + 1 - size.width() / 2;
  label.setGeometry(QRect(QPoint(left, designBox.top()), size));
}

void FrmSplash::setStatus(const QString& text) {
  lblStatus_->setFont(fittedFont(statusFont_, text, kStatus.size()));
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

// The filled share is (Value - Min) / (Max - Min), held within the bar; an empty or inverted
// range shows an empty bar rather than failing.
void FrmSplash::updateBar() {
  double share = 0.0;
  if (max_ > min_) {
    share = std::clamp((static_cast<double>(value_) - min_) / (static_cast<double>(max_) - min_),
                       0.0, 1.0);
  }
  progressBar1_->setValue(static_cast<int>(std::lround(share * kBarSteps)));
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
  setStatus("Aborting...");
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
  QMessageBox box(QMessageBox::NoIcon, "Quillfen", kCloseQuestion,
                  QMessageBox::Yes | QMessageBox::No, &window);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace quillfen
