#include "mail/mailer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "common/error.h"
#include "config/backup_settings.h"
#include "mail/smtp_component.h"
#include "process/locale_format.h"
#include "support/fakes.h"

namespace quillfen {
namespace {

using test::CallLog;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

auto raises(int number, const std::string& text) {
  return ::testing::Throws<Error>(
      ::testing::AllOf(::testing::Property(&Error::number, number),
                       ::testing::Property(&Error::description, HasSubstr(text))));
}

// Writes every call into a log, "<instance>: <call> <value>"; its send raises error 36421
// when `sendFails`.
struct RecordingComponent final : SmtpComponent {
  RecordingComponent(CallLog& log, int instance, bool sendFails)
      : log(log), prefix(std::to_string(instance) + ": "), sendFails(sendFails) {}
  void record(const std::string& call, const std::string& value = "") const {
    log.push_back(prefix + call + (value.empty() ? "" : " " + value));
  }

  void newMessage() override { record("newMessage"); }
  void setSender(const std::string& v) override { record("sender", v); }
  void setRecipient(const std::string& v) override { record("recipient", v); }
  void setDateText(const std::string& v) override { record("date", v); }
  void setSubject(const std::string& v) override { record("subject", v); }
  void setMessageText(const std::string& v) override { record("text", v); }
  void setServer(const std::string& v) override { record("server", v); }
  void setPort(std::int32_t v) override { record("port", std::to_string(v)); }
  std::int32_t resultValue() const override { return record("result"), 250; }
  void send() override {
    record("send");
    if (sendFails) throw Error(36421, "421 closing: send");
  }

  CallLog& log;
  const std::string prefix;
  const bool sendFails;
};

struct MailerTest : ::testing::Test {
  Mailer::ComponentFactory factory(bool sendFails = false) {
    return [this, sendFails] {
      return std::make_unique<RecordingComponent>(log, ++instances, sendFails);
    };
  }

  CallLog log;
  int instances = 0;
  BackupSettings settings;
  test::FakeClock clock;  // 5 October 2003, 2:15:03
  LocaleFormat format = LocaleFormat::posix();
};

TEST_F(MailerTest, ClearFillsTheMessageFromTheSettingsAsTheyStandAtEachCall) {
  settings.MailServer = "mail.example.test";
  settings.MailPort = 2525;
  settings.MailSubject = "Quillfen Backup Report";
  settings.MailFrom = "Ops <ops@example.test>";
  Mailer mailer(factory(), settings, clock, format);
  settings.MailServer = "other.example.test";
  clock.set({{2003, 12, 5}, 21, 7, 33});
  mailer.Clear();
  const std::string rest[] = {"1: port 2525", "1: subject Quillfen Backup Report",
                              "1: sender Ops <ops@example.test>"};
  EXPECT_EQ(log,
            (CallLog{"1: newMessage", "1: date 10/5/2003 2:15:03 AM", "1: server mail.example.test",
                     rest[0], rest[1], rest[2], "1: newMessage", "1: date 12/5/2003 9:07:33 PM",
                     "1: server other.example.test", rest[0], rest[1], rest[2]}));
}

TEST_F(MailerTest, EachMailerUsesItsOwnInstanceAndSendReturnsTheResultValue) {
  Mailer first(factory(), settings, clock, format);
  Mailer second(factory(), settings, clock, format);
  log.clear();
  second.SendTo("a@example.test");
  first.From("b@example.test");
  EXPECT_EQ(second.Send(), 250);
  EXPECT_THAT(log, ElementsAre("2: recipient a@example.test", "1: sender b@example.test", "2: send",
                               "2: result"));
}

TEST_F(MailerTest, CreationRaisesNothingAndTheFirstUseRaisesWhatWentWrong) {
  auto missing = []() -> std::unique_ptr<SmtpComponent> {
    throw Error(errc::kMailTransportOther, "libcurl cannot start");
  };
  std::optional<Mailer> mailer;
  ASSERT_NO_THROW(mailer.emplace(missing, settings, clock, format));
  EXPECT_THAT([&] { mailer->SendTo("a@example.test"); },
              raises(errc::kObjectNotSet, "libcurl cannot start"));
  EXPECT_THROW(mailer->Send(), Error);

  Mailer sending(factory(true), settings, clock, format);
  log.clear();
  EXPECT_THAT([&] { sending.Send(); }, raises(36421, "421 closing: send"));
  EXPECT_THAT(log, ElementsAre("1: send")) << "a failing send reads no result";
}

TEST_F(MailerTest, TheReportGoesUnderTheFrameWithTheTimeOfTheBodyCall) {
  const std::string sentence = "This is an automated message sent by Quillfen. ";
  ASSERT_EQ(sentence.size(), 47u);
  struct Case {
    DateTime when;
    const char* time;
    const char* report;
  };
  Mailer mailer(factory(), settings, clock, format);
  for (const Case& c : {Case{{{2003, 12, 5}, 0, 5, 0}, "12/05/03 12:05 AM", "line 1\nline 2\n"},
                        Case{{{2003, 12, 5}, 12, 30, 59}, "12/05/03 12:30 PM", "x"},
                        Case{{{2003, 12, 5}, 21, 7, 33}, "12/05/03 9:07 PM", ""}}) {
    clock.set(c.when);
    mailer.Body(c.report);
    EXPECT_EQ(log.back(), "1: text " + sentence + "\r\n" + c.time + "\r\n" + std::string(80, '_') +
                              "\n\n" + c.report);
  }
}

}  // namespace
}  // namespace quillfen
