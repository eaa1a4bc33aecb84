#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "common/error.h"
#include "transfer/known_hosts.h"

namespace quillfen {

namespace {

constexpr std::string_view kCannotGather = "Cannot gather the known host keys in";

// An environment variable as UTF-8; empty when unset.
std::string environmentFolder(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  if (value == nullptr) return {};
  const std::u8string text = std::filesystem::path(value).u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path fromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace

// The places Windows' OpenSSH uses.
std::vector<std::string> defaultKnownHostsFiles() {
  return {environmentFolder(L"USERPROFILE") + "\\.ssh\\known_hosts",
          environmentFolder(L"ProgramData") + "\\ssh\\ssh_known_hosts"};
}

// Windows has no file in memory that another library can open by name: the user's temporary
// folder is theirs alone, and the file is made new (never an existing one) and removed again.
KnownHostsFile::KnownHostsFile(const std::string& lines) {
  std::random_device random;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quillfen-known-hosts-" + std::to_string(random()));
  const std::u8string name = path.u8string();
  const std::string shown(name.begin(), name.end());
  int fd = -1;
  if (_wsopen_s(&fd, path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                _S_IREAD | _S_IWRITE) != 0) {
    throw errorFromErrno(errno, kCannotGather, shown);
  }
  const bool written = _write(fd, lines.data(), static_cast<unsigned>(lines.size())) ==
                       static_cast<int>(lines.size());
  const int error = errno;
  _close(fd);
  if (!written) {
    _wunlink(path.c_str());
    throw errorFromErrno(error, kCannotGather, shown);
  }
  path_ = shown;
}

KnownHostsFile::~KnownHostsFile() {
  std::error_code ignored;
  std::filesystem::remove(fromUtf8(path_), ignored);
}

}  // namespace quillfen
