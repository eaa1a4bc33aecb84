#include "config/configs.h"

#include "common/error.h"
#include "common/path_limits.h"
#include "config/profile_file.h"
#include "config/profile_text.h"
#include "process/process_services.h"

namespace quillfen::Configs {

std::string configFilePath(const ProcessServices& process) {
  const std::string named = process.namedSettingsFile();
  return named.empty() ? process.executableFolder() + "/Config.ini" : named;
}

std::string jobName(const ProcessServices& process) {
  // On Windows either separator ends a folder.
  const std::string named = process.namedSettingsFile();
  const std::size_t last = named.find_last_of(folderSeparator() == '/' ? "/" : "/\\");
  return last == std::string::npos ? named : named.substr(last + 1);
}

bool fileIsPresent(const ProcessServices& process) {
  return readProfileFile(configFilePath(process)).has_value();
}

std::string ReadIniValue(const ProcessServices& process, const std::string& key) {
  const std::optional<std::string> text = readProfileFile(configFilePath(process));
  if (!text) return {};
  return findProfileValue(*text, kSection, key).value_or("");
}

std::vector<std::string> IniKeys(const ProcessServices& process) {
  const std::optional<std::string> text = readProfileFile(configFilePath(process));
  if (!text) return {};
  return profileKeys(*text, kSection);
}

bool WriteIniValue(const ProcessServices& process, const std::string& key,
                   const std::string& value) {
  try {
    storeIniValue(process, key, value);
    return true;
  } catch (const Error&) {
    return false;
  }
}

void storeIniValue(const ProcessServices& process, const std::string& key,
                   const std::string& value) {
  storeProfileValue(configFilePath(process), kSection, key, value);
}

}  // namespace quillfen::Configs
