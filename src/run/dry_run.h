#pragma once

#include <functional>
#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// quillfen --dry-run: loads Config.ini as --check does (nothing written, nothing opened for
// editing), lists the source with the fetch stage's own walk and says, one line each, which files
// a run would fetch ("fetch NAME"), link from the previous backup with LinkUnchanged ("link
// NAME"), leave out ("skip ..."), and which dated folders its pruning would delete ("delete
// PATH"), then a line of totals. It writes, deletes, mails and pings nothing, and takes no lock:
// not even today's folder or the staging folder is made. Returns 0 when it could tell, 2 when the
// settings allow no run, 1 when the destination or the source could not be read.
int DryRun(RunModule& run, Services& services,
           const std::function<void(const std::string& line)>& say);

}  // namespace quillfen
