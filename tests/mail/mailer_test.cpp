#include "mail/mailer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "config/backup_settings.h"
#include "mail/smtp_component.h"
#include "process/locale_format.h"
#include "support/fakes.h"

namespace quillfen {
namespace {

using test::CallLog;
using test::FakeClock;
using ::testing::ElementsAre;

const std::string kRule(80, '_');

// Writes every call into a log, "<instance>: <call> <value>", and fails the call named in
// `failing` with error 36421.
class RecordingComponent final : public SmtpComponent {
 public:
  RecordingComponent(CallLog& log, int instance, std::string failing)
      : log_(log), prefix_(std::to_string(instance) + ": "), failing_(std::move(failing)) {}

  SmtpStatus newMessage() override { return record("newMessage", ""); }
  SmtpStatus setSender(const std::string& v) override { return record("sender", v); }
  SmtpStatus setRecipient(const std::string& v) override { return record("recipient", v); }
  SmtpStatus setDateText(const std::string& v) override { return record("date", v); }
  SmtpStatus setSubject(const std::string& v) override { return record("subject", v); }
  SmtpStatus setMessageText(const std::string& v) override { return record("text", v); }
  SmtpStatus setServer(const std::string& v) override { return record("server", v); }
  SmtpStatus setPort(std::int32_t v) override { return record("port", std::to_string(v)); }
  SmtpStatus resultValue(std::int32_t& result) override {
    result = 250;
    return record("result", "");
  }
  SmtpStatus send() override { return record("send", ""); }

 private:
  SmtpStatus record(const std::string& call, const std::string& value) {
    log_.push_back(prefix_ + call + (value.empty() ? "" : " " + value));
    if (call == failing_) return {36421, "421 closing: " + call};
    return SmtpStatus::success();
  }

  CallLog& log_;
  std::string prefix_;
  std::string failing_;
};

struct MailerTest : ::testing::Test {
  MailerTest() {
    settings.MailServer = "mail.example.test";
    settings.MailPort = 2525;
    settings.MailSubject = "Quillfen Backup Report";
    settings.MailFrom = "backup@example.test";
  }

  Mailer::ComponentFactory factory(std::string failing = {}) {
    return
        [this, failing] { return std::make_unique<RecordingComponent>(log, ++instances, failing); };
  }

  std::vector<std::string> logOf(int instance) const {
    std::vector<std::string> calls;
    const std::string prefix = std::to_string(instance) + ": ";
    for (const auto& entry : log) {
      if (entry.rfind(prefix, 0) == 0) calls.push_back(entry.substr(prefix.size()));
    }
    return calls;
  }

