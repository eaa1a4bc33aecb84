#pragma once

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "common/server_trust.h"
#include "transfer/known_hosts.h"

namespace quillfen {

// The SSH side of an SFTP request: how the server's host key is checked and how the user logs
// in, set on the request's easy handle, and the reason of a failure in the user's words.
//
// Trust (sshTrustOf): the system store means the running user's ~/.ssh/known_hosts together
// with /etc/ssh/ssh_known_hosts; a pin is the one host key fingerprint accepted ("SHA256:<base64>"
// as ssh-keygen -l prints it); a file is a known_hosts file. A key that is unknown or
// differs from the one known is refused: an unattended run has nobody to ask; so is a key that
// a "@revoked" line of the known-hosts files names. The key the server presented is noted, so
// that the failure can name its fingerprint.
class SftpLogin {
 public:
  SftpLogin();
  ~SftpLogin();
  SftpLogin(const SftpLogin&) = delete;
  SftpLogin& operator=(const SftpLogin&) = delete;

  // Sets the host key check and the login (the key file and its passphrase when `keyFile` is
  // given, the password otherwise) for the next request. Throws Error when a setting is
  // refused or the known-hosts files cannot be gathered.
  void configure(CURL* easy, const ServerTrust& trust, const std::string& keyFile,
                 const std::string& password, int errorNumber);

  // The reason of a failed request in the user's words, when it failed for a reason of SSH's
  // own (the host key, the login); nothing for the others. `libcurlText` is libcurl's own text.
  std::optional<std::string> failureText(CURLcode code, const std::string& libcurlText) const;

  // libcurl's verbose text of the request, where it tells why a key file could not be used.
  void noteVerboseText(std::string_view text);

 private:
  void gatherKnownHosts(const std::string& trust);
  std::string hostKeyFailureText(const std::string& libcurlText) const;

  struct HostKeyNote;
  static int keyCallback(CURL*, const curl_khkey* known, const curl_khkey* found,
                         curl_khmatch match, void* user);

  std::unique_ptr<HostKeyNote> note_;
  std::string pinnedFingerprint_;  // "SHA256:..." of FtpTrust, or empty
  std::string keyFile_;
  std::optional<KnownHostsFile> knownHosts_;  // the known-hosts lines libcurl reads
  std::string gatheredFor_;                   // the trust it was gathered for
  std::set<std::string> revoked_;             // fingerprints of the keys of "@revoked" lines
};

}  // namespace quillfen
