#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quillfen::test {

// A child process whose standard input is a pipe from here and whose output (and, with
// `captureErrors`, error) is kept; errors not captured go to this process's standard error. The
// test servers end when their input closes; the destructor closes it and kills a child still
// there after a grace of five seconds. On Windows the child is a Linux program, started and
// relayed by tests/servers/broker.py (child_process_win32.cpp): argv names Linux programs on
// both systems, and arguments that are Windows paths reach it as the same files' Linux paths.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> argv, bool captureErrors = false);
  ~ChildProcess();
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
  bool running();
  // Linux only (it looks in /proc): true when the child has a file open below `folder`, a file
  // being written there, whether it has a name yet or not.
  bool hasFileOpenBelow(const std::filesystem::path& folder);
  // Linux only: sends the signal `number` to the child.
  void signal(int number);
  void closeInput();
  // Waits for the child to end, killing it past the deadline. Its exit code; -1 when killed.
  int wait(std::chrono::milliseconds deadline);
  std::string output() const;
  std::string errors() const;

 private:
  struct Process;  // the system's handles on the child
  std::unique_ptr<Process> process_;
};

// Runs a tool to its end and returns its output without its last line end; throws when it fails.
inline std::string runTool(std::vector<std::string> argv) {
  ChildProcess tool(argv, true);
  tool.closeInput();
  if (tool.wait(std::chrono::seconds(60)) != 0)
    throw std::runtime_error(argv[0] + " failed: " + tool.errors());
  std::string output = tool.output();
  if (output.ends_with('\n')) output.pop_back();
  return output;
}

}  // namespace quillfen::test
