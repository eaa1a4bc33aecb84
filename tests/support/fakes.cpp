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

FakeEnvironment::FakeEnvironment(std::string exeFolder)
    : process(log, std::move(exeFolder)),
      frmMain([this] { return createControl(); }),
      services{clock,  sleeper, events,  window,  messages, process,
               format, frmMain, nullptr, nullptr, nullptr} {}

}  // namespace quillfen::test
