// The real mail component, the Mailer and SendNotification against an aiosmtpd sink on
// loopback.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "common/error.h"
#include "mail/curl_smtp_component.h"
#include "mail/internet_message.h"
#include "mail/mailer.h"
#include "run/run_module.h"
#include "run/send_notification.h"
#include "support/fakes.h"
#include "support/smtp_sink.h"

namespace quillfen {
namespace {

using test::SinkMessage;
using test::SmtpSink;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Short enough to keep the tests quick, long enough for a loaded machine.
constexpr SmtpBounds kTestBounds{std::chrono::milliseconds(2000), std::chrono::seconds(2)};

// A loopback port that nothing listens on: bound, read back and released.
int closedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// The body as a mail reader shows it: the frame's CR LF are line ends like the report's LF.
std::string readerBody(const std::string& report) {
  return "This is an automated message sent by Quillfen. \n10/05/03 2:15 AM\n" +
         std::string(80, '_') + "\n\n" + report;
}

struct DeliveryTest : ::testing::Test {
  DeliveryTest() {
    run.Settings.MailServer = "127.0.0.1";
    run.Settings.MailFrom = "Quillfen Backup <backup@example.test>";
    run.Settings.MailSubject = "Quillfen Backup Report";
    run.ActivityReport = "3 files downloaded\n  a.txt 1 KB\n";
    env.services.createMailComponent = [] {
      return std::make_unique<CurlSmtpComponent>(kTestBounds);
    };
  }

  Mailer newMailer() {
    return Mailer(env.services.createMailComponent, run.Settings, env.clock, env.format);
  }

  // Runs the notification stage and returns the error it raised, if any.
  std::optional<Error> notify() {
    try {
      SendNotification(run, env.services);
    } catch (const Error& error) {
      return error;
    }
    return std::nullopt;
  }

  test::FakeEnvironment env{"/nonexistent"};
  RunModule run;
};

TEST_F(DeliveryTest, EveryAddressGetsItsOwnMessageInTheOrderWritten) {
  SmtpSink sink;
  run.Settings.MailPort = sink.port();
  run.Settings.MailTo = "first@example.test;second@example.test;third@example.test";

  ASSERT_EQ(notify(), std::nullopt);

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 3u);
  const char* expected[] = {"first@example.test", "second@example.test", "third@example.test"};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(messages[i].mailFrom, "backup@example.test");
    EXPECT_THAT(messages[i].rcptTos, ElementsAre(expected[i]));
    EXPECT_EQ(messages[i].body, readerBody(run.ActivityReport));
    EXPECT_EQ(messages[i].subject, "Quillfen Backup Report");
    EXPECT_THAT(messages[i].defects, IsEmpty());
    EXPECT_THAT(messages[i].headers,
                ElementsAre("Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                            "Content-Type", "Content-Transfer-Encoding"));
    EXPECT_THAT(messages[i].data, HasSubstr("\r\nFrom: Quillfen Backup <backup@example.test>\r\n"));
    EXPECT_THAT(messages[i].data, HasSubstr("\r\nTo: " + std::string(expected[i]) + "\r\n"));
    EXPECT_THAT(messages[i].data, HasSubstr("Content-Type: text/plain; charset=UTF-8\r\n"));
  }
  EXPECT_EQ(env.events.passes, 0) << "window events were processed while mailing";
}

TEST_F(DeliveryTest, PaddedAddressesAreTrimmedAndATrailingSeparatorSendsNothingMore) {
  SmtpSink sink;
  run.Settings.MailPort = sink.port();
  run.Settings.MailTo = "  first@example.test ; Ops Desk <ops@example.test>;";

  ASSERT_EQ(notify(), std::nullopt);

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_THAT(messages[0].rcptTos, ElementsAre("first@example.test"));
  EXPECT_THAT(messages[0].data, HasSubstr("\r\nTo: first@example.test\r\n"));
  EXPECT_THAT(messages[1].rcptTos, ElementsAre("ops@example.test"));
  EXPECT_THAT(messages[1].data, HasSubstr("\r\nTo: Ops Desk <ops@example.test>\r\n"));
}

TEST_F(DeliveryTest, ABlankRecipientMakesNoConnectionAndReportsNoRecipient) {
  CurlSmtpComponent component(kTestBounds);
  component.setServer("127.0.0.1");
  component.setPort(closedLoopbackPort());  // any connection attempt would fail
  component.setRecipient(" \t ");
  EXPECT_TRUE(component.send().ok());
  std::int32_t result = 0;
  component.resultValue(result);
  EXPECT_EQ(result, errc::kMailNoRecipient);
}

struct TextCase {
  std::string name;
  std::string subject;
  std::string report;
};

class TextDeliveryTest : public DeliveryTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextDeliveryTest, SubjectAndBodyArriveIntact) {
  SmtpSink sink;
  run.Settings.MailPort = sink.port();
  run.Settings.MailTo = "ops@example.test";
  run.Settings.MailSubject = GetParam().subject;
  run.ActivityReport = GetParam().report;

  ASSERT_EQ(notify(), std::nullopt);

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].subject, GetParam().subject);
  EXPECT_EQ(messages[0].body, readerBody(GetParam().report));
  EXPECT_THAT(messages[0].defects, IsEmpty());
}

