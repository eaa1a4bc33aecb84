#pragma once

#include <optional>
#include <string>

namespace quillfen {

// Tells a monitoring service about a run by a GET of a URL. A ping never fails the run: what
// went wrong comes back as text for the report.
class Pinger {
 public:
  virtual ~Pinger() = default;
  // Nothing once the server answered with a success; otherwise why the ping failed (the URL,
  // which may hold the check's secret token, is never part of it).
  virtual std::optional<std::string> ping(const std::string& url) = 0;
};

}  // namespace quillfen
