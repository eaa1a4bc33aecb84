#include <pwd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/error.h"
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

// An anonymous file in memory, whatever TMPDIR says, named through the process's own
// descriptor.
KnownHostsFile::KnownHostsFile(const std::string& lines)
    : fd_(::memfd_create("quillfen-known-hosts", MFD_CLOEXEC)) {
  if (fd_ < 0) throw errorFromErrno(errno, kCannotGather, "memory");
  if (::write(fd_, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) {
    const int error = errno;
    ::close(fd_);
    throw errorFromErrno(error, kCannotGather, "memory");
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

KnownHostsFile::~KnownHostsFile() {
  ::close(fd_);
}

}  // namespace quillfen
