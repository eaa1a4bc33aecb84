#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace quillfen::test {

// A loopback HTTP server that notes the path of every GET and answers 200, or, silent, accepts
// connections and never answers. It ends by itself like the other test servers.
class PingServer {
 public:
  enum class Mode { Answer, Silent };

  explicit PingServer(Mode mode = Mode::Answer)
      : server_(mode == Mode::Silent
                    ? std::vector<std::string>{QUILLFEN_SYSTEM_PYTHON, script(), "--silent"}
                    : std::vector<std::string>{QUILLFEN_SYSTEM_PYTHON, script()}),
        port_(server_.announcedPort()) {}

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The paths requested so far, in order.
  std::vector<std::string> paths() const {
    std::vector<std::string> found;
    std::istringstream in(server_.output());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("GET ", 0) == 0) found.push_back(line.substr(4));
    return found;
  }

 private:
  static std::string script() { return std::string(QUILLFEN_TEST_SERVERS_DIR) + "/ping_server.py"; }

  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
