#include <windows.h>

#include <cstdlib>

#include "support/test_platform.h"

namespace quillfen::test {

// Where the known-hosts files are looked for.
const char* const kHomeVariable = "USERPROFILE";
const char* const kUnneededTemporaryFolderVariable = "";
const char* const kUnreadableFile = "";

void setVariable(const char* name, const std::optional<std::string>& value) {
  ::_putenv_s(name, value ? value->c_str() : "");  // an empty value removes the variable
}

double processorSeconds() {
  FILETIME created, ended, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
  const auto seconds = [](const FILETIME& time) {  // in units of 100 ns
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace quillfen::test
