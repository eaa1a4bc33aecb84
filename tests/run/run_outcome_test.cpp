// What each outcome of a run leaves in the mailbox and at the monitoring service, and the hooks
// around it: when each runs, what it is told, and what a failing or hanging RunBefore does to the
// run and its mail. The real mail component and pinger run against an SMTP sink and an HTTP
// server on loopback; the shell is a fake that runs nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <ostream>

#include "common/exit_code.h"
#include "filestore/file_system.h"
#include "mail/curl_smtp_component.h"
#include "ping/curl_pinger.h"
#include "run/main_sequence.h"
#include "run/run_module.h"
#include "support/fakes.h"
#include "support/loopback_servers.h"
#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using test::PingServer;
using namespace ::testing;
using End = CommandOutcome::End;
using Variables = std::vector<std::pair<std::string, std::string>>;

constexpr SmtpBounds kTestBounds{std::chrono::milliseconds(2000), std::chrono::seconds(2)};
constexpr std::chrono::milliseconds kPingLimit(500);

// A run from a source folder with every hook set, mailing the sink and pinging `pingUrl`.
class RunOutcome : public ::testing::Test {
 protected:
  RunOutcome() {
    env.services.createFileSystem = makeHostFileSystem;
    env.services.createMailComponent = [] {
      return std::make_unique<CurlSmtpComponent>(kTestBounds);
    };
    env.services.createPinger = [] { return std::make_unique<CurlPinger>(kPingLimit); };
    // The run makes its transfer object even when the source is a folder.
    env.createControl = [this] { return std::make_unique<test::FakeTransferControl>(env.events); };
  }

  int run(const std::string& pingUrl) {
    exeFolder.write("Config.ini",
                    "[Quillfen]\nNetworkPath=" + source.str() +
                        "\nDestinationFolder=" + dest.str() +
                        "\nMailServer=127.0.0.1\nMailPort=" + std::to_string(sink.port()) +
                        "\nMailFrom=backup@example.test\nMailTo=ops@example.test\n"
                        "MailSubject=Nightly\nRunBefore=before\nRunAfter=after\n"
                        "RunOnFailure=on-failure\nPingUrl=" +
                        pingUrl + "\n");
    RunModule module;
    return Main(module, env.services, "");
  }

  test::TempDir exeFolder, source, dest;
  test::FakeEnvironment env{exeFolder.str()};
  test::SmtpSink sink;
};

std::string numberedLines(int count) {
  std::string lines;
  for (int i = 1; i <= count; ++i) lines += "line " + std::to_string(100 + i) + "\n";
  return lines;
}

struct HookCase {
  const char* name;
  bool emptySource;                   // a source without files: an incomplete run
  CommandOutcome before;              // RunBefore's
  int afterExitCode;                  // RunAfter's
  int exitCode;                       // the run's
  std::vector<std::string> hooksRun;  // in their order
  const char* subject;
  std::vector<std::string> mailHolds;  // text of the mail's body
  std::vector<std::string> mailLacks = {};
  const char* errorShown = nullptr;  // the message told after the run, if any
  const char* ping = "/check/fail";  // the path of the outcome's ping
};
void PrintTo(const HookCase& c, std::ostream* out) {
  *out << c.name;
}

class HookTest : public RunOutcome, public ::testing::WithParamInterface<HookCase> {};

