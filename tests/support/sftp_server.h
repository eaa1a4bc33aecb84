#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

// Runs a tool of the system to its end and returns its output; throws when it fails.
inline std::string runTool(std::vector<std::string> argv) {
  ChildProcess tool(argv, true);
  tool.closeInput();
  if (tool.wait(std::chrono::seconds(60)) != 0)
    throw std::runtime_error(argv[0] + " failed: " + tool.errors());
  return tool.output();
}

// A key pair made by ssh-keygen: `path` (the private key, OpenSSH format) and `path`.pub.
inline std::filesystem::path makeSshKey(const std::filesystem::path& path,
                                        const std::string& type = "ed25519",
                                        const std::string& passphrase = "") {
  runTool({"/usr/bin/ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", "test", "-f",
           path.string()});
  return path;
}

// "SHA256:..." of a public key file, as ssh-keygen -l prints it.
inline std::string sshFingerprint(const std::filesystem::path& publicKey) {
  const std::string line = runTool({"/usr/bin/ssh-keygen", "-l", "-f", publicKey.string()});
  const auto start = line.find(' ') + 1;
  return line.substr(start, line.find(' ', start) - start);
}

struct SftpServerOptions {
  std::filesystem::path clientKey;  // a public key file: log in with that key only
  bool stall = false;               // log in, then never answer a listing or file request
};

// An asyncssh SFTP server on 127.0.0.1 and a free port, with a fresh ed25519 host key, serving
// `root` as the home folder of one user. It stops with this object, by itself when the test
// process dies, and after 300 s.
class SftpServer {
 public:
  SftpServer(const std::filesystem::path& root, const std::string& user,
             const std::string& password, const SftpServerOptions& options = {})
      : hostKey_(makeSshKey(files_.path() / "host_key")),
        server_([&] {
          std::vector<std::string> args{QUILLFEN_SYSTEM_PYTHON, "-W", "ignore",
                                        QUILLFEN_TEST_SERVERS_DIR "/sftp_server.py"};
          args.insert(args.end(), {"--root", root.string(), "--user", user, "--password", password,
                                   "--host-key", hostKey_.string(), "--stats",
                                   (files_.path() / "stats").string(), "--client-key",
                                   options.clientKey.string()});
          if (options.stall) args.push_back("--stall");
          return args;
        }()),
        port_(server_.announcedPort()) {}

  std::string address() const { return "sftp://127.0.0.1:" + std::to_string(port_); }
  // How a known_hosts line names the server, and the line for its own host key.
  std::string hostPattern() const { return "[127.0.0.1]:" + std::to_string(port_); }
  std::string knownHostsLine() const {
    return hostPattern() + " " + readFile(hostKey_.string() + ".pub");
  }
  std::string fingerprint() const { return sshFingerprint(hostKey_.string() + ".pub"); }
  // How many SSH connections were made, and how many logins succeeded, so far.
  int connections() const { return count("connect"); }
  int logins() const { return count("login"); }

 private:
  int count(const std::string& event) const {
    const std::string text = readFile(files_.path() / "stats");
    int found = 0;
    for (auto at = text.find(event); at != std::string::npos; at = text.find(event, at + 1))
      ++found;
    return found;
  }

  TempDir files_;
  std::filesystem::path hostKey_;
  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
