#include "e2e/program.h"

#include <gmock/gmock.h>
#include <stdlib.h>

#include <ctime>
#include <fstream>
#include <regex>

#include "common/date.h"

namespace quillfen::test {

namespace fs = std::filesystem;

std::unique_ptr<ChildProcess> startProgram(const fs::path& folder,
                                           const std::vector<std::string>& arguments) {
  const fs::path executable = folder / "quillfen";
  fs::copy_file(QUILLFEN_EXECUTABLE, executable, fs::copy_options::skip_existing);
  setenv("QUILLFEN_UI", "console", 1);  // inherited by the program
  std::vector<std::string> argv{executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto program = std::make_unique<ChildProcess>(argv, true);
  program->closeInput();
  return program;
}

ProgramResult runProgram(const fs::path& folder, const std::vector<std::string>& arguments) {
  const auto program = startProgram(folder, arguments);
  const int exitCode = program->wait(std::chrono::seconds(90));
  return {exitCode, program->output(), program->errors()};
}

std::string datedFolderName(int daysAgo) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return formatYyyymmdd(
      addDays(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, -daysAgo));
}

void writeRunConfig(const fs::path& home, const std::string& sourceKeys,
                    const fs::path& destination, int mailPort) {
  std::ofstream(home / "Config.ini")
      << "[Quillfen]\n"
      << sourceKeys << "DestinationFolder=" << destination.string()
      << "\nDaysTillExpiration=30\nMailServer=127.0.0.1\nMailPort=" << mailPort
      << "\nMailFrom=Quillfen <quillfen@example.com>\n"
         "MailTo=ops@example.com;backup@example.com\nMailSubject=Quillfen Backup Report\n";
}

std::string reportUnderFrame(const std::string& body) {
  const std::regex frame(
      "This is an automated message sent by Quillfen\\. \n"
      "\\d\\d/\\d\\d/\\d\\d \\d{1,2}:\\d\\d (AM|PM)\n_{80}\n\n");
  std::smatch found;
  const bool framed = std::regex_search(body, found, frame, std::regex_constants::match_continuous);
  EXPECT_TRUE(framed) << body;
  return framed ? found.suffix().str() : "";
}

}  // namespace quillfen::test
