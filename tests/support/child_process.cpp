#include "support/child_process.h"

#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace quillfen::test {

bool hasFileOpenBelow(const std::string& process, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  const std::string below = folder.string() + "/";
  std::error_code gone;  // the process, or one of its files, may go while it is looked at
  for (fs::directory_iterator it(process + "/fd", gone), end; !gone && it != end;
       it.increment(gone)) {
    std::error_code notALink;
    if (fs::read_symlink(it->path(), notALink).string().rfind(below, 0) == 0) return true;
  }
  return false;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, bool captureErrors) {
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for " + argv[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  const std::string out = (files_.path() / "out").string(), err = (files_.path() / "err").string();
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT, 0600);
  if (captureErrors)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT,
                                     0600);
  std::vector<char*> pointers;
  for (std::string& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  input_ = input[1];
  if (pid_ < 0) closeInput(), throw std::runtime_error("cannot start " + argv[0]);
}

}  // namespace quillfen::test
