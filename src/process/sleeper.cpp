#include "process/sleeper.h"

#include <chrono>
#include <thread>

namespace quillfen {

void ThreadSleeper::sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace quillfen
