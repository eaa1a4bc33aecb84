#pragma once

#include <string>
#include <vector>

namespace quillfen {

// Where SSH keeps the host keys an SFTP login trusts by default: the running user's file first,
// then the system's. Either may be missing.
std::vector<std::string> defaultKnownHostsFiles();

// libcurl reads known hosts from one file, by its name: this holds the given lines under a name
// for as long as it lives, readable by its owner only, and needs no writable folder where the
// system allows (TMPDIR may name a missing one). Making it throws Error.
class KnownHostsFile {
 public:
  explicit KnownHostsFile(const std::string& lines);
  ~KnownHostsFile();
  KnownHostsFile(const KnownHostsFile&) = delete;
  KnownHostsFile& operator=(const KnownHostsFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace quillfen
