#include "common/error.h"

#include <cstring>

#include "common/errno_number.h"
#include "common/text.h"

namespace quillfen {

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
