#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "support/loopback_servers.h"

namespace quillfen::test {

struct FtpServerOptions {
  bool offerMlsd = true;           // false: the server knows LIST only
  std::string failingFile;         // a file name whose download breaks off after 64 KiB
  std::string shortFile = {};      // a file name whose download ends "complete" after half
  std::string endlessFile = {};    // a file name whose download goes on past its end for ever
  bool silent = false;             // accept connections and never answer
  std::size_t bytesPerSecond = 0;  // more than 0: downloads trickle at this rate
  int maxConnections = 0;          // more than 0: connections past it are refused with 421
  int maxLogins = 0;               // more than 0: logins past it are refused with 530
  std::string tls = {};            // "explicit" (AUTH TLS required) or "implicit" TLS
  std::filesystem::path certificate = {}, key = {};  // PEM files, for `tls`

  static FtpServerOptions trickling(std::size_t bytesPerSecond) {
    FtpServerOptions options;
    options.bytesPerSecond = bytesPerSecond;
    return options;
  }
};

// A pyftpdlib server serving `root` to one user with read access.
class FtpServer : public LoopbackServer {
 public:
  FtpServer(const std::filesystem::path& root, const std::string& user, const std::string& password,
            const FtpServerOptions& options = {})
      : LoopbackServer("ftp_server.py", [&](const std::filesystem::path& folder) {
          std::vector<std::string> args{
              "--root",     root.string(), "--user", user,
              "--password", password,      "--log",  (folder / "log").string()};
          args.insert(args.end(), {"--fail-file", options.failingFile, "--short-file",
                                   options.shortFile, "--endless-file", options.endlessFile});
          args.insert(args.end(), {"--bytes-per-second", std::to_string(options.bytesPerSecond),
                                   "--max-cons-per-ip", std::to_string(options.maxConnections),
                                   "--max-logins", std::to_string(options.maxLogins)});
          if (!options.offerMlsd) args.push_back("--no-mlsd");
          if (options.silent) args.push_back("--silent");
          if (!options.tls.empty())
            args.insert(args.end(), {"--tls", options.tls, "--certificate",
                                     options.certificate.string(), "--key", options.key.string()});
          return args;
        }) {}

  // How many control connections were made, and how many logins succeeded, so far.
  int connections() const { return count("connect"); }
  int logins() const { return count("login"); }
  // The files asked for with RETR so far, in their order.
  std::vector<std::string> retrieved() const { return logged("retr "); }
  // The commands received so far, in their order, without their arguments.
  std::vector<std::string> commands() const { return logged("> "); }
};

}  // namespace quillfen::test
