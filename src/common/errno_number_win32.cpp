#include "common/errno_number.h"

namespace quillfen {

// The C runtime turns the system's error codes into its errno values (a full disk into ENOSPC)
// and has none for a quota.
bool isQuotaExceeded(int) {
  return false;
}

}  // namespace quillfen
