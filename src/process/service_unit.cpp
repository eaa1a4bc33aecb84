#include "process/service_unit.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace quillfen {

bool runsAsPackagedService() {
  if (::getenv("INVOCATION_ID") == nullptr) return false;
  std::ifstream groups("/proc/self/cgroup");
  const std::string text{std::istreambuf_iterator<char>(groups), std::istreambuf_iterator<char>()};
  return text.find("/quillfen.service\n") != std::string::npos;
}

std::string readWritePathsHint(const std::string& folder) {
  return "quillfen.service may write only where its ReadWritePaths= allows: add the line "
         "ReadWritePaths=" +
         folder + " under [Service] with systemctl edit quillfen.service";
}

}  // namespace quillfen
