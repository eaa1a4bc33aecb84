// The message as it goes on the wire; the real mail component, the Mailer and SendNotification
// against an aiosmtpd sink on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "common/error.h"
#include "mail/curl_smtp_component.h"
#include "mail/internet_message.h"
#include "mail/mailer.h"
#include "mail/smtp_component.h"
#include "run/run_module.h"
#include "run/send_notification.h"
#include "support/fakes.h"
#include "support/loopback_servers.h"

namespace quillfen {
namespace {

using test::SinkSecurity;
using test::SmtpSink;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Short enough to keep the tests quick, long enough for a loaded machine.
constexpr SmtpBounds kTestBounds{std::chrono::milliseconds(2000), std::chrono::seconds(2)};

// The body as a mail reader shows it: the frame's CR LF are line ends like the report's LF.
std::string readerBody(const std::string& report) {
  return "This is an automated message sent by Quillfen. \n10/05/03 2:15 AM\n" +
         std::string(80, '_') + "\n\n" + report;
}

// Every line ends by CR LF; each header line stays within SMTP's 998 octets, long names folded,
// with no control character but its CR LF; the blank before a line break must survive transports
// that strip trailing blanks. Over-long body lines are refused by the sink itself, so the delivery
// tests catch those.
TEST(ComposeInternetMessage, KeepsEveryLineWithinSmtpsRulesAndProtectsTrailingBlanks) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      // sender, recipient, text
      {std::string(1200, 'n') + " <a@example.test>", "\"" + std::string(2000, 'm') + "\" <b@x>",
       "a\r\n\xC3\xA9t\xC3\xA9 \nlast\rend"},
      {"\x01Ops\x1B[31m\t <a@example.test>", "Desk\x7F\x08 <b@x\x07>", "\xC3\xA9t\xC3\xA9 \n"}};
  for (const auto& [sender, recipient, text] : cases) {
    const mail::MessageParts parts{sender, recipient, "Backup\treport", {text}, 0, ""};
    const std::string wire = mail::composeInternetMessage(parts);
    const std::string headers = wire.substr(0, wire.find("\r\n\r\n") + 2);
    EXPECT_FALSE(std::regex_search(wire, std::regex("\r[^\n]|[^\r]\n|\r$"))) << "bare CR or LF";
    EXPECT_TRUE(wire.ends_with("\r\n"));
    EXPECT_FALSE(std::regex_search(headers, std::regex("[^\r\n]{999}"))) << sender;
    EXPECT_FALSE(std::regex_search(headers, std::regex("[\\x00-\\x09\\x0B\\x0C\\x0E-\\x1F\\x7F]")))
        << sender;
    EXPECT_THAT(headers, HasSubstr("<b@x>\r\n")) << sender;
    EXPECT_THAT(wire, HasSubstr("=C3=A9t=C3=A9=20\r\n"));
  }
}

// A report reaches the message in pieces (the report, the lines after it) that are never joined:
// a line break, a CR LF or the one line that needs quoted-printable may sit on either side of a
// cut, and the message must be the same as from the whole text. One byte a piece, with empty
// pieces between, puts a cut at every place at once.
TEST(ComposeInternetMessage, TextInPiecesMakesTheSameMessageAsInOne) {
  const std::string texts[] = {"a\r\nb\rc\n\nd\r\r\ne\r", "plain\n\xC3\xA9t\xC3\xA9 \n",
                               "x\n" + std::string(999, 'y') + "\nz\n", ""};
  for (const std::string& text : texts) {
    const auto wire = [&](std::vector<std::string_view> pieces) {
      return mail::composeInternetMessage({"a@x", "b@x", "S", std::move(pieces), 0, "<i@x>"});
    };
    const std::string whole = wire({text});
    std::vector<std::string_view> bytes;
    for (std::size_t at = 0; at < text.size(); ++at)
      bytes.insert(bytes.end(), {"", {&text[at], 1}});
    EXPECT_EQ(wire(bytes), whole) << text.substr(0, 20);
  }
}

struct DeliveryTest : ::testing::Test {
  DeliveryTest() {
    run.Settings.MailServer = "127.0.0.1";
    run.Settings.MailFrom = "\"Quillfen, Backup\" < backup@example.test >";
    run.Settings.MailSubject = "Quillfen Backup Report";
    run.ActivityReport = "3 files downloaded\n  a.txt 1 KB\n";
    env.services.createMailComponent = [] {
      return std::make_unique<CurlSmtpComponent>(kTestBounds);
    };
  }

