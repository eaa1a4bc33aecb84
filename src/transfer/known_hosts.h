#pragma once

#include <string>
#include <vector>

namespace quillfen {

// Where SSH keeps the host keys an SFTP login trusts by default: the running user's file first,
// then the system's. Either may be missing.
std::vector<std::string> defaultKnownHostsFiles();

// libcurl reads a single known-hosts file: these make one, readable by its owner only, from the
// joined text of several, and remove it again. Writing throws Error.
std::string writeTemporaryKnownHosts(const std::string& text);
void removeTemporaryKnownHosts(const std::string& path) noexcept;

}  // namespace quillfen
