#include "mail/internet_message.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

namespace quillfen::mail {
namespace {

// 5 December 2003, 21:07:33 UTC, as the header shows it with TZ set to `zone`.
std::string dateInZone(const char* zone) {
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", zone, 1);
  tzset();
  const std::string date = rfc5322Date(1070658453);
  saved.empty() ? unsetenv("TZ") : setenv("TZ", saved.c_str(), 1);
  tzset();
  return date;
}

TEST(Rfc5322Date, UsesEnglishNamesTwoDigitDaysAndTheLocalOffset) {
  EXPECT_EQ(dateInZone("UTC0"), "Fri, 05 Dec 2003 21:07:33 +0000");
  EXPECT_EQ(dateInZone("NST3:30"), "Fri, 05 Dec 2003 17:37:33 -0330");
  EXPECT_EQ(dateInZone("JST-9"), "Sat, 06 Dec 2003 06:07:33 +0900");
}

TEST(EnvelopeAddress, IsTheBareAddressOfEachWayOfWritingIt) {
  for (const auto& [written, envelope] :
       {std::pair{"\"Doe, Jane\" < jane@example.test >", "jane@example.test"},
        std::pair{"ops@example.test\r\n", "ops@example.test"}, std::pair{"   ", ""}}) {
    EXPECT_EQ(envelopeAddress(written), envelope) << written;
  }
}

TEST(ComposeInternetMessage, KeepsEveryWireLineShortAndEndedByCrLf) {
  MessageParts parts;
  parts.sender = "backup@example.test";
  parts.recipient = "ops@example.test";
  parts.subject = std::string(2000, 's');
  parts.text = "short\n" + std::string(5000, 'x') + "\r\n\xC3\xA9t\xC3\xA9 \nlast\rend";
  const std::string wire = composeInternetMessage(parts);
  std::size_t lineStart = 0;
  for (std::size_t end; (end = wire.find("\r\n", lineStart)) != std::string::npos;
       lineStart = end + 2) {
    const std::string line = wire.substr(lineStart, end - lineStart);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare CR or LF at " << lineStart;
    EXPECT_LE(line.size(), 998u) << "line at octet " << lineStart;
  }
  EXPECT_EQ(lineStart, wire.size()) << "the last line has no CR LF";
  EXPECT_NE(wire.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
  // The blank before a hard line break must survive transports that strip trailing blanks.
  EXPECT_NE(wire.find("=C3=A9t=C3=A9=20\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quillfen::mail
