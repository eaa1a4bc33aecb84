#pragma once

namespace quillfen {

// The error number (errc in common/error.h) of a system call's errno; `isFolder` tells a missing
// folder from a missing file. The errno values differ between systems.
int numberForErrno(int errnoValue, bool isFolder);

}  // namespace quillfen
