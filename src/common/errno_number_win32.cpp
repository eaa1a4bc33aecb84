#include <cerrno>

#include "common/errno_number.h"
#include "common/error.h"

namespace quillfen {

// The C runtime's errno values: the runtime turns the system's error codes into these (a full
// disk into ENOSPC); Windows has no quota errno.
int numberForErrno(int errnoValue, bool isFolder) {
  switch (errnoValue) {
    case ENOENT:
      return isFolder ? errc::kPathNotFound : errc::kFileNotFound;
    case ENOTDIR:
      return errc::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return errc::kPermissionDenied;
    case ENOSPC:
    case EFBIG:
      return errc::kDiskFull;
    case EEXIST:
      return errc::kFileExists;
    case EIO:
    case ENXIO:
    case ENODEV:
      return errc::kDeviceIo;
    case ENAMETOOLONG:
    case EINVAL:
      return errc::kBadFileName;
    default:
      return errc::kPathFileAccess;
  }
}

}  // namespace quillfen
