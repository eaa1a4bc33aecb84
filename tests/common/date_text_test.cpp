#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "common/date.h"
#include "common/error.h"
#include "common/transfer_scheme.h"

// Tests of the common library's system-independent parts, built for Linux and for Windows.

namespace quillfen {
namespace {

TEST(DateTest, AddDaysCrossesMonthYearAndLeapDayBoundariesAndFolderNamesArePadded) {
  const std::pair<Date, Date> dayBefore[] = {
      {{2004, 3, 1}, {2004, 2, 29}}, {{1900, 3, 1}, {1900, 2, 28}}, {{1970, 1, 1}, {1969, 12, 31}}};
  for (const auto& [from, expected] : dayBefore)
    EXPECT_EQ(addDays(from, -1), expected) << formatYyyymmdd(from);
  EXPECT_EQ(formatYyyymmdd({987, 1, 9}), "09870109") << "folder names are zero-padded";
}

// MDTM replies are read as UTC with this; the fields carry over as timegm() carries them.
TEST(DateTest, SecondsSinceEpochReadFieldsAsUtcAndCarryOverOutOfRangeOnes) {
  const std::pair<DateTime, std::int64_t> cases[] = {
      {{{1970, 1, 1}, 0, 0, 0}, 0},
      {{{1969, 12, 31}, 23, 59, 59}, -1},
      {{{2024, 2, 29}, 23, 59, 60}, 1709251200},  // a leap second is the next day's first
      {{{2000, 13, 1}, 0, 0, 0}, 978307200},      // month 13: January 2001
      {{{2001, 0, 1}, 0, 0, 0}, 975628800},       // month 0: December 2000
  };
  for (const auto& [time, seconds] : cases) {
    EXPECT_EQ(secondsSinceEpoch(time), seconds) << formatYyyymmdd(time.date);
  }
}

// Every text that quotes a path or an address: control characters as "?", no part of a login.
TEST(ShownTextTest, PathsShowNoControlCharacterAndAddressesNoLogin) {
  EXPECT_EQ(
      errorFromErrno(ENOENT, "Cannot copy", "/s/a\nrun ended: exit code 0\x1b[2J").description(),
      "Cannot copy '/s/a?run ended: exit code 0?[2J': No such file or directory");
  const std::pair<const char*, const char*> addresses[] = {
      {"ftp://backup:Se/cr3t-PW@host:21/data", "ftp://host:21/data"},
      {"ftp://localhost:21/S3cretTail@ftp.example.com/data", "ftp://ftp.example.com/data"},
      {"SFTP://u:p@ss@h/d", "SFTP://h/d"},
      {"x://u:pw@h", "h"},  // an unknown scheme could be part of the login
      {"ftp://h/a\tb", "ftp://h/a?b"},
  };
  for (const auto& [address, shown] : addresses) EXPECT_EQ(addressWithoutLogin(address), shown);
}

}  // namespace
}  // namespace quillfen
