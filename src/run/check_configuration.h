#pragma once

#include <functional>
#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// quillfen --check: loads and validates Config.ini exactly as a run does and names each key it
// does not know, checks that DestinationFolder is a writable folder (a probe folder made and
// removed) and how much room it has, logs in to the source and lists it (or walks the local
// folder as a run would), and connects to the mail server and quits. It leaves nothing behind,
// mails nothing, and opens nothing for editing: a missing Config.ini is reported, not written.
// Each check gives one line to `say`: what was checked, then "ok" or what went wrong. Returns 0
// when every check passed, 2 when the settings allow no run (no further check is made then), 1
// when a key is unknown or the destination, the source or the mail server failed.
int CheckConfiguration(RunModule& run, Services& services,
                       const std::function<void(const std::string& line)>& say);

// The first of the checks, which the dry run makes too: loads Config.ini into run.Settings as a
// run does, but writes no template and opens nothing for editing; says how that went and names
// each key it does not know.
enum class SettingsOutcome { AllowARun, AllowARunWithUnknownKeys, Refused };
SettingsOutcome CheckSettings(RunModule& run, const Services& services,
                              const std::function<void(const std::string& line)>& say);

}  // namespace quillfen
