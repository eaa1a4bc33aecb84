#pragma once

#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// The pings of a run to PingUrl, as monitoring services expect them: PingUrl + "/start" once
// the settings loaded, then PingUrl for a completed run (exit code 0) and PingUrl + "/fail" for
// an error, a cancel or an incomplete run (1, 3, 4). Without PingUrl, or without a pinger, none
// is sent. A ping never changes the run's outcome.

// The start ping. Its failure is kept in `run` for the report.
void PingStart(RunModule& run, Services& services);
// The ping of the outcome the exit code tells.
void PingOutcome(const RunModule& run, Services& services, int exitCode);

}  // namespace quillfen
