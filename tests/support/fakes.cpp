#include "support/fakes.h"

namespace quillfen::test {

void FakeEventPump::processEvents() {
  ++passes;
  log_.push_back("events");
  if (onProcess) onProcess();
  std::deque<std::function<void()>> ready;
  ready.swap(posted_);
  for (auto& task : ready) task();
}

std::unique_ptr<IoWatch> FakeEventPump::watchIo(IoHandlers) {
  struct NoWatch final : IoWatch {
    void watchSocket(int, bool, bool) override {}
    void startTimer(std::chrono::milliseconds) override {}
    void stopTimer() override {}
  };
  return std::make_unique<NoWatch>();
}

FakeEnvironment::FakeEnvironment(std::string exeFolder)
    : process(log, std::move(exeFolder)),
      frmMain([this] { return createControl(); }),
      services{clock,   sleeper, events,  window,  window,  messages,
               process, format,  frmMain, nullptr, nullptr, nullptr} {}

}  // namespace quillfen::test
