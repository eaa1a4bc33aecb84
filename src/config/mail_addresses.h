#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillfen {

// The first entry of a ";"-separated list of mail addresses that is not one mailbox, or
// nothing when every entry is one. A mailbox is "addr" or "Name <addr>" with nothing after it:
// an address of 1 to 254 characters without blanks, angle brackets, commas, quotes,
// parentheses, backslashes or control characters, with ":" and square brackets only in a domain
// literal that is all of its domain, and a display name without backslashes that is quoted or
// holds nothing a reader would take for an address and closes its parentheses. Entries made
// only of blanks are skipped.
std::optional<std::string> firstBadMailbox(std::string_view list);

}  // namespace quillfen
