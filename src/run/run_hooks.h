#pragma once

#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// The hooks of Config.ini. Each runs through the system's shell (services.commands) for at most
// HookTimeout seconds with the run's facts in its environment: QUILLFEN_JOB (the configuration
// file's name), QUILLFEN_FOLDER (today's folder), QUILLFEN_REPORT (a temporary file holding the
// report so far) and, after the run, QUILLFEN_EXIT_CODE. No setting's value is passed on.

// RunBefore, when set. One that fails (exit code not 0), cannot be started or outlasts the limit
// adds its last output lines to the report and throws Error kHookFailed: the run ends there. A
// cancel stops it and leaves the run to end as cancelled.
void RunBeforeHook(RunModule& run, Services& services);

// After the mail and the pings: RunOnFailure when `exitCode` is not 0, then RunAfter; `report`
// is the report as it was mailed. A hook that fails is told as an error (services.messages);
// it changes nothing else.
void RunAfterHooks(RunModule& run, Services& services, int exitCode, const std::string& report);

}  // namespace quillfen
