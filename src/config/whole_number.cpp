#include "config/whole_number.h"

#include <algorithm>
#include <string>

#include "common/error.h"
#include "common/text.h"

namespace quillfen {

namespace {

// The magnitude of INT32_MIN; anything above it cannot fit whatever the sign.
constexpr std::uint64_t kLargestMagnitude = 2147483648u;

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

Error notANumber(std::string_view key, std::string_view text) {
  return Error(errc::kTypeMismatch, std::string(key) + " is not a whole number: " + quoted(text));
}

Error outOfRange(std::string_view key, std::string_view text) {
  return Error(
      errc::kOverflow,
      std::string(key) + " is outside the range -2147483648 to 2147483647: " + quoted(text));
}

// Whether the digits after the point round the whole part up: above one half always, exactly
// one half only when that makes the result even. Decided on the digits themselves, so that no
// binary fraction blurs a half.
bool roundsUp(std::string_view fraction, bool wholeIsOdd) {
  if (fraction.empty() || fraction.front() < '5') return false;
  if (fraction.front() > '5') return true;
  const bool exactlyHalf = fraction.find_first_not_of('0', 1) == std::string_view::npos;
  return !exactlyHalf || wholeIsOdd;
}

}  // namespace

std::int32_t wholeNumberSetting(std::string_view key, std::string_view text) {
  std::string_view number = trimmed(text);
  const bool negative = !number.empty() && number.front() == '-';
  if (!number.empty() && (number.front() == '-' || number.front() == '+')) number.remove_prefix(1);

  const auto point = number.find('.');
  const std::string_view whole = number.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : number.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || !allDigits(whole) || !allDigits(fraction)) {
    throw notANumber(key, text);
  }

  std::uint64_t magnitude = 0;
  for (char digit : whole) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit - '0');
    if (magnitude > kLargestMagnitude) throw outOfRange(key, text);
  }
  if (roundsUp(fraction, magnitude % 2 == 1)) ++magnitude;

  const std::uint64_t limit = negative ? kLargestMagnitude : kLargestMagnitude - 1;
  if (magnitude > limit) throw outOfRange(key, text);
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace quillfen
