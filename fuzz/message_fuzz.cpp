// The Internet message builder: whatever the settings and the report hold, every line ends in
// CR LF, none is longer than 998 octets, and the headers are exactly the ones the builder
// writes, each once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "mail/internet_message.h"

namespace {

// The input cut at NUL bytes into sender, recipient, subject and text; the text, a view of the
// input, is given in two pieces cut in its middle, so that a line (a CR LF too) may run from one
// piece into the next.
quillfen::mail::MessageParts partsOf(std::string_view input) {
  std::string_view fields[4];
  for (std::string_view& field : fields) {
    const std::size_t end = input.find('\0');
    field = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  const std::string_view text = fields[3];
  return {std::string(fields[0]),
          std::string(fields[1]),
          std::string(fields[2]),
          {text.substr(0, text.size() / 2), text.substr(text.size() / 2)},
          1070000000,
          "<id@example.test>"};
}

// The settings refuse an address longer than SMTP allows (254 octets); a display name of any
// length is the builder's to fold.
bool addressFitsSmtp(std::string_view mailbox) {
  if (!mailbox.empty() && mailbox.back() == '>') {
    const std::size_t open = mailbox.rfind('<');
    if (open != std::string_view::npos) mailbox = mailbox.substr(open + 1);
  }
  return mailbox.size() <= 256;  // with room for the blanks around it
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quillfen::mail::MessageParts parts =
      partsOf(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!addressFitsSmtp(parts.sender) || !addressFitsSmtp(parts.recipient)) return 0;
  const std::string message = quillfen::mail::composeInternetMessage(parts);
  static const std::set<std::string_view> kHeaders = {
      "Date",       "From",         "To",           "Subject",
      "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
  std::set<std::string_view> seen;
  std::size_t lineStart = 0;
  bool inHeaders = true;
  for (std::size_t at = 0; at < message.size(); ++at) {
    if (message[at] == '\n') std::abort();  // a bare LF
    if (message[at] != '\r') continue;
    if (at + 1 >= message.size() || message[at + 1] != '\n') std::abort();  // a bare CR
    const std::string_view line(message.data() + lineStart, at - lineStart);
    if (line.size() > 998) std::abort();
    if (inHeaders && line.empty()) inHeaders = false;
    if (inHeaders && !line.empty() && line[0] != ' ' && line[0] != '\t') {
      const std::string_view name = line.substr(0, line.find(':'));
      if (!kHeaders.contains(name) || !seen.insert(name).second) std::abort();  // injected
    }
    lineStart = at + 2;
    ++at;
  }
  return 0;
}
