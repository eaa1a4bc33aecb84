#pragma once

namespace quillfen {

// The process's exit codes, for schedulers and scripts.
enum ExitCode : int {
  kExitCompleted = 0,      // the run completed (also "/config", --help, --version)
  kExitError = 1,          // an error ended the run
  kExitConfiguration = 2,  // no run: Config.ini was missing or invalid
  kExitCancelled = 3,      // the user cancelled the run
  kExitIncomplete = 4,     // the run completed, but some files were not fetched or some
                           // expired folders not pruned
};

}  // namespace quillfen
