#pragma once

// The progress window's controls in pixels at 96 dots per inch, as both builds of the window
// (Qt on Linux, Win32 on Windows) must place them: the client area and Frame1 in the window,
// the rest in Frame1. Written out rather than computed, so that a wrong conversion from twips
// shows.
namespace quillfen::test {

struct SplashBox {
  const char* control;
  int left, top, width, height;
};

inline constexpr SplashBox kClientArea96{"frmSplash", 0, 0, 492, 283};

inline constexpr SplashBox kFixedBoxes96[] = {
    {"Frame1", 8, 8, 472, 270},        {"imgLogo", 8, 21, 137, 215},
    {"lblWarning", 208, 176, 257, 13}, {"btoCancel", 400, 216, 65, 25},
    {"lblStatus", 8, 248, 145, 17},    {"ProgressBar1", 152, 248, 313, 17},
};

// The labels sized to their texts keep their design box's top and, horizontally, its centre
// (`centreOrRight` the centre column) or its right edge (one past the last column).
struct SizedLabel {
  const char* control;
  int top;
  bool rightAligned;
  int centreOrRight;
};

inline constexpr SizedLabel kSizedLabels96[] = {
    {"lblCompanyProduct", 47, false, 243},
    {"lblProductName", 104, false, 244},
    {"lblVersion", 152, true, 453},
};

}  // namespace quillfen::test
