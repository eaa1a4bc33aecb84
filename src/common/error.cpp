#include "common/error.h"

#include <cerrno>
#include <cstring>

#include "common/errno_number.h"
#include "common/text.h"

namespace quillfen {

namespace {

// The error number of a system call's errno; `isFolder` tells a missing folder from a missing
// file.
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
      return isQuotaExceeded(errnoValue) ? errc::kDiskFull : errc::kPathFileAccess;
  }
}

}  // namespace

Error::Error(int number, std::string description, int systemError)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      systemError_(systemError) {}

Error errorFromErrno(int errnoValue, std::string_view what, std::string_view path, bool isFolder) {
  std::string description(what);
  description += " '";
  description += shownName(path);
  description += "': ";
  description += std::strerror(errnoValue);
  return Error(numberForErrno(errnoValue, isFolder), std::move(description), errnoValue);
}

}  // namespace quillfen
