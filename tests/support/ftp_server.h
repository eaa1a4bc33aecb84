#pragma once

#include <cstddef>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

struct FtpServerOptions {
  bool offerMlsd = true;           // false: the server knows LIST only
  std::string failingFile;         // a file name whose download breaks off after 64 KiB
  std::string shortFile = {};      // a file name whose download ends "complete" after half
  bool silent = false;             // accept connections and never answer
  std::size_t bytesPerSecond = 0;  // more than 0: downloads trickle at this rate
  std::string tls = {};            // "explicit" (AUTH TLS required) or "implicit" TLS
  std::filesystem::path certificate = {}, key = {};  // PEM files, for `tls`
  bool stallLogin = false;                           // never answer USER

  static FtpServerOptions trickling(std::size_t bytesPerSecond) {
    FtpServerOptions options;
    options.bytesPerSecond = bytesPerSecond;
    return options;
  }
};

// A pyftpdlib server on 127.0.0.1 and a free port, serving `root` to one user with read
// access. It stops with this object, by itself when the test process dies, and after 300 s.
class FtpServer {
 public:
  FtpServer(const std::filesystem::path& root, const std::string& user, const std::string& password,
            const FtpServerOptions& options = {})
      : server_([&] {
          std::vector<std::string> args{QUILLFEN_SYSTEM_PYTHON,
                                        QUILLFEN_TEST_SERVERS_DIR "/ftp_server.py"};
          args.insert(args.end(), {"--root", root.string(), "--user", user, "--password", password,
                                   "--stats", (stats_.path() / "stats").string(), "--fail-file",
                                   options.failingFile, "--short-file", options.shortFile,
                                   "--bytes-per-second", std::to_string(options.bytesPerSecond)});
          if (!options.offerMlsd) args.push_back("--no-mlsd");
          if (options.silent) args.push_back("--silent");
          if (options.stallLogin) args.push_back("--stall-login");
          if (!options.tls.empty())
            args.insert(args.end(), {"--tls", options.tls, "--certificate",
                                     options.certificate.string(), "--key", options.key.string()});
          return args;
        }()),
        port_(server_.announcedPort()) {}

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // How many control connections were made, and how many logins succeeded, so far: the server
  // writes one line per event.
  int connections() const { return count("connect"); }
  int logins() const { return count("login"); }
  // The commands received so far, in their order, without their arguments.
  std::vector<std::string> commands() const {
    std::vector<std::string> received;
    std::istringstream lines(readFile(stats_.path() / "stats"));
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("> ")) received.push_back(line.substr(2));
    return received;
  }

 private:
  int count(const std::string& event) const {
    const std::string text = readFile(stats_.path() / "stats");
    int found = 0;
    for (auto at = text.find(event); at != std::string::npos; at = text.find(event, at + 1))
      ++found;
    return found;
  }

  TempDir stats_;
  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
