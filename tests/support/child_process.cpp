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
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  for (const int fd : {STDOUT_FILENO, captureErrors ? STDERR_FILENO : -1}) {
    const std::string file = (files_.path() / (fd == STDOUT_FILENO ? "out" : "err")).string();
    if (fd >= 0)
      posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT, 0600);
  }
  std::vector<char*> pointers;
  for (std::string& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  const int failed = posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  input_ = input[1];
  if (failed != 0) {
    pid_ = -1;
    closeInput();
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  closeInput();
  wait(std::chrono::seconds(5));
}

int ChildProcess::announcedPort(std::chrono::milliseconds deadline) {
  for (const auto until = std::chrono::steady_clock::now() + deadline;
       output().find('\n') == std::string::npos && running() &&
       std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (output().rfind("PORT ", 0) != 0 || output().find('\n') == std::string::npos)
    throw std::runtime_error("the test server announced no port; its errors are above");
  return std::stoi(output().substr(5));
}

bool ChildProcess::running() {
  if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
  return pid_ > 0;
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
  for (const auto until = std::chrono::steady_clock::now() + deadline;
       running() && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (running() && ::kill(pid_, SIGKILL) == 0 && ::waitpid(pid_, &status_, 0) == pid_) pid_ = -1;
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace quillfen::test
