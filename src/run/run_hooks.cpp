#include "run/run_hooks.h"

#include <chrono>
#include <deque>
#include <optional>

#include "common/error.h"
#include "common/text.h"
#include "config/configs.h"
#include "process/cancel_flag.h"
#include "process/event_pump.h"
#include "process/message_boxes.h"
#include "process/shell_command.h"
#include "process/splash_window.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// What of a hook's output is told: its last lines, each cut short.
constexpr std::size_t kLinesTold = 10;
constexpr std::size_t kLongestLineTold = 200;

std::string jobName(const Services& services) {
  const std::string path = Configs::configFilePath(services.process);
  return path.substr(path.find_last_of("/\\") + 1);
}

ShellCommand hookCommand(const RunModule& run, const Services& services,
                         const std::string& commandLine, const std::string& report,
                         std::optional<int> exitCode) {
  ShellCommand command;
  command.commandLine = commandLine;
  command.variables = {{"QUILLFEN_JOB", jobName(services)}, {"QUILLFEN_FOLDER", run.TodaysFolder}};
  if (exitCode) command.variables.emplace_back("QUILLFEN_EXIT_CODE", std::to_string(*exitCode));
  command.fileVariable = "QUILLFEN_REPORT";
  command.fileText = report;
  command.limit = std::chrono::seconds(run.Settings.HookTimeout);
  return command;
}

// The last non-empty lines of `output`, control characters shown as "?".
std::deque<std::string> lastLines(const std::string& output) {
  std::deque<std::string> lines;
  for (const std::string_view line : partsOf(output, '\n')) {
    const std::string_view text = trimmed(line, " \t\r");
    if (text.empty()) continue;
    lines.push_back(shownName(std::string(text.substr(0, kLongestLineTold))));
    if (lines.size() > kLinesTold) lines.pop_front();
  }
  return lines;
}

// "RunBefore failed (exit code 3)"; nothing when the hook did its work. The command line is not
// part of it: it may hold a password.
std::optional<std::string> failureOf(const char* key, const CommandOutcome& outcome,
                                     std::int32_t limitSeconds) {
  switch (outcome.end) {
    case CommandOutcome::End::Exited:
      if (outcome.exitCode == 0) return std::nullopt;
      return key + (" failed (exit code " + std::to_string(outcome.exitCode) + ")");
    case CommandOutcome::End::TimedOut:
      return key + (" did not end within " + std::to_string(limitSeconds) +
                    " s (HookTimeout) and was stopped");
    case CommandOutcome::End::Stopped:  // by a cancel, which ends the run as cancelled
      return std::nullopt;
    case CommandOutcome::End::NotStarted:
      break;
  }
  return key + (" could not be started: " + outcome.output);
}

std::string outputLines(const CommandOutcome& outcome) {
  std::string text;
  if (outcome.end == CommandOutcome::End::NotStarted) return text;
  for (const std::string& line : lastLines(outcome.output)) text += "  " + line + "\n";
  return text;
}

void runAfterHook(RunModule& run, Services& services, const char* key,
                  const std::string& commandLine, int exitCode, const std::string& report) {
  if (commandLine.empty()) return;
  const CommandOutcome outcome =
      services.commands.run(hookCommand(run, services, commandLine, report, exitCode));
  const std::optional<std::string> failure = failureOf(key, outcome, run.Settings.HookTimeout);
  if (!failure) return;
  std::string told = *failure;
  const std::deque<std::string> lines = lastLines(outcome.output);
  if (outcome.end != CommandOutcome::End::NotStarted && !lines.empty()) {
    told += "; its last output:";
    for (const std::string& line : lines) told += " | " + line;
  }
  services.messages.error("Quillfen", told);
}

}  // namespace

void RunBeforeHook(RunModule& run, Services& services) {
  if (run.Settings.RunBefore.empty()) return;
  services.frmSplash.setStatusCaption("Running RunBefore...");
  ShellCommand command =
      hookCommand(run, services, run.Settings.RunBefore, run.ActivityReport, std::nullopt);
  // The window stays alive meanwhile, and a cancel (its button, Ctrl-C, SIGTERM) stops the hook
  // at once instead of after HookTimeout.
  command.keepGoing = [&services] {
    services.events.processEvents();
    return !services.cancel.isSet();
  };
  const CommandOutcome outcome = services.commands.run(command);
  const std::optional<std::string> failure =
      failureOf("RunBefore", outcome, run.Settings.HookTimeout);
  if (!failure) return;
  const std::string lines = outputLines(outcome);
  if (!lines.empty()) run.ActivityReport += "The last output of RunBefore:\n" + lines;
  throw Error(errc::kHookFailed, *failure);
}

void RunAfterHooks(RunModule& run, Services& services, int exitCode, const std::string& report) {
  if (!run.SettingsLoaded) return;
  try {
    if (exitCode != 0)
      runAfterHook(run, services, "RunOnFailure", run.Settings.RunOnFailure, exitCode, report);
    runAfterHook(run, services, "RunAfter", run.Settings.RunAfter, exitCode, report);
  } catch (const std::exception& error) {
    services.messages.error("Quillfen", std::string("A hook could not be run: ") + error.what());
  }
}

}  // namespace quillfen
