#pragma once

#include <algorithm>
#include <cmath>
#include <span>

#include "quillfen_version.h"

// The progress window's design, shared by its two builds (Qt on Linux, Win32 on Windows): the
// controls' boxes in twips, their texts and their fonts. Each build turns the twips into pixels
// at its screen's resolution and finds the fonts it has.
namespace quillfen::splash {

struct TwipsBox {
  int left, top, width, height;
};

struct PixelBox {
  int left, top, width, height;
  int right() const { return left + width; }  // one past the last column
  bool operator==(const PixelBox&) const = default;
};

constexpr int kTwipsPerInch = 1440;
constexpr int kStandardDpi = 96;  // 15 twips to a pixel

// Rounded to the nearest pixel; at 96 dots per inch every design value is a whole pixel.
constexpr int toPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

constexpr PixelBox toPixels(const TwipsBox& box, int dpi) {
  return {toPixels(box.left, dpi), toPixels(box.top, dpi), toPixels(box.width, dpi),
          toPixels(box.height, dpi)};
}

constexpr TwipsBox kClient{0, 0, 7380, 4245};
constexpr TwipsBox kFrame1{120, 120, 7080, 4050};
// Inside Frame1:
constexpr TwipsBox kCompanyProduct{2355, 705, 2580, 630};
constexpr TwipsBox kProductName{2520, 1560, 2280, 300};
constexpr TwipsBox kVersion{5670, 2280, 1125, 300};
constexpr TwipsBox kWarning{3120, 2640, 3855, 195};
constexpr TwipsBox kLogo{120, 315, 2055, 3225};
constexpr TwipsBox kCancelButton{6000, 3240, 975, 375};
constexpr TwipsBox kCancelFlag{3120, 3120, 255, 255};
constexpr TwipsBox kStatus{120, 3720, 2175, 255};
constexpr TwipsBox kProgressBar{2280, 3720, 4695, 255};

constexpr const char* kTitle = "Quillfen";
constexpr const char* kCompanyProductText = "QUILLFEN";
constexpr const char* kProductNameText = "Tapeless backup system";
constexpr const char* kVersionText = "Version " QUILLFEN_VERSION_SHORT;
constexpr const char* kLegalNotice = "Provided as is, without warranty of any kind.";
constexpr const char* kCancelText = "Cancel";
constexpr const char* kCancelFlagText = "Check1";
constexpr const char* kInitialStatus = "Initializing...";
constexpr const char* kAbortingStatus = "Aborting...";
constexpr const char* kCloseQuestion =
    "Would you like to close this window (Quillfen will continue to run)?";

// A design font: its families in the order tried (the design's own first, then look-alikes
// commonly installed), its size and weight.
struct FontDesign {
  std::span<const char* const> families;
  double points;
  bool bold = false;
};

inline constexpr const char* kTempusSansFamilies[] = {"Tempus Sans ITC", "Comic Neue",
                                                      "Comic Sans MS", "Lato", "DejaVu Sans"};
inline constexpr const char* kArialFamilies[] = {"Arial", "Liberation Sans", "Arimo", "Helvetica",
                                                 "DejaVu Sans"};
inline constexpr const char* kWindowFamilies[] = {"MS Sans Serif", "Microsoft Sans Serif",
                                                  "Liberation Sans", "Arimo", "DejaVu Sans"};

constexpr FontDesign kCompanyProductFont{kTempusSansFamilies, 24, true};
constexpr FontDesign kProductFont{kTempusSansFamilies, 12};  // name and version
constexpr FontDesign kWarningFont{kArialFamilies, 8.25};
constexpr FontDesign kWindowFont{kWindowFamilies, 8.25};  // the status line and the button

// Fallback fonts often run wider than the design's: a text that would overflow its fixed box
// gets a smaller size of the same font, in these steps, down to this size at most.
constexpr double kFittingStepPoints = 0.25;
constexpr double kSmallestPoints = 6.0;

// The bar's float range is drawn on a fine integer scale.
constexpr int kBarSteps = 10000;

// The filled share (Value - Min) / (Max - Min), held within the bar, in bar steps; an empty or
// inverted range shows an empty bar rather than failing.
inline int barPosition(float min, float max, float value) {
  if (!(max > min)) return 0;
  const double share =
      std::clamp((static_cast<double>(value) - min) / (static_cast<double>(max) - min), 0.0, 1.0);
  return static_cast<int>(std::lround(share * kBarSteps));
}

enum class Anchor { Centre, Right };

// "Sized to its text": the label takes the size of its text in whatever font was found, and
// keeps the design box's top and, horizontally, its centre or right edge, so that a fallback
// font of another width leaves the panel's composition intact.
constexpr PixelBox sizedToText(const PixelBox& design, int textWidth, int textHeight,
                               Anchor anchor) {
  const int left = anchor == Anchor::Right
                       ? design.right() - textWidth
                       : (2 * design.left + design.width - 1) / 2 + 1 - textWidth / 2;
  return {left, design.top, textWidth, textHeight};
}

}  // namespace quillfen::splash
