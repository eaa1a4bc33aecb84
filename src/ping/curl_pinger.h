#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "ping/pinger.h"

namespace quillfen {

// Pings over libcurl's HTTP(S): a GET that follows at most three redirects, to http(s) only,
// and that ends with everything it waited for within `limit`.
class CurlPinger final : public Pinger {
 public:
  explicit CurlPinger(std::chrono::milliseconds limit = std::chrono::seconds(10));
  std::optional<std::string> ping(const std::string& url) override;

 private:
  std::chrono::milliseconds limit_;
};

}  // namespace quillfen
