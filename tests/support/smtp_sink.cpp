#include "support/smtp_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quillfen::test {

namespace {

namespace fs = std::filesystem;

constexpr int kStartDeadlineMs = 15'000;
constexpr auto kStopDeadline = std::chrono::seconds(5);

const char* modeName(SmtpSink::Mode mode) {
  switch (mode) {
    case SmtpSink::Mode::Accept:
      return "accept";
    case SmtpSink::Mode::RefuseRecipient:
      return "refuse-recipient";
    case SmtpSink::Mode::RefuseAll:
      return "refuse-all";
    case SmtpSink::Mode::Silent:
      return "silent";
  }
  return "accept";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Reads the server's first line ("PORT <n>") within the start deadline.
int readPort(int fd) {
  std::string text;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDeadlineMs);
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return 0;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return 0;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text.rfind("PORT ", 0) == 0 ? std::stoi(text.substr(5)) : 0;
}

}  // namespace

SmtpSink::SmtpSink(Mode mode, const std::string& refusedRecipient) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("smtp sink: pipe failed");
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    throw std::runtime_error("smtp sink: pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);

  const std::string script = std::string(QUILLFEN_TEST_SERVERS_DIR) + "/smtp_sink.py";
  std::vector<std::string> arguments = {
      QUILLFEN_SYSTEM_PYTHON, script,     "--spool",       spool_.str(), "--mode",
      modeName(mode),         "--refuse", refusedRecipient};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  stdinFd_ = toChild[1];
  stdoutFd_ = fromChild[0];
  if (spawned != 0) pid_ = -1;

  port_ = pid_ > 0 ? readPort(stdoutFd_) : 0;
  if (port_ == 0) {
    stop();
    throw std::runtime_error("smtp sink: the server did not start");
  }
}

SmtpSink::~SmtpSink() {
  stop();
}

void SmtpSink::stop() {
  if (stdinFd_ >= 0) close(stdinFd_);  // the server's cue to end
  stdinFd_ = -1;
  if (pid_ > 0) {
    const auto deadline = std::chrono::steady_clock::now() + kStopDeadline;
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) close(stdoutFd_);
  stdoutFd_ = -1;
}

std::vector<SinkMessage> SmtpSink::messages() const {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(spool_.path())) {
    // Folders starting with "." are still being written.
    if (entry.path().filename().string().front() != '.') folders.push_back(entry.path());
  }
  std::sort(folders.begin(), folders.end());
  std::vector<SinkMessage> out;
  for (const fs::path& folder : folders) {
    SinkMessage message;
    message.mailFrom = readFile(folder / "from");
    message.rcptTos = lines(readFile(folder / "to"));
    message.data = readFile(folder / "data");
    message.subject = readFile(folder / "subject");
    message.body = readFile(folder / "body");
    message.headers = lines(readFile(folder / "headers"));
    message.defects = lines(readFile(folder / "defects"));
    out.push_back(std::move(message));
  }
  return out;
}

}  // namespace quillfen::test
