#include "support/ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace quillfen::test {

namespace {

constexpr auto kStartDeadline = std::chrono::seconds(20);
constexpr auto kStopDeadline = std::chrono::seconds(5);

// Reads the child's first line, "PORT <n>", within the deadline. 0 when it does not come.
std::uint16_t readAnnouncedPort(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return 0;
    line.append(buffer, static_cast<std::size_t>(got));
  }
  if (line.rfind("PORT ", 0) != 0) return 0;
  return static_cast<std::uint16_t>(std::stoi(line.substr(5)));
}

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& root, std::string user, std::string password,
                     FtpServerOptions options) {
  start(root, user, password, options);
}

FtpServer::~FtpServer() {
  stop();
}

void FtpServer::start(const std::filesystem::path& root, const std::string& user,
                      const std::string& password, const FtpServerOptions& options) {
  std::vector<std::string> args = {QUILLFEN_SYSTEM_PYTHON,
                                   std::string(QUILLFEN_TEST_SERVERS_DIR) + "/ftp_server.py",
                                   "--root",
                                   root.string(),
                                   "--user",
                                   user,
                                   "--password",
                                   password,
                                   "--stats",
                                   (scratch_.path() / "stats.txt").string(),
                                   "--lifetime",
                                   std::to_string(options.lifetimeSeconds)};
  if (!options.offerMlsd) args.push_back("--no-mlsd");
  if (options.silent) args.push_back("--silent");
  if (!options.failingFile.empty()) {
    args.insert(args.end(), {"--fail-file", options.failingFile, "--fail-after",
                             std::to_string(options.failAfterBytes)});
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
  const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  stdinFd_ = toChild[1];
  if (spawned != 0) {
    pid_ = -1;
    ::close(fromChild[0]);
    stop();
    throw std::runtime_error("cannot start " + args[1]);
  }
  port_ = readAnnouncedPort(fromChild[0]);
  ::close(fromChild[0]);
  if (port_ == 0) {
    stop();
    throw std::runtime_error("the FTP test server did not start (is python3-pyftpdlib there?)");
  }
}

void FtpServer::stop() noexcept {
  if (stdinFd_ >= 0) ::close(stdinFd_);  // the server ends when its input closes
  stdinFd_ = -1;
  if (pid_ <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + kStopDeadline;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

int FtpServer::countEvents(const std::string& event) const {
  std::ifstream stats(scratch_.path() / "stats.txt");
  int count = 0;
  for (std::string line; std::getline(stats, line);) count += line == event ? 1 : 0;
  return count;
}

int FtpServer::connections() const {
  return countEvents("connect");
}
int FtpServer::logins() const {
  return countEvents("login");
}

}  // namespace quillfen::test
