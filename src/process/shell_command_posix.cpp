#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "process/shell_command.h"

extern char** environ;

namespace quillfen {

namespace {

using Clock = std::chrono::steady_clock;
// How often a command whose output has ended, or that writes nothing, is looked at.
constexpr int kLookEveryMs = 50;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A file of the command's text, mode 0600, removed with this object.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& text) {
    std::error_code unknown;
    std::string pattern =
        (std::filesystem::temp_directory_path(unknown) / "quillfen-report-XXXXXX").string();
    if (unknown) pattern = "/tmp/quillfen-report-XXXXXX";
    const Descriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
    if (file.get() < 0) return;
    path_ = pattern;
    for (std::size_t written = 0; written < text.size();) {
      const ssize_t n = ::write(file.get(), text.data() + written, text.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
  }
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The program's environment with `variables` set, as "NAME=value" entries.
std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& variables) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [variable, value] : variables) replaced = replaced || variable == name;
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [variable, value] : variables) entries.push_back(variable + "=" + value);
  return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The shell in a process group of its own, its output into `output`, its input /dev/null, no
// other descriptor of ours, and the signals this program ignores or blocks back to normal.
std::optional<pid_t> spawnShell(const ShellCommand& command, std::vector<std::string> environment,
                                int output, std::string& failure) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigfillset(&defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string shell = "sh", option = "-c", line = command.commandLine;
  char* argv[] = {shell.data(), option.data(), line.data(), nullptr};
  std::vector<char*> envp = pointersTo(environment);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) return pid;
  failure = std::string("cannot start /bin/sh: ") + std::strerror(error);
  return std::nullopt;
}

void keepEnd(std::string& output, const char* data, std::size_t size) {
  output.append(data, size);
  if (output.size() > kCommandOutputKept) output.erase(0, output.size() - kCommandOutputKept);
}

enum class Read { Some, None, Ended };

// Reads what `fd` holds, waiting up to `waitMs` for something.
Read readSome(int fd, int waitMs, std::string& output) {
  pollfd ready{fd, POLLIN, 0};
  const int polled = ::poll(&ready, 1, waitMs);
  if (polled == 0 || (polled < 0 && errno == EINTR)) return Read::None;
  if (polled < 0) return Read::Ended;
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN ? Read::None : Read::Ended;
  if (n == 0) return Read::Ended;
  keepEnd(output, buffer, static_cast<std::size_t>(n));
  return Read::Some;
}

// What the output holds once the shell has ended; something it left behind that goes on
// writing is not read for ever.
void readRest(int fd, std::string& output) {
  constexpr int kMostReads = 256;
  for (int i = 0; i < kMostReads && readSome(fd, 0, output) == Read::Some; ++i) {
  }
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::optional<int> exitedStatus(pid_t pid, int options) {
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(pid, &status, options);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid) return status;
  return std::nullopt;
}

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kLookEveryMs));
}

}  // namespace

CommandOutcome HostCommandRunner::run(const ShellCommand& command) {
  CommandOutcome outcome;
  std::vector<std::pair<std::string, std::string>> variables = command.variables;
  std::optional<TemporaryFile> file;
  if (!command.fileVariable.empty()) {
    file.emplace(command.fileText);
    variables.emplace_back(command.fileVariable, file->path());
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    outcome.output = std::string("cannot make a pipe: ") + std::strerror(errno);
    return outcome;
  }
  Descriptor reading(ends[0]), writing(ends[1]);
  const std::optional<pid_t> pid =
      spawnShell(command, environmentWith(variables), writing.get(), outcome.output);
  writing.reset();
  if (!pid) return outcome;

  const Clock::time_point deadline = Clock::now() + command.limit;
  bool outputOpen = true;
  for (;;) {
    // The shell's end is its command's: what it left running in the background may keep the
    // output open, and is not waited for.
    if (const std::optional<int> status = exitedStatus(*pid, WNOHANG)) {
      if (outputOpen) readRest(reading.get(), outcome.output);
      outcome.end = CommandOutcome::End::Exited;
      outcome.exitCode = exitCodeOf(*status);
      return outcome;
    }
    if (Clock::now() >= deadline) break;
    if (command.keepGoing && !command.keepGoing()) {
      outcome.end = CommandOutcome::End::Stopped;
      break;
    }
    const int waitMs = millisecondsUntil(deadline);
    if (outputOpen) {
      outputOpen = readSome(reading.get(), waitMs, outcome.output) != Read::Ended;
    } else {
      ::poll(nullptr, 0, waitMs);
    }
  }
  ::kill(-*pid, SIGKILL);
  exitedStatus(*pid, 0);
  if (outcome.end != CommandOutcome::End::Stopped) outcome.end = CommandOutcome::End::TimedOut;
  return outcome;
}

}  // namespace quillfen
