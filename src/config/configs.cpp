#include "config/configs.h"

#include "common/error.h"
#include "config/profile_file.h"
#include "config/profile_text.h"
#include "process/process_services.h"

namespace quillfen::Configs {

std::string configFilePath(const ProcessServices& process) {
  return process.executableFolder() + "/Config.ini";
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
