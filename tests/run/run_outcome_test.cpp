// What reaches the mailbox and the monitoring service for each outcome of a run: the real mail
// component against an SMTP sink and the real pinger against an HTTP server, both on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

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

using test::PingServer;
using test::SmtpSink;
using namespace ::testing;

constexpr SmtpBounds kTestBounds{std::chrono::milliseconds(2000), std::chrono::seconds(2)};
constexpr std::chrono::milliseconds kPingLimit(500);

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

  // A run from `sourceFolder` that mails to two addresses and pings `pingUrl`.
  int run(const std::string& sourceFolder, const std::string& pingUrl) {
    exeFolder.write("Config.ini",
                    "[Quillfen]\nNetworkPath=" + sourceFolder +
                        "\nDestinationFolder=" + dest.str() +
                        "\nMailServer=127.0.0.1\nMailPort=" + std::to_string(sink.port()) +
                        "\nMailFrom=backup@example.test\nMailTo=ops@example.test;"
                        "desk@example.test\nMailSubject=Nightly\nPingUrl=" +
                        pingUrl + "\n");
    RunModule module;
    return Main(module, env.services, "");
  }

  test::TempDir exeFolder, source, dest;
  test::FakeEnvironment env{exeFolder.str()};
  SmtpSink sink;
};

struct OutcomeCase {
  const char* name;
  const char* file;  // the one file of the source; nullptr: none; "<missing>": no source
  bool cancel;       // Cancel clicked at the first stage
  int exitCode;
  const char* subject;  // nullptr: no mail
  const char* ping;     // the path of the outcome's ping
};

class EachOutcome : public RunOutcome, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(EachOutcome, IsMailedUnderItsSubjectAndPingedAtItsPath) {
  const OutcomeCase& c = GetParam();
  const std::string folder =
      std::string(c.file ? c.file : "") == "<missing>" ? source.str() + "/missing" : source.str();
  if (c.file && folder == source.str()) source.write(c.file, "x");
  if (c.cancel) {
    env.events.onProcess = [this] {
      if (env.window.cancel == 0) env.window.clickCancel();
    };
  }
  PingServer pings;

  EXPECT_EQ(run(folder, pings.url("/check/")), c.exitCode);

  EXPECT_THAT(pings.paths(), ElementsAre("/check/start", c.ping));
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), c.subject ? 2u : 0u);
  if (!c.subject) return;
  EXPECT_THAT(messages, Each(Field(&test::SinkMessage::subject, c.subject)));
  if (c.exitCode != kExitError) return;
  // The error box says what the report's last line says.
  ASSERT_THAT(env.log.back(), StartsWith("error [Quillfen] Error 76: "));
  const std::string shown = env.log.back().substr(env.log.back().find("Error "));
  EXPECT_THAT(messages[0].body, EndsWith("\n" + shown + "\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, EachOutcome,
    Values(OutcomeCase{"Completed", "a.txt", false, kExitCompleted, "Nightly", "/check"},
           OutcomeCase{"Incomplete", nullptr, false, kExitIncomplete, "INCOMPLETE: Nightly",
                       "/check/fail"},
           OutcomeCase{"Failed", "<missing>", false, kExitError, "FAILED: Nightly", "/check/fail"},
           OutcomeCase{"Cancelled", "a.txt", true, kExitCancelled, "CANCELLED: Nightly",
                       "/check/fail"}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

// Each ping ends at its limit: a monitoring service that hangs costs the run two limits.
TEST_F(RunOutcome, ASilentPingServerHoldsTheRunNoLongerThanItsLimit) {
  source.write("a.txt", "x");
  PingServer silent(PingServer::Mode::Silent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run(source.str(), silent.url("/check")), kExitCompleted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * kPingLimit + std::chrono::seconds(2));
}

}  // namespace
}  // namespace quillfen
