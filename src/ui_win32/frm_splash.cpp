#include "ui_win32/frm_splash.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cmath>
#include <cwchar>

#include "common/windows_calls.h"
#include "ui/splash_layout.h"

namespace quillfen {

namespace {

constexpr wchar_t kFormClass[] = L"QuillfenSplash";
constexpr wchar_t kFrameClass[] = L"QuillfenSplashFrame";
constexpr wchar_t kLogoResource[] = L"QUILLFEN_LOGO";
// A fixed dialog border, no caption; a tool window has no task-bar button.
constexpr DWORD kFormStyle = WS_POPUP | WS_DLGFRAME | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_TOOLWINDOW;
constexpr DWORD kLabelStyle = WS_VISIBLE | SS_NOPREFIX | SS_NOTIFY;  // a label takes its clicks

HINSTANCE thisProgram() {
  return ::GetModuleHandleW(nullptr);
}

void registerClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = thisProgram();
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  ::RegisterClassExW(&windowClass);
}

HWND makeChild(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style,
               int id) {
  return ::CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), thisProgram(),
                           nullptr);
}

int CALLBACK noteFamilyFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// The design's first family that is installed; the last one when none is (GDI then picks the
// nearest it has).
std::wstring installedFamily(const splash::FontDesign& design) {
  HDC screen = ::GetDC(nullptr);
  std::wstring chosen;
  for (const char* family : design.families) {
    chosen = wideText(family);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(wanted.lfFaceName, chosen.c_str(), LF_FACESIZE - 1);
    bool found = false;
    ::EnumFontFamiliesExW(screen, &wanted, noteFamilyFound, reinterpret_cast<LPARAM>(&found), 0);
    if (found) break;
  }
  ::ReleaseDC(nullptr, screen);
  return chosen;
}

HFONT makeFont(const std::wstring& family, double points, bool bold, int dpi) {
  LOGFONTW font{};
  font.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = CLEARTYPE_QUALITY;
  std::wcsncpy(font.lfFaceName, family.c_str(), LF_FACESIZE - 1);
  return ::CreateFontIndirectW(&font);
}

HFONT makeFont(const splash::FontDesign& design, int dpi) {
  return makeFont(installedFamily(design), design.points, design.bold, dpi);
}

std::wstring textOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

SIZE textSize(HWND control, HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(control);
  HGDIOBJ previous = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, previous);
  ::ReleaseDC(control, dc);
  return size;
}

// The design font, made smaller in steps while `text` overflows `box`.
HFONT fittedFont(HWND control, const splash::FontDesign& design, const std::wstring& text,
                 const splash::PixelBox& box, int dpi) {
  const std::wstring family = installedFamily(design);
  for (double points = design.points;; points -= splash::kFittingStepPoints) {
    HFONT font = makeFont(family, points, design.bold, dpi);
    const SIZE size = textSize(control, font, text);
    const bool fits = size.cx <= box.width && size.cy <= box.height;
    if (fits || points - splash::kFittingStepPoints < splash::kSmallestPoints) return font;
    ::DeleteObject(font);
  }
}

