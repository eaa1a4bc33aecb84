#include "support/fakes.h"

namespace quillfen::test {

namespace {
std::string number(float value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}
}  // namespace

void FakeSleeper::sleep(int milliseconds) {
  log_.push_back("sleep " + std::to_string(milliseconds));
  if (onSleep) onSleep(milliseconds);
}

void FakeEventPump::processEvents() {
  ++passes;
  log_.push_back("events");
  if (onProcess) onProcess();
  std::deque<std::function<void()>> ready;
  ready.swap(posted_);
  for (auto& task : ready) task();
}

void FakeSplashWindow::load() {
  log_.push_back("load");
  cancel = 0;
}

void FakeSplashWindow::setStatusCaption(const std::string& text) {
  status = text;
  log_.push_back("status " + text);
}

void FakeSplashWindow::setProgressMin(float v) {
  min = v;
  log_.push_back("min " + number(v));
}

void FakeSplashWindow::setProgressMax(float v) {
  max = v;
  log_.push_back("max " + number(v));
}

void FakeSplashWindow::setProgressValue(float v) {
  value = v;
  values.push_back(v);
  log_.push_back("value " + number(v));
}

void FakeSplashWindow::setProgressVisible(bool visible) {
  barVisible = visible;
  log_.push_back(visible ? "bar shown" : "bar hidden");
}

void FakeSplashWindow::clickCancel() {
  cancel = 1;
  setStatusCaption("Aborting...");
}

void FakeMessageBoxes::information(const std::string& title, const std::string& text) {
  log_.push_back("info [" + title + "] " + text);
}

void FakeMessageBoxes::error(const std::string& title, const std::string& text) {
  log_.push_back("error [" + title + "] " + text);
}

FakeEnvironment::FakeEnvironment(std::string exeFolder)
    : process(log, std::move(exeFolder)),
      frmMain([this] { return createControl(); }),
      services{clock, sleeper, events, window, messages, process, format, frmMain,
               nullptr, nullptr, nullptr} {}

}  // namespace quillfen::test
