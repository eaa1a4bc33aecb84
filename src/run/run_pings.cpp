#include "run/run_pings.h"

#include <memory>
#include <optional>

#include "common/exit_code.h"
#include "ping/pinger.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// PingUrl + suffix; a trailing "/" of PingUrl is not doubled.
std::optional<std::string> ping(const RunModule& run, Services& services, const char* suffix) {
  std::string url = run.Settings.PingUrl;
  if (url.empty() || !services.createPinger) return std::nullopt;
  while (url.ends_with('/')) url.pop_back();
  return services.createPinger()->ping(url + suffix);
}

}  // namespace

void PingStart(RunModule& run, Services& services) {
  if (const auto failure = ping(run, services, "/start")) {
    run.StartPingFailure = "The monitoring ping at the start of the run failed: " + *failure;
  }
}

void PingOutcome(const RunModule& run, Services& services, int exitCode) {
  static_cast<void>(ping(run, services, exitCode == kExitCompleted ? "" : "/fail"));
}

}  // namespace quillfen
