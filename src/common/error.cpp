#include "common/error.h"

#include <cerrno>
#include <cstring>

#include "common/text.h"

namespace quillfen {

Error::Error(int number, std::string description, int systemError)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      systemError_(systemError) {}

namespace {

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
    case EDQUOT:
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

}  // namespace

Error errorFromErrno(int errnoValue, std::string_view what, std::string_view path, bool isFolder) {
  std::string description(what);
  description += " '";
  description += shownName(path);
  description += "': ";
  description += std::strerror(errnoValue);
  return Error(numberForErrno(errnoValue, isFolder), std::move(description), errnoValue);
}

}  // namespace quillfen
