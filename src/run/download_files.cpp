#include "run/download_files.h"

#include "run/run_module.h"

namespace quillfen {

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
