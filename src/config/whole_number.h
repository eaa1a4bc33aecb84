#pragma once

#include <cstdint>
#include <string_view>

namespace quillfen {

// The number a setting's text stands for, as a signed 32-bit integer. Accepted: blanks around
// the number, an optional "+" or "-", decimal digits, and a fraction after "." that is rounded to
// the nearest whole number, halves to even ("2.5" -> 2, "3.5" -> 4, "-2.5" -> -2). The decimal
// point is "." whatever the locale, so that a file means the same everywhere. Refused as not a
// number: exponents ("1e3"), hexadecimal ("0x10", "&H10"), thousands separators ("1,000"),
// blanks inside the number, an empty text.
// Throws Error kTypeMismatch for a text that is not a number and kOverflow for a number outside
// -2147483648..2147483647 after rounding; both descriptions name `key` and the text.
std::int32_t wholeNumberSetting(std::string_view key, std::string_view text);

}  // namespace quillfen
