// The listing parsers and the listing as text (what GetChunk hands out): whatever a server
// sends, the text holds every parsed entry's name on a line of its own, in order, none lost or
// split, with only the characters a line cannot hold (CR, LF and NUL become SUB) replaced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/ftp_listing.h"

namespace {

// The line the text must give the entry, written here from the rule rather than taken
// from the writer.
std::string expectedLine(const quillfen::RemoteEntry& entry) {
  std::string line;
  for (char c : entry.name) line += c == '\r' || c == '\n' || c == '\0' ? '\x1A' : c;
  return entry.isDirectory ? line + "/" : line;
}

void checkHandOver(const std::vector<quillfen::RemoteEntry>& entries) {
  const std::string text = quillfen::formatListing(entries);
  std::size_t at = 0;
  for (const quillfen::RemoteEntry& entry : entries) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos || text.substr(at, end - at) != expectedLine(entry)) std::abort();
    at = end + 2;
  }
  if (at != text.size()) std::abort();  // a line no entry accounts for
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkHandOver(quillfen::parseMlsdListing(text));
  checkHandOver(quillfen::parseListListing(text, 1'800'000'000));
  checkHandOver(quillfen::parseSftpListing(text, 1'800'000'000));
  return 0;
}