  CallLog log;
  int instances = 0;
  BackupSettings settings;
  FakeClock clock;  // 5 October 2003, 2:15:03
  LocaleFormat format = LocaleFormat::posix();
};

TEST_F(MailerTest, CreationClearsAndFillsTheMessageFromTheSettingsInOrder) {
  Mailer mailer(factory(), settings, clock, format);
  EXPECT_THAT(
      logOf(1),
      ElementsAre("newMessage", "date 10/5/2003 2:15:03 AM", "server mail.example.test",
                  "port 2525", "subject Quillfen Backup Report", "sender backup@example.test"));
}

TEST_F(MailerTest, ClearReadsTheSettingsAsTheyStandAtEachCall) {
  Mailer mailer(factory(), settings, clock, format);
  log.clear();
  settings.MailServer = "other.example.test";
  settings.MailPort = 25;
  settings.MailSubject = "";
  settings.MailFrom = "Ops <ops@example.test>";
  clock.set({{2003, 12, 5}, 21, 7, 33});
  mailer.Clear();
  EXPECT_THAT(logOf(1),
              ElementsAre("newMessage", "date 12/5/2003 9:07:33 PM", "server other.example.test",
                          "port 25", "subject", "sender Ops <ops@example.test>"));
}

TEST_F(MailerTest, PropertiesAreForwardedAtOnceAndSendReturnsTheResultValue) {
  Mailer mailer(factory(), settings, clock, format);
  log.clear();
  mailer.SendTo("a@example.test");
  mailer.From("x@example.test");
  mailer.Subject("Hi");
  EXPECT_THAT(logOf(1),
              ElementsAre("recipient a@example.test", "sender x@example.test", "subject Hi"));
  EXPECT_EQ(mailer.Send(), 250);
  EXPECT_THAT(log, ::testing::IsSupersetOf({"1: send", "1: result"}));
}

TEST_F(MailerTest, AComponentThatCannotBeMadeSurfacesAtTheFirstUse) {
  auto missing = []() -> std::unique_ptr<SmtpComponent> {
    throw Error(errc::kMailTransportOther, "libcurl cannot start");
  };
  std::optional<Mailer> mailer;
  ASSERT_NO_THROW(mailer.emplace(missing, settings, clock, format));
  try {
    mailer->SendTo("a@example.test");
    FAIL() << "SendTo on a missing component raised nothing";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kObjectNotSet);
    EXPECT_THAT(error.description(), ::testing::HasSubstr("libcurl cannot start"));
  }
  EXPECT_THROW(mailer->Send(), Error);
}

TEST_F(MailerTest, AClearFailingDuringCreationLeavesTheLaterFieldsUnsetAndRaisesNothing) {
  std::optional<Mailer> mailer;
  ASSERT_NO_THROW(mailer.emplace(factory("server"), settings, clock, format));
  EXPECT_THAT(logOf(1),
              ElementsAre("newMessage", "date 10/5/2003 2:15:03 AM", "server mail.example.test"));
  EXPECT_NO_THROW(mailer->SendTo("a@example.test"));
}

TEST_F(MailerTest, AFailingSendRaisesTheComponentsErrorWithoutReadingTheResult) {
  Mailer mailer(factory("send"), settings, clock, format);
  try {
    mailer.Send();
    FAIL() << "a failing send raised nothing";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), 36421);
    EXPECT_EQ(error.description(), "421 closing: send");
  }
  EXPECT_THAT(log, ::testing::Not(::testing::Contains("1: result")));
}

TEST_F(MailerTest, TwoMailersUseTwoInstancesEachWithTheTimeOfItsOwnBody) {
  Mailer first(factory(), settings, clock, format);
  Mailer second(factory(), settings, clock, format);
  clock.set({{2003, 10, 5}, 2, 16, 0});
  first.Body("R");
  clock.set({{2003, 10, 5}, 2, 17, 0});
  second.Body("R");
  ASSERT_EQ(instances, 2);
  EXPECT_THAT(logOf(1).back(), ::testing::HasSubstr("10/05/03 2:16 AM"));
  EXPECT_THAT(logOf(2).back(), ::testing::HasSubstr("10/05/03 2:17 AM"));
}

struct FrameCase {
  DateTime when;
  std::string timeLine;
};

class BodyFrameTest : public MailerTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(BodyFrameTest, TheReportGoesUnderTheFrameWithTheTimeOfTheCall) {
  Mailer mailer(factory(), settings, clock, format);
  clock.set(GetParam().when);
  mailer.Body("line 1\nline 2\n");
  const std::string frame = "This is an automated message sent by Quillfen. \r\n" +
                            GetParam().timeLine + "\r\n" + kRule + "\n\n";
  EXPECT_EQ(log.back(), "1: text " + frame + "line 1\nline 2\n");
}

INSTANTIATE_TEST_SUITE_P(
    Times, BodyFrameTest,
    ::testing::Values(FrameCase{{{2003, 12, 5}, 0, 5, 0}, "12/05/03 12:05 AM"},
                      FrameCase{{{2003, 12, 5}, 12, 30, 59}, "12/05/03 12:30 PM"},
                      FrameCase{{{2003, 12, 5}, 21, 7, 33}, "12/05/03 9:07 PM"},
                      FrameCase{{{2010, 1, 9}, 9, 0, 0}, "01/09/10 9:00 AM"}));

TEST_F(MailerTest, AnEmptyReportGivesTheFrameAlone) {
  Mailer mailer(factory(), settings, clock, format);
  mailer.Body("");
  const std::string sentence = "This is an automated message sent by Quillfen. ";
  ASSERT_EQ(sentence.size(), 47u);
  EXPECT_EQ(log.back(), "1: text " + sentence + "\r\n10/05/03 2:15 AM\r\n" + kRule + "\n\n");
}

}  // namespace
}  // namespace quillfen