TEST_P(HookTest, RunsWhereItsKeySaysAndTheOutcomeIsMailedAndPinged) {
  const HookCase& c = GetParam();
  if (!c.emptySource) source.write("a.txt", "a");
  std::vector<std::size_t> mailsBefore;  // the mails sent when each hook began
  env.commands.onRun = [&](const ShellCommand& command) {
    mailsBefore.push_back(sink.messages().size());
    if (command.commandLine == "before" && c.before.end == End::Stopped) {
      env.window.clickCancel();
      EXPECT_FALSE(command.keepGoing());
    }
    if (command.commandLine == "before") return c.before;
    if (command.commandLine == "after") return CommandOutcome{End::Exited, c.afterExitCode, "oops"};
    return CommandOutcome{End::Exited, 0, {}};
  };
  PingServer pings;
  EXPECT_EQ(run(pings.url("/check/")), c.exitCode);

  EXPECT_THAT(pings.paths(), ElementsAre("/check/start", c.ping));

  std::vector<std::string> hooksRun;
  for (const ShellCommand& command : env.commands.commands) {
    hooksRun.push_back(command.commandLine);
    const bool before = command.commandLine == "before";
    Variables expected = {{"QUILLFEN_JOB", "Config.ini"},
                          {"QUILLFEN_FOLDER", test::utf8Name(dest.path() / "20031005")}};
    if (!before) expected.emplace_back("QUILLFEN_EXIT_CODE", std::to_string(c.exitCode));
    EXPECT_EQ(command.variables, expected) << command.commandLine;
    // RunBefore comes before the mail, the others after it with the report it held.
    EXPECT_EQ(mailsBefore[hooksRun.size() - 1], before ? 0u : 1u) << command.commandLine;
    if (!before && c.exitCode != kExitCancelled) {  // the mail adds the cancel's line
      EXPECT_THAT(command.fileText, HasSubstr(c.mailHolds.front()));
    }
  }
  EXPECT_EQ(hooksRun, c.hooksRun);
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].subject, c.subject);
  for (const std::string& text : c.mailHolds) EXPECT_THAT(messages[0].body, HasSubstr(text));
  for (const std::string& text : c.mailLacks) EXPECT_THAT(messages[0].body, Not(HasSubstr(text)));
  if (c.exitCode == kExitError || c.exitCode == kExitCancelled) {
    EXPECT_TRUE(fs::is_empty(dest.path())) << "destination touched";
  }
  if (c.errorShown) {
    EXPECT_THAT(env.log, Contains(HasSubstr(c.errorShown)));
  }
  if (c.exitCode != kExitError) return;
  // The error box says what the report's last line says.
  ASSERT_THAT(env.log.back(), StartsWith("error [Quillfen] Error "));
  const std::string shown = env.log.back().substr(env.log.back().find("Error "));
  EXPECT_THAT(messages[0].body, EndsWith("\n" + shown + "\n"));
}

const CommandOutcome kPassed{End::Exited, 0, "done\n"};

// One row per run, as the table reads best.
// clang-format off
const HookCase kHookCases[] = {
    {"CompletedRun", false, kPassed, 0, kExitCompleted, {"before", "after"}, "Nightly", {"a.txt"},
     {"done"}, nullptr, "/check"},
    // The last ten lines of its output, the run's error last.
    {"FailingRunBefore", false, {End::Exited, 3, numberedLines(20)}, 0, kExitError,
     {"before", "on-failure", "after"}, "FAILED: Nightly",
     {"line 111\n", "line 120\n\nError 37010: RunBefore failed (exit code 3)"},
     {"line 110", "a.txt"}},
    {"HangingRunBefore", false, {End::TimedOut, -1, "still waiting\n"}, 0, kExitError,
     {"before", "on-failure", "after"}, "FAILED: Nightly",
     {"still waiting", "RunBefore did not end within 600 s (HookTimeout)"}},
    {"CancelDuringRunBefore", false, {End::Stopped, -1, {}}, 0, kExitCancelled,
     {"before", "on-failure", "after"}, "CANCELLED: Nightly", {"The run was cancelled."}},
    {"IncompleteRun", true, kPassed, 0, kExitIncomplete, {"before", "on-failure", "after"},
     "INCOMPLETE: Nightly", {"Source is empty"}},
    // Told, and nothing else: the backup and the exit code stay the run's.
    {"FailingRunAfter", false, kPassed, 2, kExitCompleted, {"before", "after"}, "Nightly",
     {"a.txt"}, {}, "RunAfter failed (exit code 2); its last output: | oops", "/check"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Hooks, HookTest, ValuesIn(kHookCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each ping ends at its limit: a monitoring service that hangs costs the run two limits.
TEST_F(RunOutcome, ASilentPingServerHoldsTheRunNoLongerThanItsLimit) {
  source.write("a.txt", "x");
  PingServer silent(PingServer::Mode::Silent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run(silent.url("/check")), kExitCompleted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * kPingLimit + std::chrono::seconds(2));
}

}  // namespace
}  // namespace quillfen
