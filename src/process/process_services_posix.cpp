#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "common/error.h"
#include "process/process_services.h"

extern char** environ;

namespace quillfen {

std::string HostProcessServices::executableFolder() const {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw errorFromErrno(error.value(), "Cannot resolve the executable", "/proc/self/exe");
  return exe.parent_path().string();
}

std::string HostProcessServices::hostName() const {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
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

// The file behind a link (the installed program's Config.ini is one into /etc/quillfen): the
// path to tell a user, and the one an editor that saves by replacing must be given.
std::string fileBehind(const std::string& path) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool atTerminal() {
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
}

// The user's editor on the terminal, waited for as crontab -e does: $VISUAL, $EDITOR, Debian's
// sensible-editor, vi. system() keeps Ctrl-C for the editor while it runs. False when no editor
// could be started.
bool editOnTerminal(const std::string& path) {
  const std::string command =
      "exec ${VISUAL:-${EDITOR:-$(command -v sensible-editor || echo vi)}} " + shellQuoted(path);
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 127;
}

}  // namespace

void HostProcessServices::openForEditing(const std::string& path) {
  const std::string file = fileBehind(path);
  if (hasDisplay_) {
    spawnDetached(file);
    return;
  }
  if (atTerminal() && editOnTerminal(file)) return;
  std::cerr << "Quillfen: edit the configuration file " << file << '\n';
}

void HostProcessServices::keepSecretsOutOfCoreDumps() {
  // It fails only for an argument out of range; a process it could not protect runs as before.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

namespace {

// The packaged unit this process runs as (quillfen.service, quillfen@web.service), or nothing:
// systemd's INVOCATION_ID says a unit started it, its control group which one.
std::string packagedUnit() {
  const char* invocation = std::getenv("INVOCATION_ID");
  if (invocation == nullptr || *invocation == '\0') return {};
  std::ifstream groups("/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    const std::string unit = line.substr(line.rfind('/') + 1);
    if (unit == "quillfen.service") return unit;
    if (unit.starts_with("quillfen@") && unit.ends_with(".service")) return unit;
  }
  return {};
}

}  // namespace

bool HostProcessServices::runsUnderPackagedUnit() const {
  return !packagedUnit().empty();
}

std::string ReadWritePathsHint(const std::string& folder) {
  const std::string unit = packagedUnit();
  return "the service may write only where ReadWritePaths= allows: run \"sudo systemctl edit " +
         (unit.empty() ? std::string("quillfen.service") : unit) +
         "\" and add the lines \"[Service]\" and \"ReadWritePaths=" + folder + "\"";
}

}  // namespace quillfen
