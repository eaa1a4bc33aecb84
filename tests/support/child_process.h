#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace quillfen::test {

// True when the process whose /proc folder is `process` ("/proc/self" for this one) has a file
// open below `folder`: a file being written there, whether it has a name yet or not.
bool hasFileOpenBelow(const std::string& process, const std::filesystem::path& folder);

// A child process whose standard input is a pipe from here and whose output (and, with
// `captureErrors`, error) goes to files. The test servers end when their input closes; the
// destructor closes it and kills a child still there after a grace of five seconds.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, bool captureErrors = false);
  ~ChildProcess() {
    closeInput();
    wait(std::chrono::seconds(5));
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The port of the "PORT <n>" line the test servers print once they listen; throws when none
  // comes within the deadline.
  int announcedPort(std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    for (const auto until = std::chrono::steady_clock::now() + deadline;
         output().find('\n') == std::string::npos && running() &&
         std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (output().rfind("PORT ", 0) != 0 || output().find('\n') == std::string::npos)
      throw std::runtime_error("the test server announced no port; its errors are above");
    return std::stoi(output().substr(5));
  }
  bool running() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  bool hasFileOpenBelow(const std::filesystem::path& folder) {
    return running() && test::hasFileOpenBelow("/proc/" + std::to_string(pid_), folder);
  }
  void signal(int number) {
    if (running()) ::kill(pid_, number);
  }
  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  // Waits for the child to end, killing it past the deadline. Its exit code; -1 when killed.
  int wait(std::chrono::milliseconds deadline) {
    for (const auto until = std::chrono::steady_clock::now() + deadline;
         running() && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (running() && ::kill(pid_, SIGKILL) == 0 && ::waitpid(pid_, &status_, 0) == pid_) pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  std::string output() const { return readFile(files_.path() / "out"); }
  std::string errors() const { return readFile(files_.path() / "err"); }

 private:
  TempDir files_;
  pid_t pid_ = -1;  // -1 once reaped
  int status_ = 0;
  int input_ = -1;
};

// Runs a tool to its end and returns its output; throws when it fails.
inline std::string runTool(std::vector<std::string> argv) {
  ChildProcess tool(argv, true);
  tool.closeInput();
  if (tool.wait(std::chrono::seconds(60)) != 0)
    throw std::runtime_error(argv[0] + " failed: " + tool.errors());
  return tool.output();
}

}  // namespace quillfen::test
