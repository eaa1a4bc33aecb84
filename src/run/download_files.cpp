#include "run/download_files.h"

#include <string_view>

#include "common/path_limits.h"
#include "common/text.h"
#include "run/run_module.h"

namespace quillfen {

namespace {

// A temporary file's name beside the file being written (".quillfen-XXXXXX").
constexpr std::size_t kTemporaryNameRoom = 17;

}  // namespace

bool fitsInCopyFolder(SourceTree& tree, const std::string& copyFolder,
                      const std::string& relativePath, bool folder) {
  bool fits =
      lengthOnDisk(copyFolder) + lengthOnDisk(relativePath) + kTemporaryNameRoom < longestPath();
  std::string_view rest = relativePath;
  for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
    fits = fits && lengthOnDisk(rest.substr(0, slash)) <= longestName();
    rest.remove_prefix(slash + 1);
  }
  if (fits && lengthOnDisk(rest) <= longestName()) return true;
  tree.problemLines += std::string("Skipped ") + (folder ? "folder" : "file") +
                       " path too long: " + shownName(relativePath) + "\n";
  tree.incomplete = true;
  return false;
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
