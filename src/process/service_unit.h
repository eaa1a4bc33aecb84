#pragma once

#include <string>

namespace quillfen {

// True when this process runs as the packaged systemd service, quillfen.service: systemd sets
// INVOCATION_ID for the processes of a unit, and the process's control group names the unit.
bool runsAsPackagedService();

// What lets the packaged service write to `folder`: its sandbox makes the whole system
// read-only except the ReadWritePaths= of its drop-in.
std::string readWritePathsHint(const std::string& folder);

}  // namespace quillfen
