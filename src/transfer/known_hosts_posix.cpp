#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/error.h"
#include "common/posix_file.h"
#include "transfer/known_hosts.h"

namespace quillfen {

namespace {

constexpr std::string_view kCannotGather = "Cannot gather the known host keys in";

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr) return entry->pw_dir;
  return {};
}

}  // namespace

std::vector<std::string> defaultKnownHostsFiles() {
  return {homeFolder() + "/.ssh/known_hosts", "/etc/ssh/ssh_known_hosts"};
}

std::string writeTemporaryKnownHosts(const std::string& text) {
  std::string path =
      (std::filesystem::temp_directory_path() / "quillfen-known-hosts-XXXXXX").string();
  FileDescriptor file(::mkstemp(path.data()));
  if (!file.valid()) throw errorFromErrno(errno, kCannotGather, path);
  if (::write(file.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    const int error = errno;
    ::unlink(path.c_str());
    throw errorFromErrno(error, kCannotGather, path);
  }
  return path;
}

void removeTemporaryKnownHosts(const std::string& path) noexcept {
  ::unlink(path.c_str());
}

}  // namespace quillfen
