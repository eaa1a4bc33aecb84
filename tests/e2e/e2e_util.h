#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "common/date.h"

namespace quillfen::test {

// Today's backup folder name as the program computes it from the local clock.
inline std::string todaysFolderName() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return formatYyyymmdd(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

inline std::string daysAgoFolderName(int days) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return formatYyyymmdd(addDays(Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}, -days));
}

}  // namespace quillfen::test
