#pragma once

#include <string>
#include <vector>

namespace quillfen {

class ProcessServices;

// The only code that touches Config.ini, or the settings file named with -c. The path is built
// anew on every call, so that each call sees the file as it is now.
namespace Configs {

inline constexpr const char* kSection = "Quillfen";

// The settings file named on the command line, else the folder of the executable followed by
// "/Config.ini".
std::string configFilePath(const ProcessServices& process);

// The job a settings file named on the command line makes: its name without the folder
// ("web.ini"). Empty for Config.ini beside the executable, the one job of a copy of the program.
std::string jobName(const ProcessServices& process);

// True when Config.ini is there, false when nothing (or a link to nothing) is. Throws Error
// when what is there cannot be read as a settings file (see readProfileFile).
bool fileIsPresent(const ProcessServices& process);

// The value of `key` in section "Quillfen", however long, or an empty string when the file or
// the key is missing. Throws Error when the file exists but cannot be read: an unreadable file
// must not pass for one whose settings are all empty.
std::string ReadIniValue(const ProcessServices& process, const std::string& key);

// The names of the keys set in section "Quillfen", as spelt there; none when the file is
// missing. Throws Error when the file exists but cannot be read.
std::vector<std::string> IniKeys(const ProcessServices& process);

// Sets `key` in section "Quillfen", creating the file or the section when missing and replacing
// an existing value in place. True on success.
bool WriteIniValue(const ProcessServices& process, const std::string& key,
                   const std::string& value);

// WriteIniValue for callers that must know why a write failed: throws the Error instead.
void storeIniValue(const ProcessServices& process, const std::string& key,
                   const std::string& value);

}  // namespace Configs

}  // namespace quillfen
