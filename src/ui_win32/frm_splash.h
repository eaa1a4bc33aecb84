#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/splash_layout.h"

namespace quillfen {

// The progress window with the Win32 API: a borderless, fixed panel without a title bar or a
// task-bar button, holding Frame1 and in it the logo, product name, version, legal notice,
// status line, progress bar and Cancel button. The hidden check box ckbCancel holds the cancel
// flag. Laid out from twips at the resolution of the monitor it is on, and again when it moves
// to a monitor of another resolution. A character key (over any control) or a click on the bare
// frame asks the close question; Yes hides the window and tells the owner, which unloads it.
class FrmSplash {
 public:
  // Asks the close question with `window` as the owner of the question; true for Yes.
  using CloseQuestion = std::function<bool(HWND window)>;
  // The controls' identifiers: Frame1 is a child of the window, the others children of Frame1.
  enum Control : int {
    kFrame1 = 100,
    kLogo,
    kCompanyProduct,
    kProductName,
    kVersion,
    kWarning,
    kCancelButton,
    kCancelFlag,
    kStatus,
    kProgressBar
  };

  FrmSplash(CloseQuestion askToClose, std::function<void()> closeRequested,
            std::function<void()> cancelPressed);
  ~FrmSplash();
  FrmSplash(const FrmSplash&) = delete;
  FrmSplash& operator=(const FrmSplash&) = delete;

  void setStatus(const std::string& text);
  void setProgressMin(float value);
  void setProgressMax(float value);
  void setProgressValue(float value);
  void setProgressVisible(bool visible);
  int cancelValue() const;

  // Shows the window centred on the primary monitor's work area with the focus on btoCancel.
  void showCentred();
  void hide();
  bool isVisible() const;
  // The Cancel button's reaction: flag 1, "Aborting...", and the text painted at once.
  void pressCancel();

  HWND window() const { return window_; }
  HWND control(Control id) const;

 private:
  static LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK frameProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK buttonProcedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                          DWORD_PTR self);
  LRESULT onFormMessage(UINT message, WPARAM w, LPARAM l);
  LRESULT onFrameMessage(UINT message, WPARAM w, LPARAM l);

  void createControls();
  void layOut(int dpi);
  void makeFonts(int dpi);
  void placeSizedToText(Control id, const splash::TwipsBox& design, HFONT font,
                        splash::Anchor anchor);
  void fitStatusFont();
  void updateBar();
  void paintLogo(const DRAWITEMSTRUCT& item) const;
  bool onCharacter(WPARAM character, bool onButton);
  bool askToCloseWindow();

  CloseQuestion askToClose_;
  std::function<void()> closeRequested_;
  std::function<void()> cancelPressed_;
  HWND window_ = nullptr;
  HWND frame1_ = nullptr;
  HBITMAP logo_ = nullptr;
  int dpi_ = 96;
  std::vector<HFONT> fonts_;  // the fonts of the current resolution, deleted with it
  HFONT statusFont_ = nullptr, statusFitted_ = nullptr;
  double statusPoints_ = 0;
  std::wstring status_;
  float min_ = 0, max_ = 100, value_ = 0;
  bool framePressed_ = false;
};

// The real close question: a modal box titled "Quillfen", no icon, Yes and No, Yes the default.
bool askToCloseWithMessageBox(HWND window);

}  // namespace quillfen