  // Runs the notification stage and returns the error it raised, if any.
  std::optional<Error> notify(int port, const std::string& mailTo) {
    run.Settings.MailPort = port;
    run.Settings.MailTo = mailTo;
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

// Every address gets its own message, in the order written; subject and body arrive intact, and
// line breaks in the sender or the subject are dropped: they must add no header.
TEST_F(DeliveryTest, EveryAddressGetsItsOwnIntactMessageAndLineBreaksAddNoHeader) {
  const std::tuple<std::string, std::string, std::string> texts[] = {
      // the subject, the report, the subject received when not the one sent
      {run.Settings.MailSubject, run.ActivityReport, ""},
      {"Report", ".\n.hidden\n..\nend.\n", ""},
      {"Sicherung fertig \xE2\x80\x93 Gr\xC3\xB6\xC3\x9F"
       "e \xE2\x9C\x93 f\xC3\xBCr alle Ordner unter /srv/daten/\xC3\xA4rger",
       "\xC3\x84rger.txt 12 KB\n.versteckt\n\xE6\x97\xA5\xE6\x9C\xAC.txt 1 KB\n", ""},
      {std::string(2000, 's'), "before\n" + std::string(3000, 'x') + "\nafter\n", ""},
      {"R\r\nBcc: victim@example.test\nX-Injected: subject", "R\n",
       "RBcc: victim@example.testX-Injected: subject"}};
  const std::string to[] = {"first@example.test", "Ops Desk <ops@example.test>", "c@example.test"};
  SmtpSink sink;
  ASSERT_EQ(notify(sink.port(), to[0] + ";  " + to[1] + " ; \t ;" + to[2] + ";"), std::nullopt);
  run.Settings.MailFrom = "Backup\r\nX-Injected: sender <backup@example.test>";
  for (const auto& [subject, report, received] : std::span(texts).subspan(1)) {
    run.Settings.MailSubject = subject;
    run.ActivityReport = report;
    ASSERT_EQ(notify(sink.port(), "ops@example.test"), std::nullopt) << subject;
  }

  const auto messages = sink.messages();
  ASSERT_EQ(messages.size(), std::size(texts) + 2) << "blank and trailing entries add no message";
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto& [subject, report, received] = texts[i < 3 ? 0 : i - 2];
    SCOPED_TRACE(subject.substr(0, 40));
    EXPECT_EQ(messages[i].mailFrom, "backup@example.test");
    EXPECT_THAT(messages[i].rcptTos, ElementsAre(i == 0   ? "first@example.test"
                                                 : i == 2 ? "c@example.test"
                                                          : "ops@example.test"));
    EXPECT_THAT(messages[i].data,
                HasSubstr("\r\nTo: " + (i < 3 ? to[i] : "ops@example.test") + "\r\n"));
    EXPECT_EQ(messages[i].subject, received.empty() ? subject : received);
    EXPECT_EQ(messages[i].body, readerBody(report));
    EXPECT_THAT(messages[i].defects, IsEmpty());
    EXPECT_THAT(messages[i].headers,
                ElementsAre("Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                            "Content-Type", "Content-Transfer-Encoding"));
  }
  EXPECT_THAT(messages[0].data,
              HasSubstr("\r\nFrom: \"Quillfen, Backup\" < backup@example.test >\r\n"));
  EXPECT_EQ(env.events.passes, 0) << "window events were processed while mailing";
}

TEST_F(DeliveryTest, AFailedExchangeEndsTheStageWithANumberedErrorWithinTheBounds) {
  using Mode = SmtpSink::Mode;
  // The sink's mode (none: a port that nothing listens on, one a sink held until it ended), the
  // error's number and text, the messages delivered.
  const std::tuple<std::optional<Mode>, int, const char*, std::size_t> cases[] = {
      // The addresses after a refused one still get their message.
      {Mode::RefuseRecipient, errc::kMailFirst + 550, "550 5.1.1 <nobody@example.test>", 2},
      {Mode::Silent, errc::kMailTimedOut, "", 0},
      // The reply to the message's final "." has the same bound as every other reply, and
      // lines of a reply that never ends do not stretch it.
      {Mode::SlowDataReply, errc::kMailTimedOut, "", 1},
      {Mode::TrickledDataReply, errc::kMailTimedOut, "", 1},
      {std::nullopt, errc::kMailCannotConnect, "", 0}};
  const int unused = SmtpSink().port();
  for (const auto& [mode, number, text, delivered] : cases) {
    std::optional<SmtpSink> sink;
    if (mode) sink.emplace(*mode, "nobody@example.test");
    const auto start = std::chrono::steady_clock::now();
    const auto error =
        notify(sink ? sink->port() : unused, "a@example.test;nobody@example.test;c@example.test");
    // Below twice the bound: libcurl's own wait for the QUIT after a time-out doubled it. A
    // trickled reply is checked against its own fault, a wait stretched line by line to the
    // sink's 10 s: with a build beside the tests it has ended at twice the bound, 1 time in 10,
    // for a reason not found yet.
    const auto limit = std::chrono::milliseconds(kTestBounds.reply) *
                       (mode == Mode::TrickledDataReply ? 10 : 7) / 4;
    EXPECT_LT(std::chrono::steady_clock::now() - start, limit)
        << number << " mode " << (mode ? static_cast<int>(*mode) : -1);
    ASSERT_TRUE(error.has_value()) << number;
    EXPECT_EQ(error->number(), number) << error->description();
    EXPECT_THAT(error->description(), HasSubstr(text));
    EXPECT_EQ(sink ? sink->messages().size() : 0u, delivered) << error->description();
  }
}

constexpr const char* kLogin = "backup@example.test";
constexpr const char* kPassword = "app pass \xC3\xA9 1";

// One exchange against a server that requires TLS and a login, or against a plain one; verifying
// the connection succeeds and fails with the delivery, and sends nothing.
TEST_F(DeliveryTest, DeliversOnlyOverTrustedTlsAfterTheLogin) {
  using Kind = SinkSecurity::Kind;
  using Mode = MailSecurityMode;
  test::TestCertificate certificate;
  const std::string cert = certificate.certificate().string(), pin = certificate.pin();
  // the server, the security, MailTrust, the password, the error's number (0: delivered) and text
  const std::tuple<const char*, Kind, Mode, std::string, const char*, int, const char*> cases[] = {
      {"StartTlsAndLogin", Kind::StartTls, Mode::StartTls, cert, kPassword, 0, ""},
      {"ImplicitTlsAndPin", Kind::ImplicitTls, Mode::Tls, pin, kPassword, 0, ""},
      {"WrongPassword", Kind::StartTls, Mode::StartTls, pin, "wrong pass", errc::kMailLoginRefused,
       "535"},
      {"UntrustedCertificate", Kind::ImplicitTls, Mode::Tls, "", kPassword, errc::kMailUntrusted,
       "set MailTrust to that pin"},
      {"TlsAgainstAPlainServer", Kind::None, Mode::Tls, "", kPassword, errc::kMailTlsFailed,
       "TLS handshake"},
      {"StartTlsNotOffered", Kind::None, Mode::StartTls, "", kPassword, errc::kMailNoStartTls,
       "STARTTLS"}};
  for (const auto& [name, server, security, trust, password, number, text] : cases) {
    SCOPED_TRACE(name);
    run.Settings.MailSecurity = security;
    run.Settings.MailUserName = kLogin;
    run.Settings.MailPassword = password;
    run.Settings.MailServerTrust = tlsTrustOf("MailTrust", trust, 0);
    SmtpSink sink(SinkSecurity{server, &certificate, kLogin, kPassword});
    run.Settings.MailPort = sink.port();
    Mailer mailer(env.services.createMailComponent, run.Settings, env.clock, env.format);
    if (number == 0) {
      EXPECT_NO_THROW(mailer.VerifyConnection());
    } else {
      EXPECT_THROW(mailer.VerifyConnection(), Error);
    }
    const auto error = notify(sink.port(), "ops@example.test");
    const auto messages = sink.messages();
    if (number == 0) {
      ASSERT_EQ(error, std::nullopt) << error->description();
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].login, kLogin);
      EXPECT_EQ(messages[0].body, readerBody(run.ActivityReport));
      continue;
    }
    EXPECT_THAT(messages, IsEmpty());
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), number) << error->description();
    EXPECT_THAT(error->description(), HasSubstr(text));
    if (number == errc::kMailUntrusted) {
      EXPECT_THAT(error->description(), HasSubstr(pin));
    }
    EXPECT_THAT(error->description(), Not(HasSubstr(password)));
    EXPECT_THAT(error->description(), Not(HasSubstr("backup@")));
  }
}

}  // namespace
}  // namespace quillfen
