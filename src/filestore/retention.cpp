#include "filestore/retention.h"

#include <algorithm>
#include <array>

namespace quillfen {

namespace {

std::int64_t dayNumber(const Date& date) {
  return daysFromCivil(date);
}

// Weeks counted from the Monday before 1970-01-01 (a Thursday); an ISO week is one number,
// also where it spans the turn of a year.
std::int64_t weekNumber(const Date& date) {
  constexpr std::int64_t kDaysAfterMonday = 3;
  const std::int64_t days = daysFromCivil(date) + kDaysAfterMonday;
  return (days >= 0 ? days : days - 6) / 7;
}

std::int64_t monthNumber(const Date& date) {
  return static_cast<std::int64_t>(date.year) * 12 + date.month - 1;
}

struct Rule {
  std::int32_t count;  // the periods still to keep a backup of
  std::int64_t (*period)(const Date&);
};

bool newestFirst(const Date& a, const Date& b) {
  return daysFromCivil(a) > daysFromCivil(b);
}

}  // namespace

std::optional<Date> dateOfBackupName(const std::string& name) {
  if (name.size() != 8 ||
      !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const Date date{std::stoi(name.substr(0, 4)), std::stoi(name.substr(4, 2)),
                  std::stoi(name.substr(6, 2))};
  // A day past its month's end (20230230) comes back as another day.
  if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1 ||
      civilFromDays(daysFromCivil(date)) != date) {
    return std::nullopt;
  }
  return date;
}

std::vector<Date> backupsNotKept(std::vector<Date> backups, const Date& today,
                                 const KeepPolicy& policy) {
  std::erase_if(backups, [&](const Date& day) { return !newestFirst(today, day); });
  backups.insert(backups.begin(), today);
  std::sort(backups.begin() + 1, backups.end(), newestFirst);

  std::array<Rule, 3> rules{Rule{policy.daily, dayNumber}, Rule{policy.weekly, weekNumber},
                            Rule{policy.monthly, monthNumber}};
  std::array<std::optional<std::int64_t>, 3> lastKept;
  std::vector<Date> notKept;
  for (std::size_t i = 0; i < backups.size(); ++i) {
    bool kept = i == 0;
    for (std::size_t r = 0; r < rules.size(); ++r) {
      const std::int64_t period = rules[r].period(backups[i]);
      if (rules[r].count > 0 && period != lastKept[r]) {
        kept = true;
        lastKept[r] = period;
        --rules[r].count;
      }
    }
    if (!kept) notKept.push_back(backups[i]);
  }
  return notKept;
}

}  // namespace quillfen