void setFont(HWND control, HFONT font) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void place(HWND control, const splash::PixelBox& box) {
  ::SetWindowPos(control, nullptr, box.left, box.top, box.width, box.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

FrmSplash::FrmSplash(CloseQuestion askToClose, std::function<void()> closeRequested,
                     std::function<void()> cancelPressed)
    : askToClose_(std::move(askToClose)),
      closeRequested_(std::move(closeRequested)),
      cancelPressed_(std::move(cancelPressed)) {
  static const bool registered = [] {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                        ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    registerClass(kFormClass, formProcedure);
    registerClass(kFrameClass, frameProcedure);
    return true;
  }();
  (void)registered;
  window_ = ::CreateWindowExW(kFormExStyle, kFormClass, wideText(splash::kTitle).c_str(),
                              kFormStyle, 0, 0, 0, 0, nullptr, nullptr, thisProgram(), this);
  logo_ = static_cast<HBITMAP>(
      ::LoadImageW(thisProgram(), kLogoResource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  createControls();
  layOut(static_cast<int>(::GetDpiForWindow(window_)));
}

FrmSplash::~FrmSplash() {
  ::DestroyWindow(window_);
  for (HFONT font : fonts_) ::DeleteObject(font);
  ::DeleteObject(statusFitted_);
  ::DeleteObject(logo_);
}

void FrmSplash::createControls() {
  frame1_ = makeChild(window_, kFrameClass, L"", WS_VISIBLE | WS_CLIPCHILDREN, kFrame1);
  makeChild(frame1_, WC_STATICW, L"", WS_VISIBLE | SS_OWNERDRAW | SS_NOTIFY, kLogo);
  makeChild(frame1_, WC_STATICW, wideText(splash::kCompanyProductText), kLabelStyle,
            kCompanyProduct);
  makeChild(frame1_, WC_STATICW, wideText(splash::kProductNameText), kLabelStyle, kProductName);
  makeChild(frame1_, WC_STATICW, wideText(splash::kVersionText), kLabelStyle | SS_RIGHT, kVersion);
  makeChild(frame1_, WC_STATICW, wideText(splash::kLegalNotice), kLabelStyle, kWarning);
  HWND button = makeChild(frame1_, WC_BUTTONW, wideText(splash::kCancelText),
                          WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kCancelButton);
  ::SetWindowSubclass(button, buttonProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
  makeChild(frame1_, WC_BUTTONW, wideText(splash::kCancelFlagText), BS_AUTOCHECKBOX, kCancelFlag);
  makeChild(frame1_, WC_STATICW, L"", kLabelStyle | SS_LEFTNOWORDWRAP, kStatus);
  makeChild(frame1_, PROGRESS_CLASSW, L"", 0, kProgressBar);
  ::SendMessageW(control(kProgressBar), PBM_SETRANGE32, 0, splash::kBarSteps);
  setStatus(splash::kInitialStatus);
}

// Every box from twips at `dpi`, the fonts at that size, and the labels sized to their texts.
void FrmSplash::layOut(int dpi) {
  dpi_ = dpi;
  makeFonts(dpi);
  const splash::PixelBox client = splash::toPixels(splash::kClient, dpi);
  RECT outer{0, 0, client.width, client.height};
  ::AdjustWindowRectExForDpi(&outer, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(dpi));
  ::SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  place(frame1_, splash::toPixels(splash::kFrame1, dpi));
  const std::pair<Control, splash::TwipsBox> fixed[] = {{kLogo, splash::kLogo},
                                                        {kWarning, splash::kWarning},
                                                        {kCancelButton, splash::kCancelButton},
                                                        {kCancelFlag, splash::kCancelFlag},
                                                        {kStatus, splash::kStatus},
                                                        {kProgressBar, splash::kProgressBar}};
  for (const auto& [id, box] : fixed) place(control(id), splash::toPixels(box, dpi));
  placeSizedToText(kCompanyProduct, splash::kCompanyProduct, fonts_[0], splash::Anchor::Centre);
  placeSizedToText(kProductName, splash::kProductName, fonts_[1], splash::Anchor::Centre);
  placeSizedToText(kVersion, splash::kVersion, fonts_[1], splash::Anchor::Right);
}

// fonts_ holds, in this order: the product, the name and version, the notice, the window's.
void FrmSplash::makeFonts(int dpi) {
  const std::vector<HFONT> previous = std::move(fonts_);
  HWND warning = control(kWarning);
  fonts_ = {makeFont(splash::kCompanyProductFont, dpi), makeFont(splash::kProductFont, dpi),
            fittedFont(warning, splash::kWarningFont, textOf(warning),
                       splash::toPixels(splash::kWarning, dpi), dpi),
            makeFont(splash::kWindowFont, dpi)};
  setFont(control(kCompanyProduct), fonts_[0]);
  setFont(control(kProductName), fonts_[1]);
  setFont(control(kVersion), fonts_[1]);
  setFont(warning, fonts_[2]);
  setFont(control(kCancelButton), fonts_[3]);
  setFont(control(kCancelFlag), fonts_[3]);
  fitStatusFont();
  for (HFONT font : previous) ::DeleteObject(font);
}

void FrmSplash::placeSizedToText(Control id, const splash::TwipsBox& design, HFONT font,
                                 splash::Anchor anchor) {
  HWND label = control(id);
  const SIZE size = textSize(label, font, textOf(label));
  place(label, splash::sizedToText(splash::toPixels(design, dpi_), size.cx, size.cy, anchor));
}

void FrmSplash::fitStatusFont() {
  HWND status = control(kStatus);
  HFONT previous = statusFitted_;
  statusFitted_ = fittedFont(status, splash::kWindowFont, status_,
                             splash::toPixels(splash::kStatus, dpi_), dpi_);
  setFont(status, statusFitted_);
  ::DeleteObject(previous);
}

HWND FrmSplash::control(Control id) const {
  return id == kFrame1 ? frame1_ : ::GetDlgItem(frame1_, id);
}

void FrmSplash::setStatus(const std::string& text) {
  status_ = wideText(text);
  fitStatusFont();
  ::SetWindowTextW(control(kStatus), status_.c_str());
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
  ::ShowWindow(control(kProgressBar), visible ? SW_SHOWNA : SW_HIDE);
}

int FrmSplash::cancelValue() const {
  return ::SendMessageW(control(kCancelFlag), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void FrmSplash::updateBar() {
  ::SendMessageW(control(kProgressBar), PBM_SETPOS,
                 static_cast<WPARAM>(splash::barPosition(min_, max_, value_)), 0);
}

void FrmSplash::showCentred() {
  if (!isVisible()) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& area = monitor.rcWork;
    RECT own;
    ::GetWindowRect(window_, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    ::SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::ShowWindow(window_, SW_SHOW);
  ::SetFocus(control(kCancelButton));
}

void FrmSplash::hide() {
  ::ShowWindow(window_, SW_HIDE);
}

bool FrmSplash::isVisible() const {
  return ::IsWindowVisible(window_) != 0;
}

void FrmSplash::pressCancel() {
  ::SendMessageW(control(kCancelFlag), BM_SETCHECK, BST_CHECKED, 0);
  setStatus(splash::kAbortingStatus);
  if (cancelPressed_) cancelPressed_();
  ::RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void FrmSplash::paintLogo(const DRAWITEMSTRUCT& item) const {
  BITMAP picture{};
  if (logo_ == nullptr || ::GetObjectW(logo_, sizeof picture, &picture) == 0) return;
  HDC source = ::CreateCompatibleDC(item.hDC);
  HGDIOBJ previous = ::SelectObject(source, logo_);
  ::SetStretchBltMode(item.hDC, HALFTONE);
  ::SetBrushOrgEx(item.hDC, 0, 0, nullptr);
  const RECT& box = item.rcItem;
  ::StretchBlt(item.hDC, box.left, box.top, box.right - box.left, box.bottom - box.top, source, 0,
               0, picture.bmWidth, picture.bmHeight, SRCCOPY);
  ::SelectObject(source, previous);
  ::DeleteDC(source);
}

// Key preview: the form sees every character key before the control with the focus. Enter or
// Space on the Cancel button asks first; answered No, the key goes on to press the button, so
// that Cancel stays reachable from the keyboard. Tab moves the focus, however little there is
// to move it to.
bool FrmSplash::onCharacter(WPARAM character, bool onButton) {
  if (character == L'\t') return false;
  const bool pressesCancel = onButton && (character == L' ' || character == L'\r');
  if (askToCloseWindow()) return true;
  if (pressesCancel) pressCancel();
  return true;
}

bool FrmSplash::askToCloseWindow() {
  if (!askToClose_ || !askToClose_(window_)) return false;
  hide();
  if (closeRequested_) closeRequested_();
  return true;
}

LRESULT FrmSplash::onFormMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SETFOCUS:  // back from the close question, or activated again
      ::SetFocus(control(kCancelButton));
      return 0;
    case WM_CHAR:
      if (onCharacter(w, false)) return 0;
      break;
    case WM_DPICHANGED: {
      layOut(HIWORD(w));
      const RECT* suggested = reinterpret_cast<const RECT*>(l);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:  // Alt+F4: unloads the window as Yes does
      hide();
      if (closeRequested_) closeRequested_();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, w, l);
}

LRESULT FrmSplash::onFrameMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(frame1_, &paint);
      RECT edge;
      ::GetClientRect(frame1_, &edge);
      ::DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
      ::EndPaint(frame1_, &paint);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(w) == kCancelButton && HIWORD(w) == BN_CLICKED) pressCancel();
      return 0;
    case WM_DRAWITEM:
      paintLogo(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      ::SetBkColor(reinterpret_cast<HDC>(w), ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(reinterpret_cast<HDC>(w), ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    // A click on the bare frame: pressed and released there. Clicks on the controls (the
    // labels and the picture take theirs) never arrive here.
    case WM_LBUTTONDOWN:
      framePressed_ = true;
      ::SetCapture(frame1_);
      return 0;
    case WM_LBUTTONUP: {
      if (!framePressed_) return 0;
      framePressed_ = false;
      ::ReleaseCapture();
      RECT inside;
      ::GetClientRect(frame1_, &inside);
      if (::PtInRect(&inside, POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)})) askToCloseWindow();
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcW(frame1_, message, w, l);
}

LRESULT CALLBACK FrmSplash::formProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(l);
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<FrmSplash*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ != window) return ::DefWindowProcW(window, message, w, l);
  return self->onFormMessage(message, w, l);
}

// Frame1 belongs to the form that is its parent.
LRESULT CALLBACK FrmSplash::frameProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  auto* self =
      reinterpret_cast<FrmSplash*>(::GetWindowLongPtrW(::GetParent(window), GWLP_USERDATA));
  if (self == nullptr || self->frame1_ != window) return ::DefWindowProcW(window, message, w, l);
  return self->onFrameMessage(message, w, l);
}

// The Cancel button's keys: every character asks the close question first, and Space no longer
// clicks the button by itself (the character decides, once the question was answered).
LRESULT CALLBACK FrmSplash::buttonProcedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                            DWORD_PTR self) {
  switch (message) {
    case WM_CHAR:
      if (reinterpret_cast<FrmSplash*>(self)->onCharacter(w, true)) return 0;
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
      if (w == VK_SPACE) return 0;
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(window, buttonProcedure, 0);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(window, message, w, l);
}

bool askToCloseWithMessageBox(HWND window) {
  return ::MessageBoxW(window, wideText(splash::kCloseQuestion).c_str(),
                       wideText(splash::kTitle).c_str(), MB_YESNO | MB_DEFBUTTON1) == IDYES;
}

}  // namespace quillfen
