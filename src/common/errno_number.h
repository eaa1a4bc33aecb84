#pragma once

namespace quillfen {

// Whether `errnoValue` says that a disk quota is used up; Windows' C runtime has no such value.
bool isQuotaExceeded(int errnoValue);

}  // namespace quillfen
