#pragma once

#include <chrono>
#include <string>

namespace quillfen {

struct RunModule;
struct RunTally;
struct Services;
class SystemLog;

// Why a run that completed is incomplete, each cause once, joined by "; ": "the listing failed:
// <reply>", "the source held no file", "2 files failed to download" (to copy, for a folder
// source), "1 folder could not be listed", "2 expired folders could not be deleted". Empty for
// a complete run.
std::string IncompleteCause(const RunModule& run);

// The cause of an exit code, for the system log: the error that ended the run (with the
// incomplete backup's cause when there was one too), the cancel, the refused settings, the
// incomplete backup's cause; empty for 0. One line, control characters shown as "?".
std::string OutcomeCause(const RunModule& run, int exitCode);

// The line a finished start leaves in the system log: exit code with its cause, files fetched,
// bytes, failures, folders pruned and duration, e.g.
// "run ended: exit code 4 (1 file failed to download), 3 files fetched, 1053576 bytes,
// 1 failures, 0 folders pruned, 7.4 s"; an exit code 0 has no cause.
std::string RunSummaryLine(int exitCode, const std::string& cause, const RunTally& tally,
                           std::chrono::milliseconds duration);

// The one line on standard error that names why a run ended incomplete (exit code 4), e.g.
// "Quillfen: Backup incomplete: 2 files failed to download, folder kept, nothing pruned", ended
// in error (exit code 1: "Quillfen: Error N: ...") or was refused its settings (exit code 2: the
// message that refused them). Empty for every other exit code.
std::string OutcomeLine(const RunModule& run, int exitCode);

// Main, then its summary line in `log`: information for a completed run, a warning for a
// cancelled or incomplete one, an error otherwise. A job named with -c leads it:
// "job web.ini on alpha: run ended: ...". "/config" only opens the file and leaves no
// line; every other start does, also one refused for its settings, which a scheduler's user
// would otherwise not see. Returns Main's exit code.
int MainWithSummary(RunModule& run, Services& services, const std::string& commandLine,
                    SystemLog& log);

}  // namespace quillfen
