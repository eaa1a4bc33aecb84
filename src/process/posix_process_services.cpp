#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iostream>

#include "common/error.h"
#include "process/process_services.h"

extern char** environ;

namespace quillfen {

std::string PosixProcessServices::executableFolder() const {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw errorFromErrno(error.value(), "Cannot resolve the executable", "/proc/self/exe");
  return exe.parent_path().string();
}

namespace {

// Starts xdg-open in a grandchild so that it outlives us and leaves no zombie behind.
void spawnDetached(const std::string& path) {
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    const char* argv[] = {"xdg-open", path.c_str(), nullptr};
    pid_t grandchild = 0;
    posix_spawnp(&grandchild, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ);
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

void PosixProcessServices::openForEditing(const std::string& path) {
  if (hasDisplay_) {
    spawnDetached(path);
    return;
  }
  std::cerr << "Quillfen: edit the configuration file " << path << '\n';
}

}  // namespace quillfen
