#include "run/download_files.h"

namespace quillfen {

// The FTP branch arrives with the transfer subsystem.
void DownloadFromFtp(RunModule&, Services&, Inet&, const std::string&) {}

}  // namespace quillfen
