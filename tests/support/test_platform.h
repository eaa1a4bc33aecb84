#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace quillfen::test {

// What the tests ask of the system where Linux and Windows differ (test_platform_posix.cpp,
// test_platform_win32.cpp).

// The environment variable that names the user's home folder.
extern const char* const kHomeVariable;
// The one that names the temporary folder where an SFTP login needs none (TMPDIR); empty on
// Windows, where the known host keys are gathered in a file of that folder.
extern const char* const kUnneededTemporaryFolderVariable;

// A file whose every read fails, for a link to it ("/proc/self/mem"); empty on Windows, which
// has none.
extern const char* const kUnreadableFile;

// Sets an environment variable of this process, or removes it.
void setVariable(const char* name, const std::optional<std::string>& value);

// The processor time this process has used so far, in seconds.
double processorSeconds();

// Sets an environment variable while it lives.
struct ScopedVariable {
  ScopedVariable(const char* name, const std::string& value) : name(name) {
    if (const char* old = std::getenv(name)) saved = old;
    setVariable(name, value);
  }
  ~ScopedVariable() { setVariable(name, saved); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;
  const char* name;
  std::optional<std::string> saved;
};

}  // namespace quillfen::test
