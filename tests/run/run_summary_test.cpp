#include "run/run_summary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "common/exit_code.h"
#include "filestore/file_system.h"
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
    const char* job;  // the settings file named with -c; "": Config.ini
    bool withSource, withFiles;
    const char* mailTo;  // mailed with no mail component: error 91
    SystemLog::Severity severity;
    const char* line;
  } cases[] = {
      {"a completed run", "", "", true, true, "", SystemLog::Severity::Info,
       "run ended: exit code 0, 2 files fetched, 1003 bytes, 0 failures, 1 folders pruned, .*"},
      {"a job's refused settings", "", "web.ini", false, true, "", SystemLog::Severity::Error,
       "job web.ini on testhost: run ended: exit code 2 \\(no run: the settings must be edited "
       "first\\), 0 files fetched, 0 bytes, 0 failures, 0 folders pruned, .*"},
      {"an empty source", "", "", true, false, "", SystemLog::Severity::Warning,
       "run ended: exit code 4 \\(the source held no file\\), 0 files fetched, 0 bytes, "
       "0 failures, 0 folders pruned, .*"},
      {"an empty source and a mail that fails", "", "", true, false, "ops@example.com",
       SystemLog::Severity::Error,
       "run ended: exit code 1 \\(Error 91: .* \\(the backup was incomplete as well: the source "
       "held no file\\)\\), 0 files fetched, .*"},
      {"/config", "/config", "", true, true, "", {}, nullptr},  // leaves none
  };
  for (const auto& c : cases) {
    test::TempDir exeFolder, source, dest;
    if (c.withFiles) {
      source.write("a.txt", "a");
      source.write("b.bin", std::string(1002, 'b'));
    }
    dest.write("20021005/expired.txt", "old");  // 365 days before the fake clock's 5 Oct 2003
    const std::string file = *c.job ? c.job : "Config.ini";
    exeFolder.write(file,
                    "[Quillfen]\nNetworkPath=" + (c.withSource ? source.str() : std::string()) +
                        "\nDestinationFolder=" + dest.str() + "\nMailTo=" + c.mailTo + "\n");
    test::FakeEnvironment env{exeFolder.str()};
    if (*c.job) env.process.settingsFile = exeFolder.str() + "/" + c.job;
    env.services.createFileSystem = makeHostFileSystem;
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

// What an outcome says of its cause, in the log line's parentheses and in the one line on
// standard error: a server's reply never brings a control character along, and a backup that
// is complete but kept expired folders is not called incomplete; a refusal of the settings is
// said there too, since a window's message box is gone when the process ends.
TEST(OutcomeCauseTest, EachNonZeroExitNamesItsCause) {
  const struct {
    const char* title;
    int exitCode;
    std::function<void(RunModule&)> state;
    const char* cause;
    const char* line;  // on standard error
  } cases[] = {
      // clang-format off
      {"two files failed", kExitIncomplete,
       [](RunModule& run) { run.Tally.failures = run.Tally.filesFailed = 2; },
       "2 files failed to download",
       "Quillfen: Backup incomplete: 2 files failed to download, folder kept, nothing pruned"},
      {"the listing failed", kExitIncomplete,
       [](RunModule& run) { run.Tally.failures = 1;
                            run.Tally.listingFailure = "530 Login\nincorrect\x1b[2J"; },
       "the listing failed: 530 Login?incorrect?[2J",
       "Quillfen: Backup incomplete: the listing failed: 530 Login?incorrect?[2J, folder kept, "
       "nothing pruned"},
      {"expired folders kept", kExitIncomplete,
       [](RunModule& run) { run.TodaysBackupIncomplete = false; run.ExpiredBackupsRemain = true;
                            run.Tally.foldersNotDeleted = 2; },
       "2 expired folders could not be deleted",
       "Quillfen: Backup complete, but 2 expired folders could not be deleted"},
      {"refused settings", kExitConfiguration,
       [](RunModule& run) { run.RefusalText = "DaysTillExpiration must be 1 or more.\n"; },
       "no run: the settings must be edited first",
       "Quillfen: DaysTillExpiration must be 1 or more.?"},
      // clang-format on
  };
  for (const auto& c : cases) {
    RunModule run;
    run.TodaysBackupIncomplete = c.exitCode == kExitIncomplete;
    c.state(run);
    EXPECT_EQ(OutcomeCause(run, c.exitCode), c.cause) << c.title;
    EXPECT_EQ(OutcomeLine(run, c.exitCode), c.line) << c.title;
  }
}

}  // namespace
}  // namespace quillfen
