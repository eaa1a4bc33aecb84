#include "run/check_configuration.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "common/error.h"
#include "common/exit_code.h"
#include "common/text.h"
#include "config/configs.h"
#include "config/configuration.h"
#include "filestore/file_system.h"
#include "mail/mailer.h"
#include "process/locale_format.h"
#include "process/message_boxes.h"
#include "process/process_services.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "transfer/inet.h"

namespace quillfen {

namespace {

using Say = std::function<void(const std::string& line)>;

// What LoadConfiguration would show, kept for the check's line instead.
class KeptMessages final : public MessageBoxes {
 public:
  void information(const std::string&, const std::string& text) override { text_ = text; }
  void error(const std::string&, const std::string& text) override { text_ = text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The host's services without the editor: a check reports and opens nothing.
class WithoutEditing final : public ProcessServices {
 public:
  explicit WithoutEditing(ProcessServices& host) : host_(host) {}
  std::string executableFolder() const override { return host_.executableFolder(); }
  std::string namedSettingsFile() const override { return host_.namedSettingsFile(); }
  std::string hostName() const override { return host_.hostName(); }
  void openForEditing(const std::string&) override {}
  void keepSecretsOutOfCoreDumps() override { host_.keepSecretsOutOfCoreDumps(); }
  bool runsUnderPackagedUnit() const override { return host_.runsUnderPackagedUnit(); }

 private:
  ProcessServices& host_;
};

// Each check says what it looked at and how that went, on one line that no server's reply or
// name steers.
std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return shownName(text);
}

std::string errorText(const Error& error) {
  return "Error " + std::to_string(error.number()) + ": " + oneLine(error.description());
}

// The file behind the installed program's link, where the administrator edits it.
std::string shownPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  return error ? path : target.string();
}

// A key the settings do not read is a setting the administrator believes in force: each is
// named, also beside a refusal it may explain (a misspelt DestinationFolder). True when none is.
bool everyKeyKnown(const ProcessServices& process, const Say& say) {
  const std::vector<std::string> notes = UnknownKeyNotes(process);
  for (const std::string& note : notes) say(note);
  return notes.empty();
}

}  // namespace

SettingsOutcome CheckSettings(RunModule& run, const Services& services, const Say& say) {
  WithoutEditing process(services.process);
  const std::string what = "configuration " + shownPath(Configs::configFilePath(process));
  try {
    if (!Configs::fileIsPresent(process)) {
      say(what + ": missing (quillfen without arguments writes the template)");
      return SettingsOutcome::Refused;
    }
    KeptMessages messages;
    const bool loaded = LoadConfiguration("", process, messages, run.Settings);
    say(what + ": " + (loaded ? "ok" : oneLine(messages.text())));
    const bool known = everyKeyKnown(process, say);
    if (!loaded) return SettingsOutcome::Refused;
    return known ? SettingsOutcome::AllowARun : SettingsOutcome::AllowARunWithUnknownKeys;
  } catch (const Error& error) {
    say(what + ": " + errorText(error));
    return SettingsOutcome::Refused;
  }
}

namespace {

// Why a run could not make today's folder in `folder`, or nothing. A folder on a read-only file
// system is told apart: under the packaged service that is its sandbox, which a drop-in opens.
std::optional<std::string> destinationFault(const std::string& folder, FileSystem& fileSystem,
                                            const DriveInfo& drive, bool underPackagedUnit) {
  if (drive.readOnly) {
    return "on a read-only file system" +
           (underPackagedUnit ? " (" + ReadWritePathsHint(folder) + ")" : std::string());
  }
  // Write permission is what the kernel grants on a real write: a probe folder made and removed
  // again, which also holds for root and for access control lists.
  const std::string probe = folder + "/.quillfen-check-" + std::to_string(::getpid());
  try {
    fileSystem.createFolder(probe);
  } catch (const Error& error) {
    return "not writable (" + errorText(error) + ")";
  }
  fileSystem.deleteFolder(probe, true);
  return std::nullopt;
}

// The folder a run makes today's folder in: there, a folder, writable, and how much room is left.
bool destinationWritable(const RunModule& run, const Services& services, const Say& say) {
  const std::string& folder = run.Settings.DestinationFolder;
  const std::string what = "destination " + folder;
  try {
    const std::unique_ptr<FileSystem> fileSystem = services.createFileSystem();
    if (!fileSystem->folderExists(folder)) {
      say(what + (fileSystem->fileExists(folder) ? ": not a folder" : ": missing"));
      return false;
    }
    const DriveInfo drive = fileSystem->getDrive(folder);
    if (const auto fault = destinationFault(folder, *fileSystem, drive,
                                            services.process.runsUnderPackagedUnit())) {
      say(what + ": " + *fault);
      return false;
    }
    say(what + ": ok, " + services.format.kilobytes(drive.freeSpace) + " KB free");
    return true;
  } catch (const Error& error) {
    say(what + ": " + errorText(error));
    return false;
  }
}

// A source that holds no file fails the check: a run would back up nothing and prune nothing.
bool sayFileCount(const std::string& what, std::uint64_t files, const Say& say) {
  if (files == 0) {
    say(what + ": empty, a run would back up nothing");
    return false;
  }
  say(what + ": ok, " + std::to_string(files) + " files");
  return true;
}

// Counted as a run would copy them: with IncludeSubfolders, the files of the whole tree.
bool localSourceReadable(const RunModule& run, const Services& services, const Say& say) {
  const std::string what = "source folder " + std::string(trimmed(run.Settings.NetworkPath, " "));
  try {
    const SourceTree tree = ListNetworkSource(run.Settings, *services.createFileSystem());
    return sayFileCount(what, tree.files.size(), say);
  } catch (const Error& error) {
    say(what + ": " + errorText(error));
    return false;
  }
}

bool ftpSourceListed(const RunModule& run, Services& services, const Say& say) {
  // The settings hold no login in the address: one there is refused when they load.
  const std::string what = "source FTP " + run.Settings.FtpIPAddress;
  try {
    Inet transfer(services.frmMain, services.events);
    std::vector<std::string> names;
    if (const auto failure = ListFtpSource(run.Settings, transfer, names)) {
      say(what + ": listing failed: " + oneLine(*failure));
      return false;
    }
    return sayFileCount(what, names.size(), say);
  } catch (const Error& error) {
    say(what + ": " + errorText(error));
    return false;
  }
}

// The source a run would fetch from: the folder NetworkPath when set, the FTP directory
// otherwise.
bool sourceReadable(const RunModule& run, Services& services, const Say& say) {
  if (!trimmed(run.Settings.NetworkPath, " ").empty())
    return localSourceReadable(run, services, say);
  return ftpSourceListed(run, services, say);
}

bool namesARecipient(const std::string& mailTo) {
  return mailTo.find_first_not_of("; \t") != std::string::npos;
}

// The server a run would mail the report through: connected, secured and logged in as the
// settings say, then left without a message. Without a recipient a run mails nothing, and
// nothing is tried.
bool mailServerReached(const RunModule& run, Services& services, const Say& say) {
  if (!namesARecipient(run.Settings.MailTo)) {
    say("mail: skipped, MailTo names no recipient (a run mails nothing)");
    return true;
  }
  const std::string what =
      "mail server " + run.Settings.MailServer + ":" + std::to_string(run.Settings.MailPort);
  try {
    Mailer mailer(services.createMailComponent, run.Settings, services.clock, services.format);
    mailer.VerifyConnection();
  } catch (const Error& error) {
    say(what + ": " + errorText(error));
    return false;
  }
  say(what + ": ok");
  return true;
}

}  // namespace

int CheckConfiguration(RunModule& run, Services& services, const Say& say) {
  const SettingsOutcome settings = CheckSettings(run, services, say);
  if (settings == SettingsOutcome::Refused) return kExitConfiguration;
  const bool destinationOk = destinationWritable(run, services, say);
  const bool sourceOk = sourceReadable(run, services, say);
  const bool mailOk = mailServerReached(run, services, say);
  const bool allOk = settings == SettingsOutcome::AllowARun && destinationOk && sourceOk && mailOk;
  return allOk ? kExitCompleted : kExitError;
}

}  // namespace quillfen
