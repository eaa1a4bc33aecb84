#include "support/smtp_sink.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace quillfen::test {

namespace {

namespace fs = std::filesystem;

const char* const kModeNames[] = {"accept", "refuse-recipient", "refuse-all", "silent"};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

SmtpSink::SmtpSink(Mode mode, const std::string& refusedRecipient)
    : server_({QUILLFEN_SYSTEM_PYTHON, std::string(QUILLFEN_TEST_SERVERS_DIR) + "/smtp_sink.py",
               "--spool", spool_.str(), "--mode", kModeNames[static_cast<int>(mode)], "--refuse",
               refusedRecipient}),
      port_(server_.announcedPort()) {}

std::vector<SinkMessage> SmtpSink::messages() const {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(spool_.path())) {
    // Folders starting with "." are still being written.
    if (entry.path().filename().string().front() != '.') folders.push_back(entry.path());
  }
  std::sort(folders.begin(), folders.end());
  std::vector<SinkMessage> out;
  for (const fs::path& folder : folders) {
    const auto part = [&](const char* name) { return readFile(folder / name); };
    out.push_back({part("from"), lines(part("to")), part("data"), part("subject"), part("body"),
                   lines(part("headers")), lines(part("defects"))});
  }
  return out;
}

}  // namespace quillfen::test
