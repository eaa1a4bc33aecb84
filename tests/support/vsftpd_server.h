#pragma once

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

// vsftpd on 127.0.0.1 and a free port (tests/servers/vsftpd_server.py), serving `root` to
// anonymous users over TLS only, explicit or implicit, demanding TLS session reuse on data
// connections. It stops with this object, by itself when the test process dies, and after 300 s.
class VsftpdServer {
 public:
  VsftpdServer(const std::filesystem::path& root, const std::filesystem::path& certificate,
               const std::filesystem::path& key, bool implicitTls)
      : server_({QUILLFEN_SYSTEM_PYTHON, QUILLFEN_TEST_SERVERS_DIR "/vsftpd_server.py", "--root",
                 root.string(), "--certificate", certificate.string(), "--key", key.string(),
                 "--log", (log_.path() / "log").string(), "--tls",
                 implicitTls ? "implicit" : "explicit"}),
        port_(server_.announcedPort()) {}

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The logins the server's own log records so far: one per control connection (connections
  // are not counted, as the server's start-up probe makes one).
  int logins() const {
    const std::string text = readFile(log_.path() / "log");
    int found = 0;
    for (auto at = text.find("OK LOGIN: "); at != std::string::npos;
         at = text.find("OK LOGIN: ", at + 1))
      ++found;
    return found;
  }

 private:
  TempDir log_;
  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
