// The profile reader and writer: a value written into any text reads back as written, and
// every other key keeps the value it had.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/error.h"
#include "config/profile_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The first line is the value to write, the rest the file it is written into.
  const std::size_t end = input.find('\n');
  const std::string value = input.substr(0, end);
  const std::string text = end == std::string::npos ? std::string() : input.substr(end + 1);
  const std::optional<std::string> other = quillfen::findProfileValue(text, "Quillfen", "Other");
  std::string written;
  try {
    written = quillfen::withProfileValue(text, "Quillfen", "Key", value);
  } catch (const quillfen::Error&) {
    return 0;  // a value a profile line cannot hold
  }
  if (quillfen::findProfileValue(written, "Quillfen", "Key") != value) std::abort();
  if (quillfen::findProfileValue(written, "Quillfen", "Other") != other) std::abort();
  return 0;
}
