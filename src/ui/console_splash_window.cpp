#include "ui/console_splash_window.h"

#include <algorithm>
#include <cmath>

#include "ui/console_status_line.h"

namespace quillfen {

namespace {

constexpr std::size_t kStatusColumns = 24;  // "Sending notification..." and a blank
constexpr int kMinBarCells = 10;
constexpr int kMaxBarCells = 40;

// The filled share of the bar; an empty or inverted range shows an empty bar.
double filledShare(float min, float max, float value) {
  if (!(max > min)) return 0.0;
  return std::clamp((static_cast<double>(value) - min) / (static_cast<double>(max) - min), 0.0,
                    1.0);
}

std::string textBar(double share, int cells) {
  const int filled = static_cast<int>(std::floor(share * cells));
  const int percent = static_cast<int>(std::floor(share * 100));
  std::string percentText = std::to_string(percent) + "%";
  percentText.insert(0, 4 - percentText.size(), ' ');
  return "[" + std::string(filled, '#') + std::string(cells - filled, '-') + "] " + percentText;
}

}  // namespace

void ConsoleSplashWindow::load() {
  ensureLoaded();
}

void ConsoleSplashWindow::show() {
  ensureLoaded();
  shown_ = true;
  redraw();
}

void ConsoleSplashWindow::hide() {
  ensureLoaded();
  shown_ = false;
  line_.erase();
}

void ConsoleSplashWindow::unload() {
  if (!loaded_) return;
  if (shown_) line_.erase();
  loaded_ = false;
  shown_ = false;
}

void ConsoleSplashWindow::setStatusCaption(const std::string& text) {
  ensureLoaded();
  state_.status = text;
  redraw();
}

void ConsoleSplashWindow::setProgressMin(float value) {
  ensureLoaded();
  state_.min = value;
  redraw();
}

void ConsoleSplashWindow::setProgressMax(float value) {
  ensureLoaded();
  state_.max = value;
  redraw();
}

void ConsoleSplashWindow::setProgressValue(float value) {
  ensureLoaded();
  state_.value = value;
  redraw();
}

void ConsoleSplashWindow::setProgressVisible(bool visible) {
  ensureLoaded();
  state_.barVisible = visible;
  redraw();
}

int ConsoleSplashWindow::cancelValue() {
  ensureLoaded();
  return state_.cancel;
}

void ConsoleSplashWindow::pressCancel() {
  if (!loaded_ || !shown_) return;
  state_.cancel = 1;
  state_.status = "Aborting...";
  redraw();
  if (cancelReaction_) cancelReaction_();
}

std::string ConsoleSplashWindow::renderLine() const {
  std::string text = state_.status;
  if (!state_.barVisible) return text;
  if (text.size() < kStatusColumns) text.resize(kStatusColumns, ' ');
  const int room = line_.columns() - 1 - static_cast<int>(text.size()) - 7;
  const int cells = std::clamp(room, kMinBarCells, kMaxBarCells);
  return text + textBar(filledShare(state_.min, state_.max, state_.value), cells);
}

// Loading after an unload starts from the design-time state: flag 0, "Initializing...",
// bar hidden, window not shown.
void ConsoleSplashWindow::ensureLoaded() {
  if (loaded_) return;
  state_ = State{};
  loaded_ = true;
}

void ConsoleSplashWindow::redraw() {
  if (shown_) line_.draw(renderLine());
}

}  // namespace quillfen
