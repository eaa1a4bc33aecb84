#include "run/run_summary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "filestore/posix_file_system.h"
#include "process/system_log.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

using ::testing::MatchesRegex;

struct RecordingLog final : SystemLog {
  void record(Severity severity, const std::string& line) override {
    lines.push_back({severity, line});
  }
  std::vector<std::pair<Severity, std::string>> lines;
};

// Starts of the real sequence (with fakes for everything but the file system): the line each
// leaves in the log and its severity.
TEST(MainWithSummaryTest, EachStartButConfigLeavesOneLineWithItsFigures) {
  const struct {
    const char* title;
    const char* commandLine;
    bool withSource;
    SystemLog::Severity severity;
    const char* line;
  } cases[] = {
      {"a completed run", "", true, SystemLog::Severity::Info,
       "run ended: exit code 0, 2 files fetched, 1003 bytes, 0 failures, 1 folders pruned, .*"},
      {"refused settings", "", false, SystemLog::Severity::Error,
       "run ended: exit code 2, 0 files fetched, 0 bytes, 0 failures, 0 folders pruned, .*"},
      {"/config", "/config", true, {}, nullptr},  // leaves none
  };
  for (const auto& c : cases) {
    test::TempDir exeFolder, source, dest;
    source.write("a.txt", "a");
    source.write("b.bin", std::string(1002, 'b'));
    dest.write("20021005/expired.txt", "old");  // 365 days before the fake clock's 5 Oct 2003
    exeFolder.write("Config.ini",
                    "[Quillfen]\nNetworkPath=" + (c.withSource ? source.str() : std::string()) +
                        "\nDestinationFolder=" + dest.str() + "\nMailTo=\n");
    test::FakeEnvironment env{exeFolder.str()};
    env.services.createFileSystem = [] { return std::make_unique<PosixFileSystem>(); };
    env.createControl = [&env] { return std::make_unique<test::FakeTransferControl>(env.events); };
    RunModule run;
    RecordingLog log;

    MainWithSummary(run, env.services, c.commandLine, log);

    ASSERT_EQ(log.lines.size(), c.line ? 1u : 0u) << c.title;
    if (!c.line) continue;
    EXPECT_EQ(log.lines[0].first, c.severity) << c.title;
    EXPECT_THAT(log.lines[0].second, MatchesRegex(c.line)) << c.title;
  }
}

}  // namespace
}  // namespace quillfen
