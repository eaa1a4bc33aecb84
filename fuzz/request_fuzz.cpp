// The address and command parsers: any text either parses or is refused with an Error, a
// parsed GET names two non-empty paths, and any name written by quotedName is read back as it. A
// login written into an address ("head" + password + "@" + "tail", the three parts split at the
// input's first two NUL bytes) never shows its password in any text made of the address: the
// address as shown, the parser's error, the settings' refusal. The same text as a MailTo list:
// every entry the settings take gives an envelope address of 1 to 254 characters, none of them a
// control character, a blank or a character that would end or split an address, and the
// message's To header shows one mailbox with that very address to a reader of mail headers.
// scripts/fuzz runs this with a per-input time limit, so a parser that is not linear in its input
// fails the run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "common/transfer_scheme.h"
#include "config/backup_settings.h"
#include "config/configuration.h"
#include "config/mail_addresses.h"
#include "mail/internet_message.h"
#include "transfer/ftp_request.h"

namespace {

void checkFtpParsers(const std::string& text) {
  try {
    const quillfen::FtpOperation operation = quillfen::parseFtpOperation(text);
    if (operation.kind == quillfen::FtpOperation::Kind::Get &&
        (operation.remote.empty() || operation.local.empty())) {
      std::abort();
    }
  } catch (const quillfen::Error&) {
  }
  if (!text.empty()) {
    const std::string local = "/b/" + text;
    const quillfen::FtpOperation operation = quillfen::parseFtpOperation(
        "GET " + quillfen::quotedName(text) + " " + quillfen::quotedName(local));
    if (operation.remote != text || operation.local != local) std::abort();
  }
  try {
    const quillfen::FtpAddress address = quillfen::parseFtpAddress(text, 21);
    if (address.host.empty() || address.port == 0) std::abort();
    (void)quillfen::curlUrl(address, text);
  } catch (const quillfen::Error&) {
  }
}

// Every text the program makes of an FTP source address.
std::vector<std::string> textsShowing(const std::string& address) {
  std::vector<std::string> texts{quillfen::addressWithoutLogin(address)};
  try {
    (void)quillfen::parseFtpAddress(address, 21);
    std::abort();  // a login is never taken
  } catch (const quillfen::Error& error) {
    texts.push_back(error.description());
  }
  quillfen::BackupSettings settings;
  settings.FtpIPAddress = address;
  texts.push_back(quillfen::FtpSourceRefusal(settings).value_or(""));
  return texts;
}

// A text that shows the password must show it just as well without it in the address: the
// password is then also part of the host, the folder or the message's own words.
void checkLoginHidden(std::string_view input) {
  const std::size_t first = input.find('\0');
  const std::size_t second = input.find('\0', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return;
  const std::string head(input.substr(0, first));
  const std::string password(input.substr(first + 1, second - first - 1));
  const std::string tail(input.substr(second + 1));
  if (password.empty()) return;
  // A "://" that the password helps to make is the scheme's, not a login's ("ftp:" "//" "@h").
  const std::size_t schemeEnd = (head + password).find("://");
  if (schemeEnd != std::string::npos && schemeEnd + 3 > head.size()) return;
  const std::vector<std::string> withPassword = textsShowing(head + password + "@" + tail);
  const std::vector<std::string> without = textsShowing(head + "@" + tail);
  for (std::size_t i = 0; i < withPassword.size(); ++i) {
    if (withPassword[i].find(password) != std::string::npos &&
        without[i].find(password) == std::string::npos) {
      std::abort();
    }
  }
}

// A token of a header value as a reader of mail headers splits it: a word (an atom, a quoted
// string with its quotes or a domain literal with its brackets) or one special character.
// Blanks and comments separate tokens and are dropped.
struct Token {
  char special = 0;
  std::string text;
};

constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";
constexpr std::string_view kWordEnds = " \t()<>[]:;@\\,.\"";

// The end of the quoted string, comment or domain literal opening at `at`, just behind its
// closing character; nothing when the value ends first.
std::optional<std::size_t> closingEnd(std::string_view value, std::size_t at) {
  const char open = value[at];
  const char close = open == '"' ? '"' : open == '(' ? ')' : ']';
  int depth = 1;
  for (std::size_t i = at + 1; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == close) {
      if (--depth == 0) return i + 1;
    } else if (open == '(' && value[i] == '(') {
      ++depth;
    }
  }
  return std::nullopt;
}

std::vector<Token> tokensOf(std::string_view value) {
  std::vector<Token> tokens;
  for (std::size_t at = 0; at < value.size();) {
    const char c = value[at];
    if (c == ' ' || c == '\t') {
      ++at;
    } else if (c == '"' || c == '(' || c == '[') {
      const std::optional<std::size_t> end = closingEnd(value, at);
      if (!end) std::abort();  // the rest of the header would vanish into it
      if (c != '(') tokens.push_back({0, std::string(value.substr(at, *end - at))});
      at = *end;
    } else if (kSpecials.find(c) != std::string_view::npos) {
      tokens.push_back({c, std::string(1, c)});
      ++at;
    } else {
      const std::size_t end = std::min(value.find_first_of(kWordEnds, at), value.size());
      tokens.push_back({0, std::string(value.substr(at, end - at))});
      at = end;
    }
  }
  return tokens;
}

// The one address the header value names: "addr" or "phrase <addr>", nothing else.
std::string onlyAddress(std::string_view value) {
  const std::vector<Token> tokens = tokensOf(value);
  auto first = tokens.begin();
  auto last = tokens.end();
  const auto open = std::find_if(first, last, [](const Token& t) { return t.special == '<'; });
  if (open != last) {
    if (tokens.back().special != '>') std::abort();  // something after the address
    if (std::any_of(first, open, [](const Token& t) { return t.special && t.special != '.'; }))
      std::abort();  // the display name reads as more than a name
    first = open + 1;
    last = tokens.end() - 1;
  }
  std::string address;
  for (auto token = first; token != last; ++token) {
    if (token->special != 0 &&
        std::string_view("<>,;:").find(token->special) != std::string_view::npos) {
      std::abort();  // a second address, a group or a broken bracket
    }
    address += token->text;
  }
  return address;
}

// The To header of the message, unfolded.
std::string toHeader(const std::string& message) {
  std::string value;
  std::size_t at = message.find("\r\nTo: ");
  if (at == std::string::npos) std::abort();
  at += 6;
  for (;;) {
    const std::size_t end = message.find("\r\n", at);
    value += message.substr(at, end - at);
    if (message[end + 2] != ' ' && message[end + 2] != '\t') return value;
    at = end + 2;
  }
}

void checkRecipient(std::string_view entry) {
  const std::string envelope = quillfen::mail::envelopeAddress(entry);
  if (envelope.empty() || envelope.size() > 254) std::abort();
  if (std::any_of(envelope.begin(), envelope.end(), quillfen::isControlCharacter) ||
      envelope.find_first_of("<>,\"()\\ \t") != std::string::npos) {
    std::abort();
  }
  quillfen::mail::MessageParts parts{"s@example.test", std::string(entry), "Report",
                                     {"Text\n"},       1070000000,         "<id@example.test>"};
  if (onlyAddress(toHeader(quillfen::mail::composeInternetMessage(parts))) != envelope)
    std::abort();
}

// Entries as the notification splits the list: at every ";", none trimmed; the settings skip
// the blank ones.
void checkMailTo(std::string_view list) {
  if (quillfen::firstBadMailbox(list)) return;
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    const std::string_view entry = list.substr(start, end - start);
    if (entry.find_first_not_of(' ') != std::string_view::npos) checkRecipient(entry);
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  checkFtpParsers(text);
  checkLoginHidden(text);
  checkMailTo(text);
  return 0;
}
