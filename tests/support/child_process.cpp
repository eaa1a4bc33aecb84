#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

extern char** environ;

namespace quillfen::test {

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureErrors) {
  int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};  // [0] stays here, [1] goes to the child
  bool ready = true;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int stream = 0; stream < (captureErrors ? 3 : 2); ++stream) {
    ready = ready && pipe2(pipes[stream], O_CLOEXEC) == 0;
    if (stream == STDIN_FILENO) std::swap(pipes[0][0], pipes[0][1]);  // the child reads this one
    posix_spawn_file_actions_adddup2(&actions, pipes[stream][1], stream);
  }
  std::vector<char*> pointers;
  for (std::string& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  ready =
      ready && posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  for (int stream = 0; stream < 3; ++stream) {
    closeFd(pipes[stream][1]);
    fds_[stream] = pipes[stream][0];
  }
  if (!ready) {
    reaped_ = true;
    for (int& fd : fds_) closeFd(fd);
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  closeInput();
  wait(std::chrono::seconds(5));
  for (int& fd : fds_) closeFd(fd);
}

int ChildProcess::announcedPort(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  const auto lineCame = [&] { return output().find('\n') != std::string::npos; };
  while (!lineCame() && fds_[1] >= 0 && Clock::now() < until) collect(50);
  if (!lineCame() || output().rfind("PORT ", 0) != 0) {
    throw std::runtime_error("the test server announced no port; its errors are above");
  }
  return std::stoi(output().substr(5));
}

bool ChildProcess::running() {
  collect(0);
  if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

void ChildProcess::closeInput() {
  closeFd(fds_[0]);
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (running() && Clock::now() < until) collect(50);
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    reaped_ = true;
  }
  while (collect(20)) {
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool ChildProcess::collect(int timeoutMs) {
  pollfd ready[2] = {{fds_[1], POLLIN, 0}, {fds_[2], POLLIN, 0}};  // poll skips -1
  if (::poll(ready, 2, timeoutMs) <= 0) return false;
  bool got = false;
  for (int i = 0; i < 2; ++i) {
    char buffer[65536];
    const ssize_t n = ready[i].revents == 0 ? 0 : ::read(fds_[i + 1], buffer, sizeof buffer);
    if (n > 0) texts_[i].append(buffer, static_cast<std::size_t>(n));
    if (ready[i].revents != 0 && n <= 0) closeFd(fds_[i + 1]);
    got = got || n > 0;
  }
  return got;
}

}  // namespace quillfen::test
