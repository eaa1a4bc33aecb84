#include "config/configuration.h"

#include <filesystem>
#include <string_view>

#include "config/configs.h"
#include "config/whole_number.h"
#include "process/message_boxes.h"
#include "process/process_services.h"

namespace quillfen {

namespace {

constexpr const char* kMessageTitle = "Configuration Settings Required";
constexpr const char* kTemplateWrittenText =
    "Please enter the correct configuration data, save, and launch the program again.";
constexpr const char* kNoSourceText =
    "You must enter either a FTP server or a network path in the configuration file.  NOTE: "
    "Entering a network path will override any FTP settings.";
constexpr const char* kNoDestinationText =
    "You must enter a destination path in the configuration file.";
constexpr const char* kExpirationText = "DaysTillExpiration must be a whole number of 1 or more.";

constexpr const char* kEditSwitch = "/config";
constexpr const char* kDefaultDaysTillExpiration = "365";
constexpr const char* kDefaultMailPort = "25";

struct TemplateLine {
  const char* key;
  const char* value;
};

constexpr TemplateLine kTemplate[] = {
    {"FtpIPAddress", ""},
    {"FtpUserName", ""},
    {"FtpPassword", ""},
    {"NetworkPath", ""},
    {"DestinationFolder", ""},
    {"DaysTillExpiration", "30"},
    {"MailServer", "smtp.example.com"},
    {"MailPort", "25"},
    {"MailFrom", "quillfen@example.com"},
    {"MailTo", "admin@example.com;backup@example.com"},
    {"MailSubject", "Quillfen Backup Report"},
};

// A symbolic link to a regular file counts; a folder, a device or a dangling link does not.
bool isRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool isBlankOrEmpty(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

void dropOneTrailingSlash(std::string& path) {
  if (!path.empty() && path.back() == '/') path.pop_back();
}

std::int32_t readWholeNumber(const ProcessServices& process, const char* key,
                             const char* whenEmpty) {
  std::string text = Configs::ReadIniValue(process, key);
  if (text.empty()) text = whenEmpty;
  return wholeNumberSetting(key, text);
}

// Reads every key in the file's order and normalises the two paths.
void readSettings(const ProcessServices& process, BackupSettings& settings) {
  settings.FtpIPAddress = Configs::ReadIniValue(process, "FtpIPAddress");
  settings.FtpUserName = Configs::ReadIniValue(process, "FtpUserName");
  settings.FtpPassword = Configs::ReadIniValue(process, "FtpPassword");
  settings.NetworkPath = Configs::ReadIniValue(process, "NetworkPath");
  settings.DestinationFolder = Configs::ReadIniValue(process, "DestinationFolder");
  settings.DaysTillExpiration =
      readWholeNumber(process, "DaysTillExpiration", kDefaultDaysTillExpiration);
  settings.MailServer = Configs::ReadIniValue(process, "MailServer");
  settings.MailPort = readWholeNumber(process, "MailPort", kDefaultMailPort);
  settings.MailFrom = Configs::ReadIniValue(process, "MailFrom");
  settings.MailTo = Configs::ReadIniValue(process, "MailTo");
  settings.MailSubject = Configs::ReadIniValue(process, "MailSubject");

  dropOneTrailingSlash(settings.DestinationFolder);
  dropOneTrailingSlash(settings.NetworkPath);
}

// The first message the settings earn, or nullptr when they allow a run. A DaysTillExpiration
// below 1 would have pruning delete today's own folder.
const char* validationMessage(const BackupSettings& settings) {
  if (isBlankOrEmpty(settings.FtpIPAddress) && isBlankOrEmpty(settings.NetworkPath)) {
    return kNoSourceText;
  }
  if (isBlankOrEmpty(settings.DestinationFolder)) return kNoDestinationText;
  if (settings.DaysTillExpiration < 1) return kExpirationText;
  return nullptr;
}

}  // namespace

void WriteDefaultConfiguration(const ProcessServices& process) {
  for (const TemplateLine& line : kTemplate) Configs::storeIniValue(process, line.key, line.value);
}

bool LoadConfiguration(const std::string& commandLine, ProcessServices& process,
                       MessageBoxes& messages, BackupSettings& settings,
                       ConfigurationRefusal* refusal) {
  const auto refuse = [&](ConfigurationRefusal reason, const std::string& path) {
    process.openForEditing(path);
    if (refusal != nullptr) *refusal = reason;
    return false;
  };

  const std::string path = Configs::configFilePath(process);
  if (!isRegularFile(path)) {
    // A template that cannot be written ends here with the reason: telling the user to edit a
    // file that does not exist would send them round in circles.
    WriteDefaultConfiguration(process);
    messages.information(kMessageTitle, kTemplateWrittenText);
    return refuse(ConfigurationRefusal::TemplateWritten, path);
  }
  if (commandLine == kEditSwitch) return refuse(ConfigurationRefusal::EditRequested, path);

  readSettings(process, settings);
  if (const char* message = validationMessage(settings)) {
    messages.information(kMessageTitle, message);
    return refuse(ConfigurationRefusal::Invalid, path);
  }
  if (refusal != nullptr) *refusal = ConfigurationRefusal::None;
  return true;
}

}  // namespace quillfen
