#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace quillfen::test {

// The child's output and errors go to files in a folder of its own.
struct ChildProcess::Process {
  TempDir files;
  pid_t pid = -1;  // -1 once reaped
  int status = 0;
  int input = -1;
};

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureErrors)
    : process_(std::make_unique<Process>()) {
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for " + argv[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  const std::filesystem::path& files = process_->files.path();
  const std::string out = (files / "out").string(), err = (files / "err").string();
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0600);
  if (captureErrors)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT,
                                     0600);
  std::vector<char*> pointers;
  for (std::string& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  if (posix_spawn(&process_->pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0)
    process_->pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  process_->input = input[1];
  if (process_->pid < 0) closeInput(), throw std::runtime_error("cannot start " + argv[0]);
}

ChildProcess::~ChildProcess() {
  closeInput();
  wait(std::chrono::seconds(5));
}

bool ChildProcess::running() {
  Process& child = *process_;
  if (child.pid > 0 && ::waitpid(child.pid, &child.status, WNOHANG) == child.pid) child.pid = -1;
  return child.pid > 0;
}

bool ChildProcess::hasFileOpenBelow(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  if (!running()) return false;
  const std::string below = folder.string() + "/";
  std::error_code gone;  // the process, or one of its files, may go while it is looked at
  for (fs::directory_iterator it("/proc/" + std::to_string(process_->pid) + "/fd", gone), end;
       !gone && it != end; it.increment(gone)) {
    std::error_code notALink;
    if (fs::read_symlink(it->path(), notALink).string().rfind(below, 0) == 0) return true;
  }
  return false;
}

void ChildProcess::signal(int number) {
  if (running()) ::kill(process_->pid, number);
}

void ChildProcess::closeInput() {
  if (process_->input >= 0) ::close(process_->input);
  process_->input = -1;
}

int ChildProcess::wait(std::chrono::milliseconds deadline) {
  Process& child = *process_;
  for (const auto until = std::chrono::steady_clock::now() + deadline;
       running() && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (running() && ::kill(child.pid, SIGKILL) == 0 &&
      ::waitpid(child.pid, &child.status, 0) == child.pid)
    child.pid = -1;
  return WIFEXITED(child.status) ? WEXITSTATUS(child.status) : -1;
}

std::string ChildProcess::output() const {
  return readFile(process_->files.path() / "out");
}
std::string ChildProcess::errors() const {
  return readFile(process_->files.path() / "err");
}

}  // namespace quillfen::test
