#include "e2e/program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace quillfen::test {

namespace fs = std::filesystem;

Program::Program(const fs::path& folder) : executable_(folder / "quillfen") {
  fs::copy_file(QUILLFEN_EXECUTABLE, executable_, fs::copy_options::overwrite_existing);
}

Program::~Program() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

void Program::start(const std::vector<std::string>& arguments) {
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
  result_ = ProgramResult();
  reaped_ = false;
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("QUILLFEN_UI=", 0) != 0) env.push_back(entry);
  }
  env.push_back("QUILLFEN_UI=console");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> args{executable_.string()};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int failed = posix_spawn(&pid_, executable_.c_str(), &actions, nullptr, argv.data(),
                                 envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (failed != 0) throw std::runtime_error("posix_spawn failed");
}

bool Program::drain(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return false;
  bool gotData = false;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? result_.out : result_.err).append(buffer, static_cast<size_t>(n));
      gotData = true;
    }
  }
  return gotData;
}

bool Program::running() {
  if (reaped_) return false;
  drain(0);
  if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

void Program::signal(int number) {
  if (!reaped_) kill(pid_, number);
}

ProgramResult Program::wait(std::chrono::seconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (running()) {
    if (std::chrono::steady_clock::now() > until) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      result_.err += "\n[killed at the test's deadline]";
      return result_;
    }
    drain(50);
  }
  while (drain(20)) {
  }
  result_.exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  return result_;
}

ProgramResult Program::run(const std::vector<std::string>& arguments, std::chrono::seconds deadline) {
  start(arguments);
  return wait(deadline);
}

}  // namespace quillfen::test
