#pragma once

namespace quillfen {

// Blocks the calling thread. Injected so that tests of the run's fixed pauses do not wait.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleep(int milliseconds) = 0;
};

class ThreadSleeper final : public Sleeper {
 public:
  void sleep(int milliseconds) override;
};

}  // namespace quillfen
