#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen::mail {

// The parts of one plain-text message, as the user of the mail component wrote them.
struct MessageParts {
  std::string sender;     // "addr" or "Name <addr>"
  std::string recipient;  // "addr" or "Name <addr>"
  std::string subject;
  // The text in pieces, read one after the other; lines end in LF, CR LF or CR, and a line (a
  // CR LF too) may run from one piece into the next. The pieces are views, not copies: a report
  // of a million lines is never held twice.
  std::vector<std::string_view> text;
  std::time_t date = 0;
  std::string messageId;  // with its angle brackets
};

// `text` without CR, LF and NUL: a header value or an address can then neither start a new
// header nor cut a C string short.
std::string withoutLineBreaks(std::string_view text);

// The address an SMTP envelope carries: "addr" for "Name <addr>", otherwise the text itself,
// trimmed. Line breaks are removed first.
std::string envelopeAddress(std::string_view addressText);

// `moment` in local time, in the form mail headers use: "Fri, 05 Dec 2003 21:07:33 +0100".
// English names whatever the locale, as the header grammar demands.
std::string rfc5322Date(std::time_t moment);

// A fresh, globally unique Message-ID under the domain of `senderAddress`.
std::string newMessageId(std::string_view senderAddress);

// The message of `parts` as it goes on the wire (see composeInternetMessage), made a little at a
// time as the transport takes it. `parts` and the text its pieces show must outlive it.
class WireMessage {
 public:
  explicit WireMessage(const MessageParts& parts);
  // Up to `room` bytes of the message's next part into `out`; 0 once all of it was read.
  std::size_t read(char* out, std::size_t room);

  // The lines of a text in pieces, from its start.
  class Lines {
   public:
    explicit Lines(const std::vector<std::string_view>& pieces) : pieces_(pieces) {}
    // The next line, without its line break, into `line`; false after the last one.
    bool next(std::string& line);

   private:
    const std::vector<std::string_view>& pieces_;
    std::size_t piece_ = 0;
    std::size_t offset_ = 0;
    bool afterCr_ = false;  // a LF that comes next belongs to the CR before it
  };

 private:
  bool refill();

  Lines lines_;
  bool quotedPrintable_ = false;
  std::string line_;
  std::string pending_;  // made and not yet read
  std::size_t taken_ = 0;
};

// The complete message as it goes on the wire: headers, an empty line and the body, every
// line ending in CR LF and none longer than the SMTP limit. Header values are cleaned of line
// breaks, addresses of every control character; a subject or display name that is not plain
// ASCII or too long for one line is encoded in folded words. The final "." line of SMTP is
// not part of it.
std::string composeInternetMessage(const MessageParts& parts);

}  // namespace quillfen::mail
