#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace quillfen::test {

struct ProgramResult {
  int exitCode = -1;  // -1 when killed at the deadline or by a signal
  std::string out;
  std::string err;
};

// The built executable, copied into `folder` so that it finds its Config.ini there, started in
// console mode with its standard streams on pipes (none of them a terminal).
std::unique_ptr<ChildProcess> startProgram(const std::filesystem::path& folder,
                                           const std::vector<std::string>& arguments = {});
// startProgram(), then up to 90 s for its end.
ProgramResult runProgram(const std::filesystem::path& folder,
                         const std::vector<std::string>& arguments = {});

// The name of the dated backup folder of `daysAgo` days before today, by the local clock.
std::string datedFolderName(int daysAgo = 0);

// Config.ini in `home` for a run from `sourceKeys` into `destination`, expiring after 30 days
// and mailing to two recipients through the SMTP server on `mailPort`.
void writeRunConfig(const std::filesystem::path& home, const std::string& sourceKeys,
                    const std::filesystem::path& destination, int mailPort);

// Checks the frame of a mailed body and returns the report inside it.
std::string reportUnderFrame(const std::string& body);

}  // namespace quillfen::test
