// The listing parsers and the hand-over of names to the fetch stage: whatever a server sends,
// every parsed entry arrives as exactly one line, and no line holds a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/ftp_listing.h"

namespace {

void checkHandOver(const std::vector<quillfen::RemoteEntry>& entries) {
  const std::string text = quillfen::formatListing(entries);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n') std::abort();  // only the CR LF pairs end lines
    if (text[at] != '\r') continue;
    if (at + 1 >= text.size() || text[at + 1] != '\n') std::abort();
    ++lines;
    ++at;
  }
  if (lines != entries.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  checkHandOver(quillfen::parseMlsdListing(text));
  checkHandOver(quillfen::parseListListing(text, 1'800'000'000));
  return 0;
}
