// The listing parsers and the hand-over of names to the fetch stage: whatever a server sends,
// the fetch stage's reader gets back every parsed entry's name, in order, none lost or split,
// with only the characters the hand-over must replace (CR, LF and NUL become SUB) replaced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/ftp_listing.h"

namespace {

// The line the hand-over must give the entry, written here from the rule rather than taken
// from the writer.
std::string expectedLine(const quillfen::RemoteEntry& entry) {
  std::string line;
  for (char c : entry.name) line += c == '\r' || c == '\n' || c == '\0' ? '\x1A' : c;
  return entry.isDirectory ? line + "/" : line;
}

void checkHandOver(const std::vector<quillfen::RemoteEntry>& entries) {
  const std::string text = quillfen::formatListing(entries);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n') std::abort();  // only the CR LF pairs end lines
    if (text[at] != '\r') continue;
    if (at + 1 >= text.size() || text[at + 1] != '\n') std::abort();
    ++at;
  }
  const std::vector<std::string> names = quillfen::listedNames(text);
  if (names.size() != entries.size()) std::abort();  // a name lost or split
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] != expectedLine(entries[i])) std::abort();
  }
}

// Whatever text reaches the reader, a name it gives is one non-empty line.
void checkReader(std::string_view text) {
  for (const std::string& name : quillfen::listedNames(text)) {
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkHandOver(quillfen::parseMlsdListing(text));
  checkHandOver(quillfen::parseListListing(text, 1'800'000'000));
  checkHandOver(quillfen::parseSftpListing(text, 1'800'000'000));
  checkReader(text);
  return 0;
}
