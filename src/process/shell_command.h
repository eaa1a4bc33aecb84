#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillfen {

// A command line for the system's shell and what it is given.
struct ShellCommand {
  std::string commandLine;
  // Added to the environment the program itself was given (replacing a variable of that name).
  std::vector<std::pair<std::string, std::string>> variables;
  // When not empty: `fileText` is written to a temporary file only this user may read, its path
  // is the variable `fileVariable`, and the file is removed when the command has ended.
  std::string fileVariable;
  std::string fileText;
  std::chrono::milliseconds limit{0};  // after it the command is stopped
  // When set: asked every few hundredths of a second while the command runs (a chance to pass
  // the window's events); false stops the command as the limit does.
  std::function<bool()> keepGoing;
};

struct CommandOutcome {
  enum class End { Exited, TimedOut, Stopped, NotStarted };
  End end = End::NotStarted;
  int exitCode = -1;  // Exited: the shell's exit code (128 + N when signal N ended it)
  // The last few KiB of standard output and error together; NotStarted: why.
  std::string output;
};

// Runs command lines through the system's shell. Injected so that a run's hooks can be tested
// without starting or waiting for anything.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Runs `command` to its end or its limit, whichever comes first, and returns how it ended.
  virtual CommandOutcome run(const ShellCommand& command) = 0;
};

// The host's shell. Linux: /bin/sh -c, in a process group of its own that is killed whole (with
// whatever it started) at the limit; standard input is /dev/null, nothing else of this process
// is inherited. A command that exits while something it left in the background still holds its
// output ends there. Windows: cmd.exe /c in a job object that is ended whole at the limit.
class HostCommandRunner final : public CommandRunner {
 public:
  CommandOutcome run(const ShellCommand& command) override;
};

// The most of a command's output kept: its end.
inline constexpr std::size_t kCommandOutputKept = 8192;

}  // namespace quillfen