const std::string kLongLine(3000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Texts, TextDeliveryTest,
    ::testing::Values(
        TextCase{"DotLines", "Report", ".\n.hidden\n..\nend.\n"},
        TextCase{"NonAscii",
                 "Sicherung fertig \xE2\x80\x93 Gr\xC3\xB6\xC3\x9F"
                 "e \xE2\x9C\x93 "
                 "f\xC3\xBCr alle Ordner unter /srv/daten/\xC3\xA4rger",
                 "\xC3\x84rger.txt 12 KB\n.versteckt\n\xE6\x97\xA5\xE6\x9C\xAC.txt 1 KB\n"},
        TextCase{"LongLine", "Report", "before\n" + kLongLine + "\nafter\n"},
        TextCase{"LooksEncoded", "=?UTF-8?B?SGk=?= stays as written", "=41 stays too\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(DeliveryTest, LineBreaksInSenderOrSubjectAddNoHeader) {
  SmtpSink sink;
  run.Settings.MailPort = sink.port();
  run.Settings.MailTo = "ops@example.test";
  run.Settings.MailFrom = "Backup\r\nX-Injected: sender <backup@example.test>";
  run.Settings.MailSubject = "Report\r\nBcc: victim@example.test\nX-Injected: subject";

  ASSERT_EQ(notify(), std::nullopt);

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0].headers,
              ElementsAre("Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                          "Content-Type", "Content-Transfer-Encoding"));
  EXPECT_THAT(messages[0].rcptTos, ElementsAre("ops@example.test"));
  EXPECT_EQ(messages[0].mailFrom, "backup@example.test");
  EXPECT_EQ(messages[0].subject, "ReportBcc: victim@example.testX-Injected: subject");
}

TEST_F(DeliveryTest, WritingSendToTwiceSendsToTheSecondAddressOnly) {
  SmtpSink sink;
  run.Settings.MailPort = sink.port();
  std::time_t moment = 1070658453;
  env.services.createMailComponent = [&moment] {
    return std::make_unique<CurlSmtpComponent>(kTestBounds, [&moment] { return moment++; });
  };
  Mailer mailer = newMailer();  // its Clear writes the date text: the first moment
  mailer.SendTo("first@example.test");
  mailer.SendTo("second@example.test");
  mailer.Body("R\n");
  EXPECT_EQ(mailer.Send(), 0);

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0].rcptTos, ElementsAre("second@example.test"));
  EXPECT_THAT(messages[0].data, HasSubstr("Date: " + mail::rfc5322Date(1070658453) + "\r\n"));
}

TEST_F(DeliveryTest, ARefusedRecipientEndsTheStageWithTheServersReply) {
  SmtpSink sink(SmtpSink::Mode::RefuseRecipient, "nobody@example.test");
  run.Settings.MailPort = sink.port();
  run.Settings.MailTo = "first@example.test;nobody@example.test;third@example.test";

  const auto error = notify();

  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), errc::kMailFirst + 550);
  EXPECT_THAT(error->description(), HasSubstr("550 5.1.1"));
  EXPECT_THAT(error->description(), HasSubstr("nobody@example.test"));
  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0].rcptTos, ElementsAre("first@example.test"));
}

TEST_F(DeliveryTest, AMessageRefusedAtItsEndIsAFailingSendWithTheReplyAsResult) {
  SmtpSink sink(SmtpSink::Mode::RefuseAll);
  CurlSmtpComponent component(kTestBounds);
  component.setServer("127.0.0.1");
  component.setPort(sink.port());
  component.setRecipient("ops@example.test");
  component.setMessageText("R\n");

  const SmtpStatus status = component.send();

  EXPECT_EQ(status.number, errc::kMailFirst + 554);
  EXPECT_THAT(status.description, HasSubstr("554 5.7.1 Message refused by policy"));
  std::int32_t result = 0;
  component.resultValue(result);
  EXPECT_EQ(result, 554);
}

struct ServerCase {
  std::string name;
  std::string server;
  int port;  // 0: a closed loopback port
  int number;
};

class UnusableServerTest : public DeliveryTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(UnusableServerTest, EndsTheStageWithANumberedError) {
  run.Settings.MailServer = GetParam().server;
  run.Settings.MailPort = GetParam().port != 0 ? GetParam().port : closedLoopbackPort();
  run.Settings.MailTo = "ops@example.test";
  const auto error = notify();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), GetParam().number) << error->description();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, UnusableServerTest,
    ::testing::Values(ServerCase{"NothingListening", "127.0.0.1", 0, errc::kMailCannotConnect},
                      ServerCase{"NoServerSet", "", 25, errc::kMailBadServer},
                      ServerCase{"NotAHostName", "127.0.0.1/x?", 25, errc::kMailBadServer},
                      ServerCase{"PortOutOfRange", "127.0.0.1", 70000, errc::kMailBadServer}),
    [](const auto& info) { return info.param.name; });

TEST_F(DeliveryTest, AServerThatNeverAnswersIsGivenUpWithinTheBounds) {
  SmtpSink sink(SmtpSink::Mode::Silent);
  CurlSmtpComponent component({std::chrono::milliseconds(1000), std::chrono::seconds(1)});
  component.setServer("127.0.0.1");
  component.setPort(sink.port());
  component.setRecipient("ops@example.test");

  const auto start = std::chrono::steady_clock::now();
  const SmtpStatus status = component.send();
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(status.number, errc::kMailTimedOut) << status.description;
  EXPECT_LT(took, std::chrono::seconds(10));
  std::int32_t result = 0;
  component.resultValue(result);
  EXPECT_EQ(result, errc::kMailTimedOut);
}

}  // namespace
}  // namespace quillfen
