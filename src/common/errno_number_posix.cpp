#include <cerrno>

#include "common/errno_number.h"

namespace quillfen {

bool isQuotaExceeded(int errnoValue) {
  return errnoValue == EDQUOT;
}

}  // namespace quillfen
