#include <stdlib.h>
#include <sys/resource.h>

#include "support/test_platform.h"

namespace quillfen::test {

const char* const kHomeVariable = "HOME";
const char* const kUnneededTemporaryFolderVariable = "TMPDIR";
const char* const kUnreadableFile = "/proc/self/mem";

void setVariable(const char* name, const std::optional<std::string>& value) {
  value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

double processorSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace quillfen::test
