#include "mail/internet_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "common/local_time.h"
#include "common/text.h"

namespace quillfen::mail {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// SMTP's limit on a line, its CR LF not counted.
constexpr std::size_t kMaxLineOctets = 998;
// Quoted-printable's own limit on an encoded line.
constexpr std::size_t kMaxEncodedLine = 76;
// Octets of text per encoded word: 52 base64 characters keep "Subject: " and one word within
// the recommended 78 columns.
constexpr std::size_t kEncodedWordOctets = 39;
// How much of the body is encoded ahead of the transport.
constexpr std::size_t kRefillOctets = 16384;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isPrintableAscii(unsigned char c) {
  return c >= 0x20 && c < 0x7F;
}

bool isPlainText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return isPrintableAscii(static_cast<unsigned char>(c)) || c == '\t';
  });
}

std::string base64(std::string_view octets) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < octets.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, octets.size() - i);
    unsigned bits = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      bits = (bits << 8) | (k < n ? static_cast<unsigned char>(octets[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

// RFC 2047 "B" words in UTF-8, folded onto continuation lines. A character is never split
// between two words, as decoders must be able to decode each word alone.
std::string encodedWords(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = std::min(text.size(), start + kEncodedWordOctets);
    while (end < text.size() && end > start + 1 &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + base64(text.substr(start, end - start)) + "?=";
    start = end;
  }
  return out;
}

// "=?" in a plain subject would be read as the start of an encoded word. A tab is encoded too:
// no control character of the setting reaches the header as it is.
std::string headerSubject(std::string_view subject) {
  const std::string text = withoutLineBreaks(subject);
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
    return isPrintableAscii(static_cast<unsigned char>(c));
  });
  const bool plain = printable && text.find("=?") == std::string::npos &&
                     text.size() + std::string_view("Subject: ").size() <= kMaxLineOctets;
  return plain ? text : encodedWords(text);
}

// The address as the header shows it: the whole text without control characters, with a
// non-ASCII display name encoded, and so is one that would make the line longer than SMTP
// allows: encoded words fold. A non-ASCII address itself stays as written, since no encoding
// may apply to it.
std::string headerAddress(std::string_view headerName, std::string_view addressText) {
  std::string cleaned(addressText);
  std::erase_if(cleaned, isControlCharacter);
  const std::string text(trimmed(cleaned));
  const std::size_t open = text.rfind('<');
  const bool fits = headerName.size() + 2 + text.size() <= kMaxLineOctets;
  if ((isPlainText(text) && fits) || open == std::string::npos || text.back() != '>') return text;
  std::string name(trimmed(std::string_view(text).substr(0, open)));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  const std::string address = text.substr(open);
  return name.empty() ? address : encodedWords(name) + " " + address;
}

std::string hexEscape(unsigned char c) {
  char text[4];
  std::snprintf(text, sizeof text, "=%02X", c);
  return text;
}

// One line in quoted-printable, with soft breaks so that no encoded line passes 76 columns.
// A blank at the end of the line is escaped: transports may strip trailing white space.
void appendQuotedPrintable(std::string& out, std::string_view line) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const bool last = i + 1 == line.size();
    const bool literal = (c > 0x20 && c < 0x7F && c != '=') || (isBlank(line[i]) && !last);
    const std::string token = literal ? std::string(1, line[i]) : hexEscape(c);
    // Every token but the last must leave room for the "=" of a soft break after it.
    const std::size_t room = last ? kMaxEncodedLine : kMaxEncodedLine - 1;
    if (column + token.size() > room) {
      out += "=\r\n";
      column = 0;
    }
    out += token;
    column += token.size();
  }
  out += kCrLf;
}

std::string domainOf(std::string_view senderAddress) {
  const std::string address = envelopeAddress(senderAddress);
  const std::size_t at = address.rfind('@');
  if (at == std::string::npos) return "quillfen.localhost";
  const std::string domain = address.substr(at + 1);
  const bool usable = !domain.empty() && std::all_of(domain.begin(), domain.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
  return usable ? domain : "quillfen.localhost";
}

void appendHeader(std::string& out, std::string_view name, std::string_view value) {
  out += name;
  out += ": ";
  out += value;
  out += kCrLf;
}

}  // namespace

std::string withoutLineBreaks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\0') out += c;
  }
  return out;
}

