#pragma once

#include <chrono>
#include <cstddef>

namespace quillfen {

// How long a request may wait on a server, and how much a listing may hold, before it ends in
// error. No total limit applies unless a request timeout is set.
struct TransferTimeouts {
  std::chrono::seconds connect{30};  // to connect to the server
  std::chrono::seconds reply{60};    // for any reply of the server
  std::chrono::seconds stall{60};    // for a data transfer that makes no progress
  std::size_t stallBytes = 1024;     // fewer bytes than this in `stall` are no progress
  std::size_t largestListing = std::size_t{256} << 20;  // more ends it as "listing too large"
};

}  // namespace quillfen
