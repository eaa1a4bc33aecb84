#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace quillfen::test {

struct ProgramResult {
  int exitCode = -1;  // -1 when killed at the deadline or by a signal
  std::string out;
  std::string err;
};

// The built executable, copied into `folder` so that it finds its Config.ini there, and run in
// console mode with standard input closed and both output streams captured (not terminals).
class Program {
 public:
  explicit Program(const std::filesystem::path& folder);
  ~Program();  // kills a process still running
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  void start(const std::vector<std::string>& arguments = {});
  bool running();
  void signal(int number);
  // Waits up to `deadline` for the process to end; kills it past that.
  ProgramResult wait(std::chrono::seconds deadline = std::chrono::seconds(90));
  // start() then wait().
  ProgramResult run(const std::vector<std::string>& arguments = {},
                    std::chrono::seconds deadline = std::chrono::seconds(90));

  const std::filesystem::path& executable() const { return executable_; }

 private:
  bool drain(int timeoutMs);  // true when it read anything

  std::filesystem::path executable_;
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  ProgramResult result_;
};

}  // namespace quillfen::test
