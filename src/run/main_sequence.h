#pragma once

#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// One backup run, from reading the configuration to closing the window. Returns the process's
// exit code (common/exit_code.h). An error that ends the run is reported here, once.
int Main(RunModule& run, Services& services, const std::string& commandLine);

}  // namespace quillfen
