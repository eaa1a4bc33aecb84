#include "config/mail_addresses.h"

#include <algorithm>

#include "common/text.h"

namespace quillfen {

namespace {

// SMTP carries no longer address, and a longer one could not be folded into a header line.
constexpr std::size_t kLongestAddress = 254;

// The part of a mailbox between the angle brackets, or all of a bare one. Besides what would
// end the address or start another, it holds nothing a reader of the To header would take for
// more than an address: a group's ":", a comment's parentheses, a backslash escaping the next
// character. Square brackets and colons belong to a domain literal only, which is then all of
// the domain ("user@[192.0.2.1]", "user@[IPv6:2001:db8::1]").
bool isBareAddress(std::string_view address) {
  if (address.empty() || address.size() > kLongestAddress ||
      address.find_first_of("<>,\" \t()\\") != std::string_view::npos) {
    return false;
  }
  std::string_view outsideLiteral = address;
  const std::size_t at = address.rfind('@');
  if (at != std::string_view::npos && address.substr(at + 1).starts_with('[') &&
      address.ends_with(']')) {
    const std::string_view literal = address.substr(at + 2, address.size() - at - 3);
    if (literal.find_first_of("[]") != std::string_view::npos) return false;
    outsideLiteral = address.substr(0, at);
  }
  return outsideLiteral.find_first_of("[]:") == std::string_view::npos;
}

// Parentheses make a comment that reaches up to the closing one: an open one would take the
// address into it.
bool hasBalancedParentheses(std::string_view text) {
  int depth = 0;
  for (char c : text) {
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    if (depth < 0) return false;
  }
  return depth == 0;
}

// A display name may be quoted; unquoted, it holds nothing a reader takes for an address, a
// list of them or a domain literal, and its comments are closed. A backslash, quoted or not,
// would escape the character after it, a closing quote or parenthesis among them.
bool isDisplayName(std::string_view name) {
  if (name.find('\\') != std::string_view::npos) return false;
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    return name.substr(1, name.size() - 2).find('"') == std::string_view::npos;
  }
  return name.find_first_of("<>,@:\"[]") == std::string_view::npos && hasBalancedParentheses(name);
}

// "addr" or "Name <addr>": one address and nothing after it. A second address or anything
// after the ">" would reach the envelope or the header as something else than written. The
// settings refuse control characters in every value before they get here; refusing them here
// too keeps a line break out of the envelope whoever asks.
bool isOneMailbox(std::string_view text) {
  text = trimmed(text);
  if (std::any_of(text.begin(), text.end(), isControlCharacter)) return false;
  if (text.empty() || text.back() != '>') return isBareAddress(text);
  const std::size_t open = text.rfind('<');
  if (open == std::string_view::npos) return false;
  return isDisplayName(trimmed(text.substr(0, open))) &&
         isBareAddress(trimmed(text.substr(open + 1, text.size() - open - 2)));
}

bool isBlankOrEmpty(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

std::optional<std::string> firstBadMailbox(std::string_view list) {
  for (const std::string_view entry : partsOf(list, ';')) {
    if (!isBlankOrEmpty(entry) && !isOneMailbox(entry)) return std::string(entry);
  }
  return std::nullopt;
}

}  // namespace quillfen
