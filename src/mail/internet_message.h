#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quillfen::mail {

// The parts of one plain-text message, as the user of the mail component wrote them.
struct MessageParts {
  std::string sender;     // "addr" or "Name <addr>"
  std::string recipient;  // "addr" or "Name <addr>"
  std::string subject;
  std::string text;  // lines end in LF, CR LF or CR
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

// The complete message as it goes on the wire: headers, an empty line and the body, every
// line ending in CR LF and none longer than the SMTP limit. Header values are cleaned of line
// breaks, addresses of every control character; a subject or display name that is not plain
// ASCII or too long for one line is encoded in folded words. The final "." line of SMTP is
// not part of it.
std::string composeInternetMessage(const MessageParts& parts);

}  // namespace quillfen::mail
