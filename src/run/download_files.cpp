#include "run/download_files.h"

#include <climits>
#include <string_view>

#include "run/run_module.h"

namespace quillfen {

namespace {

// A temporary file's name beside the file being written (".quillfen-XXXXXX").
constexpr std::size_t kTemporaryNameRoom = 17;

}  // namespace

bool fitsInCopyFolder(const std::string& copyFolder, const std::string& relativePath) {
  if (copyFolder.size() + relativePath.size() + kTemporaryNameRoom >= PATH_MAX) return false;
  std::string_view rest = relativePath;
  for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
    if (slash > NAME_MAX) return false;
    rest.remove_prefix(slash + 1);
  }
  return rest.size() <= NAME_MAX;
}

void DownloadFiles(RunModule& run, Services& services, Inet& transfer,
                   const std::string& todaysFolder) {
  // The length is tested as loaded: a NetworkPath of blanks still selects the network branch.
  if (!run.Settings.NetworkPath.empty()) {
    DownloadFromNetworkPath(run, services, todaysFolder);
  } else {
    DownloadFromFtp(run, services, transfer, todaysFolder);
  }
}

}  // namespace quillfen
