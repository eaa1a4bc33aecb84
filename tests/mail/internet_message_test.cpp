#include "mail/internet_message.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <sstream>
#include <string>

namespace quillfen::mail {
namespace {

constexpr std::time_t kFridayEvening = 1070658453;  // 5 December 2003, 21:07:33 UTC

class InZone {
 public:
  explicit InZone(const char* zone) {
    if (const char* old = getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~InZone() {
    if (saved_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", saved_.c_str(), 1);
    }
    tzset();
  }

 private:
  std::string saved_;
};

TEST(Rfc5322Date, UsesEnglishNamesTwoDigitDaysAndTheLocalOffset) {
  {
    InZone utc("UTC0");
    EXPECT_EQ(rfc5322Date(kFridayEvening), "Fri, 05 Dec 2003 21:07:33 +0000");
  }
  {
    InZone newfoundland("NST3:30");
    EXPECT_EQ(rfc5322Date(kFridayEvening), "Fri, 05 Dec 2003 17:37:33 -0330");
  }
  {
    InZone tokyo("JST-9");
    EXPECT_EQ(rfc5322Date(kFridayEvening), "Sat, 06 Dec 2003 06:07:33 +0900");
  }
}

TEST(EnvelopeAddress, IsTheBareAddressOfEachWayOfWritingIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"backup@example.test", "backup@example.test"},
      {"  backup@example.test\t", "backup@example.test"},
      {"Quillfen Backup <backup@example.test>", "backup@example.test"},
      {"\"Doe, Jane\" < jane@example.test >", "jane@example.test"},
      {"ops@example.test\r\n", "ops@example.test"},
      {"   ", ""},
  };
  for (const auto& [written, envelope] : cases) {
    EXPECT_EQ(envelopeAddress(written), envelope) << written;
  }
}

TEST(ComposeInternetMessage, KeepsEveryWireLineShortAndEndedByCrLf) {
  MessageParts parts;
  parts.sender = "backup@example.test";
  parts.recipient = "ops@example.test";
  parts.subject = std::string(2000, 's');
  parts.text = "short\n" + std::string(5000, 'x') + "\r\n\xC3\xA9t\xC3\xA9 \nlast";
  const std::string wire = composeInternetMessage(parts);

  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == '\n') {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(wire[i - 1], '\r') << "bare LF at octet " << i;
      EXPECT_LE(i - 1 - lineStart, 998u) << "line at octet " << lineStart;
      lineStart = i + 1;
    } else if (wire[i] == '\r') {
      ASSERT_LT(i + 1, wire.size());
      EXPECT_EQ(wire[i + 1], '\n') << "bare CR at octet " << i;
    }
  }
  EXPECT_EQ(lineStart, wire.size()) << "the last line has no CR LF";
  EXPECT_NE(wire.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
  // The blank before a hard line break must survive transports that strip trailing blanks.
  EXPECT_NE(wire.find("=C3=A9t=C3=A9=20\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quillfen::mail