std::string envelopeAddress(std::string_view addressText) {
  const std::string text(trimmed(withoutLineBreaks(addressText)));
  const std::size_t open = text.rfind('<');
  if (open == std::string::npos) return text;
  const std::size_t close = text.find('>', open);
  if (close == std::string::npos) return text;
  return std::string(trimmed(std::string_view(text).substr(open + 1, close - open - 1)));
}

std::string rfc5322Date(std::time_t moment) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTime shown = localTime(moment);
  const std::tm& local = shown.fields;
  const long offsetMinutes = shown.secondsAheadOfUtc / 60;
  const long offset = std::labs(offsetMinutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+',
                offset / 60, offset % 60);
  return text;
}

std::string newMessageId(std::string_view senderAddress) {
  std::random_device random;
  char unique[64];
  std::snprintf(unique, sizeof unique, "%08x%08x.%llx", random(), random(),
                static_cast<unsigned long long>(std::time(nullptr)));
  return "<" + std::string(unique) + ".quillfen@" + domainOf(senderAddress) + ">";
}

// Lines end at CR LF, at a lone LF and at a lone CR; a final line break ends the last line
// rather than starting an empty one.
bool WireMessage::Lines::next(std::string& line) {
  line.clear();
  bool found = false;
  while (piece_ < pieces_.size()) {
    const std::string_view piece = pieces_[piece_];
    if (offset_ >= piece.size()) {
      ++piece_;
      offset_ = 0;
      continue;
    }
    if (std::exchange(afterCr_, false) && piece[offset_] == '\n') {
      ++offset_;
      continue;
    }
    const std::size_t end = piece.find_first_of("\r\n", offset_);
    if (end == std::string_view::npos) {
      line.append(piece.substr(offset_));
      found = true;
      offset_ = piece.size();
      continue;
    }
    line.append(piece.substr(offset_, end - offset_));
    afterCr_ = piece[end] == '\r';
    offset_ = end + 1;
    return true;
  }
  return found;
}

// Plain ASCII within the line limit goes as it is, readable in any mail source view; anything
// else (UTF-8 file names, long lines, control characters) goes quoted-printable, which every
// relay carries unchanged whether or not it offers 8-bit transport. Deciding takes a first
// reading of the whole text.
WireMessage::WireMessage(const MessageParts& parts) : lines_(parts.text) {
  Lines check(parts.text);
  while (!quotedPrintable_ && check.next(line_)) {
    quotedPrintable_ = line_.size() > kMaxLineOctets || !isPlainText(line_);
  }
  appendHeader(pending_, "Date", rfc5322Date(parts.date));
  const std::string from = headerAddress("From", parts.sender);
  if (!from.empty()) appendHeader(pending_, "From", from);
  const std::string to = headerAddress("To", parts.recipient);
  if (!to.empty()) appendHeader(pending_, "To", to);
  appendHeader(pending_, "Subject", headerSubject(parts.subject));
  appendHeader(pending_, "Message-ID", withoutLineBreaks(parts.messageId));
  appendHeader(pending_, "MIME-Version", "1.0");
  appendHeader(pending_, "Content-Type", "text/plain; charset=UTF-8");
  appendHeader(pending_, "Content-Transfer-Encoding",
               quotedPrintable_ ? "quoted-printable" : "7bit");
  pending_ += kCrLf;
}

// The next lines of the body, encoded, some kilobytes at a time.
bool WireMessage::refill() {
  pending_.clear();
  taken_ = 0;
  while (pending_.size() < kRefillOctets && lines_.next(line_)) {
    if (quotedPrintable_) {
      appendQuotedPrintable(pending_, line_);
    } else {
      (pending_ += line_) += kCrLf;
    }
  }
  return !pending_.empty();
}

std::size_t WireMessage::read(char* out, std::size_t room) {
  std::size_t given = 0;
  while (given < room) {
    if (taken_ == pending_.size() && !refill()) break;
    const std::size_t count = std::min(room - given, pending_.size() - taken_);
    std::memcpy(out + given, pending_.data() + taken_, count);
    taken_ += count;
    given += count;
  }
  return given;
}

std::string composeInternetMessage(const MessageParts& parts) {
  WireMessage wire(parts);
  std::string out;
  char buffer[16384];
  while (const std::size_t count = wire.read(buffer, sizeof buffer)) out.append(buffer, count);
  return out;
}

}  // namespace quillfen::mail
