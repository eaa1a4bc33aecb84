#include "support/ftp_server.h"

#include <fstream>
#include <vector>

namespace quillfen::test {

namespace {

std::vector<std::string> serverArguments(const std::filesystem::path& root, const std::string& user,
                                         const std::string& password,
                                         const std::filesystem::path& stats,
                                         const FtpServerOptions& options) {
  const std::string script = std::string(QUILLFEN_TEST_SERVERS_DIR) + "/ftp_server.py";
  std::vector<std::string> args = {
      QUILLFEN_SYSTEM_PYTHON, script,   "--root",  root.string(), "--user", user,
      "--password",           password, "--stats", stats.string()};
  if (!options.offerMlsd) args.push_back("--no-mlsd");
  if (options.silent) args.push_back("--silent");
  if (options.bytesPerSecond > 0) {
    args.insert(args.end(), {"--bytes-per-second", std::to_string(options.bytesPerSecond)});
  }
  if (!options.failingFile.empty()) {
    args.insert(args.end(), {"--fail-file", options.failingFile, "--fail-after",
                             std::to_string(options.failAfterBytes)});
  }
  return args;
}

}  // namespace

FtpServer::FtpServer(const std::filesystem::path& root, const std::string& user,
                     const std::string& password, const FtpServerOptions& options)
    : server_(serverArguments(root, user, password, scratch_.path() / "stats.txt", options)),
      port_(static_cast<std::uint16_t>(server_.announcedPort())) {}

int FtpServer::countEvents(const std::string& event) const {
  std::ifstream stats(scratch_.path() / "stats.txt");
  int count = 0;
  for (std::string line; std::getline(stats, line);) count += line == event ? 1 : 0;
  return count;
}

}  // namespace quillfen::test
