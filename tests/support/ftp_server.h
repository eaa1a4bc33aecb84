#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

struct FtpServerOptions {
  bool offerMlsd = true;    // false: the server knows LIST only
  std::string failingFile;  // a file name whose download breaks off
  std::size_t failAfterBytes = 65536;
  bool silent = false;             // accept connections and never answer
  std::size_t bytesPerSecond = 0;  // more than 0: downloads trickle at this rate

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
            const FtpServerOptions& options = {});

  std::uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // How many control connections were made, and how many logins succeeded, so far.
  int connections() const { return countEvents("connect"); }
  int logins() const { return countEvents("login"); }

 private:
  int countEvents(const std::string& event) const;

  TempDir scratch_;
  ChildProcess server_;
  std::uint16_t port_;
};

}  // namespace quillfen::test
