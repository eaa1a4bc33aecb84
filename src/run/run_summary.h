#pragma once

#include <chrono>
#include <string>

namespace quillfen {

struct RunModule;
struct RunTally;
struct Services;
class SystemLog;

// The line a finished start leaves in the system log: exit code, files fetched, bytes,
// failures, folders pruned and duration, e.g.
// "run ended: exit code 0, 3 files fetched, 1053576 bytes, 0 failures, 2 folders pruned, 7.4 s".
std::string RunSummaryLine(int exitCode, const RunTally& tally, std::chrono::milliseconds duration);

// Main, then its summary line in `log`: information for a completed run, a warning for a
// cancelled or incomplete one, an error otherwise. "/config" only opens the file and leaves no
// line; every other start does, also one refused for its settings, which a scheduler's user
// would otherwise not see. Returns Main's exit code.
int MainWithSummary(RunModule& run, Services& services, const std::string& commandLine,
                    SystemLog& log);

}  // namespace quillfen
