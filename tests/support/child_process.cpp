#include "support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace quillfen::test {

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureErrors) {
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for " + argv[0]);
  const std::string out = (files_.path() / "out").string(), err = (files_.path() / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0600);
  if (captureErrors) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT,
                                     0600);
  }
  std::vector<char*> pointers;
  for (std::string& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  const int failed = posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  input_ = input[1];
  if (failed != 0) {
    reaped_ = true;
    closeInput();
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  closeInput();
  wait(std::chrono::seconds(5));
}

int ChildProcess::announcedPort(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (output().find('\n') == std::string::npos && running() &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (output().rfind("PORT ", 0) != 0 || output().find('\n') == std::string::npos) {
    throw std::runtime_error("the test server announced no port; its errors are above");
  }
  return std::stoi(output().substr(5));
}

bool ChildProcess::running() {
  if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

void ChildProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (running() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace quillfen::test
