#include "run/download_files.h"

namespace quillfen {

// The network branch arrives with the file store's copy.
void DownloadFromNetworkPath(RunModule&, Services&, const std::string&) {}

}  // namespace quillfen
