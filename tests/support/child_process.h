#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quillfen::test {

// A child process with pipes on its standard streams. The test servers end when their input
// closes; the destructor closes it and kills a child still there after a grace of five seconds.
class ChildProcess {
 public:
  // Without `captureErrors` the child shares the test's standard error.
  explicit ChildProcess(std::vector<std::string> argv, bool captureErrors = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The port of the "PORT <n>" line the test servers print once they listen; throws when none
  // comes within the deadline.
  int announcedPort(std::chrono::milliseconds deadline = std::chrono::seconds(20));
  bool running();  // also collects what the child wrote so far
  void signal(int number) {
    if (!reaped_) ::kill(pid_, number);
  }
  void closeInput();
  // Waits for the child to end, killing it past the deadline. Its exit code; -1 when killed.
  int wait(std::chrono::milliseconds deadline);
  const std::string& output() const { return texts_[0]; }
  const std::string& errors() const { return texts_[1]; }

 private:
  bool collect(int timeoutMs);  // true when it read anything

  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  int fds_[3] = {-1, -1, -1};  // the child's standard input, output and error
  std::string texts_[2];       // what came from its output and error
};

}  // namespace quillfen::test
