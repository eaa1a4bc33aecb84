#include "config/configuration.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/path_limits.h"
#include "common/posix_file.h"
#include "common/text.h"
#include "common/transfer_scheme.h"
#include "config/configs.h"
#include "config/exclude_patterns.h"
#include "config/mail_addresses.h"
#include "config/whole_number.h"
#include "curl/tls_trust.h"
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
constexpr const char* kControlCharacterText =
    " must not contain control characters (such as a NUL byte or a tab).";
constexpr const char* kMailboxText =
    " must name one address of at most 254 characters per entry, written addr or Name <addr>; "
    "this entry is not one: ";

constexpr const char* kLoginWithoutTlsText =
    "MailUserName needs MailSecurity starttls or tls: a login is never sent unencrypted.";
constexpr const char* kNotPermittedTitle = "Configuration Not Accessible";
constexpr const char* kOwnConfigIniText =
    "This copy of Quillfen keeps its Config.ini where only its owner (for the installed program: "
    "root) may read and write it. ";
constexpr const char* kOwnJobText =
    "Run it as the owner (e.g. with sudo), or make a backup job of your own: name a settings file "
    "of your own with -c, e.g.\n  quillfen -c ~/backup.ini\nor copy the program into a folder you "
    "own and start the copy, which keeps its own Config.ini beside it, e.g.\n  mkdir -p ~/backup "
    "&& cp ";
constexpr const char* kOwnJobExample = "/quillfen ~/backup/ && ~/backup/quillfen";

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

// The keys a run reads besides those of the template.
constexpr const char* kOptionalKeys[] = {
    "MailSecurity", "MailUserName",      "MailPassword",  "MailTrust", "PingUrl",
    "FtpKeyFile",   "IncludeSubfolders", "LinkUnchanged", "FtpTrust",  "FtpConnections",
    "KeepDaily",    "KeepWeekly",        "KeepMonthly",
};
// The hooks and the excludes.
constexpr const char* kHookAndExcludeKeys[] = {"RunBefore", "RunAfter", "RunOnFailure",
                                               "HookTimeout", "Exclude"};

bool isBlankOrEmpty(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
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
  settings.MailUserName = Configs::ReadIniValue(process, "MailUserName");
  settings.MailPassword = Configs::ReadIniValue(process, "MailPassword");
  settings.MailTrust = Configs::ReadIniValue(process, "MailTrust");
  settings.PingUrl = std::string(trimmed(Configs::ReadIniValue(process, "PingUrl")));
  settings.FtpKeyFile = Configs::ReadIniValue(process, "FtpKeyFile");
  settings.FtpTrust = Configs::ReadIniValue(process, "FtpTrust");

  settings.DestinationFolder = withoutOneTrailingSeparator(std::move(settings.DestinationFolder));
  settings.NetworkPath = withoutOneTrailingSeparator(std::move(settings.NetworkPath));
}

// Submission ports name their security; any other port speaks plain SMTP unless told.
MailSecurityMode defaultMailSecurity(std::int32_t port) {
  constexpr std::int32_t kImplicitTlsPort = 465;
  constexpr std::int32_t kSubmissionPort = 587;
  if (port == kImplicitTlsPort) return MailSecurityMode::Tls;
  return port == kSubmissionPort ? MailSecurityMode::StartTls : MailSecurityMode::None;
}

std::string lowercase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::optional<MailSecurityMode> mailSecurityNamed(std::string_view text, std::int32_t port) {
  const std::string name = lowercase(trimmed(text));
  if (name.empty()) return defaultMailSecurity(port);
  if (name == "none") return MailSecurityMode::None;
  if (name == "starttls") return MailSecurityMode::StartTls;
  if (name == "tls") return MailSecurityMode::Tls;
  return std::nullopt;
}

// The message for MailSecurity, MailUserName without TLS, MailTrust or PingUrl, if one earns
// one. The login itself is never part of a message.
std::optional<std::string> mailSecurityMessage(const ProcessServices& process,
                                               BackupSettings& settings) {
  const std::string securityText = Configs::ReadIniValue(process, "MailSecurity");
  const std::optional<MailSecurityMode> security =
      mailSecurityNamed(securityText, settings.MailPort);
  if (!security) {
    return "MailSecurity must be none, starttls or tls; it is '" + securityText + "'.";
  }
  settings.MailSecurity = *security;
  if (!settings.MailUserName.empty() && *security == MailSecurityMode::None) {
    return kLoginWithoutTlsText;
  }
  try {
    settings.MailServerTrust =
        readTlsTrust("MailTrust", settings.MailTrust, errc::kInvalidArgument);
  } catch (const Error& refusal) {
    return refusal.description() + ".";
  }
  const std::size_t schemeEnd = settings.PingUrl.find("://");
  const std::string scheme =
      schemeEnd == std::string::npos ? "" : lowercase(settings.PingUrl.substr(0, schemeEnd));
  if (!settings.PingUrl.empty() && scheme != "http" && scheme != "https") {
    return "PingUrl must be an http:// or https:// URL; it is '" + settings.PingUrl + "'.";
  }
  return std::nullopt;
}

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), isControlCharacter);
}

// Values that end up in paths, host names and mail headers: a NUL would cut them short in
// every system call (a DestinationFolder "/b\0x" is "/b" itself), other control characters
// would reach file names, commands or headers.
std::optional<std::string> controlCharacterMessage(const BackupSettings& settings) {
  const std::pair<const char*, const std::string*> checked[] = {
      {"NetworkPath", &settings.NetworkPath},   {"DestinationFolder", &settings.DestinationFolder},
      {"FtpIPAddress", &settings.FtpIPAddress}, {"MailServer", &settings.MailServer},
      {"MailFrom", &settings.MailFrom},         {"MailTo", &settings.MailTo},
      {"MailTrust", &settings.MailTrust},       {"PingUrl", &settings.PingUrl},
      {"FtpKeyFile", &settings.FtpKeyFile},     {"FtpTrust", &settings.FtpTrust},
  };
  for (const auto& [key, value] : checked) {
    if (hasControlCharacter(*value)) return key + std::string(kControlCharacterText);
  }
  return std::nullopt;
}

std::optional<std::string> mailboxMessage(const BackupSettings& settings) {
  for (const auto& [key, value] :
       {std::pair{"MailFrom", &settings.MailFrom}, std::pair{"MailTo", &settings.MailTo}}) {
    if (const auto entry = firstBadMailbox(*value))
      return key + (kMailboxText + ("'" + *entry + "'"));
  }
  return std::nullopt;
}

// A switch reads yes/no, 1/0 or true/false in any case; empty is no. Anything else is refused
// rather than guessed at.
std::optional<bool> switchNamed(std::string_view text) {
  const std::string name = lowercase(trimmed(text));
  if (name.empty() || name == "no" || name == "0" || name == "false") return false;
  if (name == "yes" || name == "1" || name == "true") return true;
  return std::nullopt;
}

std::optional<std::string> switchMessage(const ProcessServices& process, BackupSettings& settings) {
  for (const auto& [key, value] : {std::pair{"IncludeSubfolders", &settings.IncludeSubfolders},
                                   std::pair{"LinkUnchanged", &settings.LinkUnchanged}}) {
    const std::string text = Configs::ReadIniValue(process, key);
    const std::optional<bool> on = switchNamed(text);
    if (!on) return key + std::string(" must be yes or no; it is '") + text + "'.";
    *value = *on;
  }
  return std::nullopt;
}

constexpr std::int32_t kMostFtpConnections = 8;
constexpr const char* kFtpConnectionsText = "FtpConnections must be a whole number from 1 to 8";

// Each connection is one more login on the server: a number past what any server is likely to
// allow one client is refused rather than tried every night.
std::optional<std::string> ftpConnectionsMessage(const ProcessServices& process,
                                                 BackupSettings& settings) {
  const std::string text = Configs::ReadIniValue(process, "FtpConnections");
  if (isBlankOrEmpty(text)) return std::nullopt;
  try {
    const std::int32_t count = wholeNumberSetting("FtpConnections", text);
    if (count >= 1 && count <= kMostFtpConnections) {
      settings.FtpConnections = count;
      return std::nullopt;
    }
  } catch (const Error&) {
    // Not a number at all: refused as one out of range is.
  }
  return kFtpConnectionsText + ("; it is '" + text + "'.");
}

// A Keep number counts periods: digits only, so that neither "-1" nor "2.5" is taken for
// something it is not.
std::optional<std::string> keepMessage(const ProcessServices& process, BackupSettings& settings) {
  for (const auto& [key, value] :
       {std::pair{"KeepDaily", &settings.KeepDaily}, std::pair{"KeepWeekly", &settings.KeepWeekly},
        std::pair{"KeepMonthly", &settings.KeepMonthly}}) {
    const std::string text = Configs::ReadIniValue(process, key);
    *value = std::nullopt;
    if (isBlankOrEmpty(text)) continue;
    const std::string_view digits = trimmed(text);
    try {
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        *value = wholeNumberSetting(key, digits);
    } catch (const Error&) {
      // Past the largest number: refused as any other text is.
    }
    if (!*value)
      return key + std::string(" must be a whole number of 0 or more; it is '") + text + "'.";
  }
  return std::nullopt;
}

constexpr const char* kHookTimeoutText = "HookTimeout must be a whole number of seconds, 1 or more";

// The hooks, their time limit and the excludes. A command line goes to the shell as it stands;
// a control character in it (a NUL would cut it short) is refused rather than passed on.
std::optional<std::string> hooksAndExcludesMessage(const ProcessServices& process,
                                                   BackupSettings& settings) {
  for (const auto& [key, value] :
       {std::pair{"RunBefore", &settings.RunBefore}, std::pair{"RunAfter", &settings.RunAfter},
        std::pair{"RunOnFailure", &settings.RunOnFailure},
        std::pair{"Exclude", &settings.Exclude}}) {
    *value = std::string(trimmed(Configs::ReadIniValue(process, key)));
    if (hasControlCharacter(*value)) return key + std::string(kControlCharacterText);
  }
  if (auto problem = excludePatternsProblem(settings.Exclude)) return "Exclude: " + *problem + ".";
  const std::string text = Configs::ReadIniValue(process, "HookTimeout");
  if (isBlankOrEmpty(text)) return std::nullopt;
  try {
    settings.HookTimeout = wholeNumberSetting("HookTimeout", text);
  } catch (const Error&) {
    settings.HookTimeout = 0;  // not a number: refused as one below 1 is
  }
  if (settings.HookTimeout >= 1) return std::nullopt;
  return kHookTimeoutText + ("; it is '" + text + "'.");
}

constexpr const char* kUnknownSchemeText =
    "FtpIPAddress must name the server alone or begin with ftp://, ftpes://, ftps:// or sftp://; "
    "this scheme is none of them: ";
constexpr const char* kLoginInAddressText =
    "FtpIPAddress must not hold a login (it holds a \"@\"): put the user name into FtpUserName "
    "and the password into FtpPassword.";
constexpr const char* kKeyFileNotSftpText = "FtpKeyFile is for sftp:// sources only.";
constexpr const char* kTrustOnPlainFtpText =
    "FtpTrust is for ftpes://, ftps:// and sftp:// sources only: plain FTP has nothing to trust.";
constexpr const char* kSshTrustText =
    "FtpTrust for sftp:// must be empty (~/.ssh/known_hosts), a known_hosts file or a host key "
    "fingerprint SHA256:<base64> as ssh-keygen -l prints it.";
constexpr const char* kUnreadableFileText = " names no file this program can read: ";

bool isBase64Text(std::string_view text) {
  while (text.ends_with('=')) text.remove_suffix(1);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '+' || c == '/';
  });
}

// A SHA-256 digest in base64 is 43 characters and one "=" of padding, which ssh-keygen omits.
bool isSha256InBase64(std::string_view text) {
  return (text.size() == 43 || (text.size() == 44 && text.back() == '=')) && isBase64Text(text);
}

bool isHostKeyFingerprint(std::string_view text) {
  constexpr std::string_view kPrefix = "SHA256:";
  return text.starts_with(kPrefix) && isSha256InBase64(text.substr(kPrefix.size()));
}

// A FIFO or a folder is no key file either.
bool isReadableFile(const std::string& path) {
  try {
    return readRegularFile(path, 0, "Cannot read").has_value();
  } catch (const Error&) {
    return false;
  }
}

std::string unreadableFileMessage(const char* key, const std::string& path) {
  return key + (kUnreadableFileText + ("'" + path + "'"));
}

// FTP over TLS reads its trust as every TLS client of the program does.
std::optional<std::string> tlsTrustMessage(BackupSettings& settings) {
  try {
    settings.FtpServerTrust = readTlsTrust("FtpTrust", settings.FtpTrust, errc::kInvalidArgument);
  } catch (const Error& error) {
    return error.description() + ".";
  }
  return std::nullopt;
}

std::optional<std::string> trustMessage(TransferScheme scheme, BackupSettings& settings) {
  const std::string& trust = settings.FtpTrust;
  if (trust.empty()) return std::nullopt;
  if (scheme == TransferScheme::Ftp) return kTrustOnPlainFtpText;
  if (isFtpOverTls(scheme)) return tlsTrustMessage(settings);
  if (trust.starts_with("SHA256:")) {
    if (!isHostKeyFingerprint(trust)) return kSshTrustText;
  } else if (!isReadableFile(trust)) {
    return unreadableFileMessage("FtpTrust", trust);
  }
  settings.FtpServerTrust = sshTrustOf(trust);
  return std::nullopt;
}

}  // namespace

// The scheme decides what the key file and the trust may be; the files named must be readable
// now, not halfway through a run at night. A login in the address is refused before anything
// quotes it: where its password ends cannot be told. The address and the trust are kept as
// read, for the run.
std::optional<std::string> FtpSourceRefusal(BackupSettings& settings) {
  if (!settings.NetworkPath.empty()) return std::nullopt;
  if (holdsLogin(settings.FtpIPAddress)) return kLoginInAddressText;
  const std::optional<TransferScheme> scheme = transferSchemeOf(settings.FtpIPAddress);
  if (!scheme) {
    const std::string_view address = trimmed(settings.FtpIPAddress);
    return kUnknownSchemeText +
           ("'" + std::string(address.substr(0, address.find("://") + 3)) + "'");
  }
  try {
    settings.FtpSource = parseFtpAddress(settings.FtpIPAddress);
  } catch (const Error& error) {
    return "FtpIPAddress: " + error.description() + ".";
  }
  if (!settings.FtpKeyFile.empty()) {
    if (*scheme != TransferScheme::Sftp) return kKeyFileNotSftpText;
    if (!isReadableFile(settings.FtpKeyFile)) {
      return unreadableFileMessage("FtpKeyFile", settings.FtpKeyFile);
    }
  }
  return trustMessage(*scheme, settings);
}

std::string withoutOneTrailingSeparator(std::string path) {
  if (!path.empty() && path.back() == folderSeparator()) path.pop_back();
  return path;
}

namespace {

namespace fs = std::filesystem;

// `path` with every link and ".." resolved as far as it exists.
fs::path resolvedPath(const std::string& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path, error), error);
  if (error) resolved = fs::path(path).lexically_normal();
  return resolved.has_filename() || !resolved.has_relative_path() ? resolved
                                                                  : resolved.parent_path();
}

// True when `inner` is `outer` or lies anywhere below it, however either is written: by
// their resolved paths, and by the identity of the folders (a bind mount shows one folder
// under two paths).
bool liesWithin(const std::string& inner, const std::string& outer) {
  const fs::path container = resolvedPath(outer);
  for (fs::path folder = resolvedPath(inner);; folder = folder.parent_path()) {
    std::error_code unknown;  // a folder that is not there is no other's twin
    if (folder == container || fs::equivalent(folder, container, unknown)) return true;
    if (folder.empty() || folder == folder.parent_path()) return false;
  }
}

// A source that is the destination, or lies inside it, would copy the backups into each new
// backup: the size doubles every day. A destination inside the source is left out by the walk.
std::optional<std::string> sourceInDestinationMessage(const BackupSettings& settings) {
  const std::string source(trimmed(settings.NetworkPath, " "));
  if (source.empty() || !liesWithin(source, settings.DestinationFolder)) return std::nullopt;
  return "NetworkPath must not be DestinationFolder or lie inside it: each backup would copy "
         "the earlier ones. NetworkPath is '" +
         source + "', DestinationFolder is '" + settings.DestinationFolder + "'.";
}

// The first message the settings earn, or nothing when they allow a run. A DaysTillExpiration
// below 1 would have pruning delete today's own folder.
std::optional<std::string> validationMessage(const ProcessServices& process,
                                             BackupSettings& settings) {
  if (isBlankOrEmpty(settings.FtpIPAddress) && isBlankOrEmpty(settings.NetworkPath)) {
    return kNoSourceText;
  }
  if (isBlankOrEmpty(settings.DestinationFolder)) return kNoDestinationText;
  if (settings.DaysTillExpiration < 1) return kExpirationText;
  if (auto message = controlCharacterMessage(settings)) return message;
  if (auto message = sourceInDestinationMessage(settings)) return message;
  if (auto message = FtpSourceRefusal(settings)) return message;
  if (auto message = mailboxMessage(settings)) return message;
  if (auto message = switchMessage(process, settings)) return message;
  if (auto message = ftpConnectionsMessage(process, settings)) return message;
  if (auto message = keepMessage(process, settings)) return message;
  if (auto message = hooksAndExcludesMessage(process, settings)) return message;
  return mailSecurityMessage(process, settings);
}

// The message for a Config.ini (or a file named with -c) this user may not touch: the system's
// reason, then the ways out.
std::string ownJobMessage(const Error& error, const ProcessServices& process) {
  const char* whose = process.namedSettingsFile().empty() ? kOwnConfigIniText : "";
  return error.description() + ".\n\n" + whose + kOwnJobText + process.executableFolder() +
         kOwnJobExample;
}

// Writes the template when Config.ini is missing; true when it did.
bool writeTemplateIfMissing(const ProcessServices& process) {
  if (Configs::fileIsPresent(process)) return false;
  // A template that cannot be written ends here with the reason: telling the user to edit a
  // file that does not exist would send them round in circles.
  WriteDefaultConfiguration(process);
  return true;
}

bool sameKey(std::string_view a, std::string_view b) {
  return lowercase(a) == lowercase(b);
}

// The fewest single-letter insertions, deletions and substitutions that turn `a` into `b`, case
// ignored.
std::size_t editDistance(std::string_view a, std::string_view b) {
  const std::string from = lowercase(a), to = lowercase(b);
  std::vector<std::size_t> row(to.size() + 1);
  std::iota(row.begin(), row.end(), 0);
  for (std::size_t i = 1; i <= from.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= to.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[to.size()];
}

// The known key `key` was most likely meant as, when one is close enough to be a slip of the
// hand: a few letters, more for a long key.
std::optional<std::string> closestKnownKey(std::string_view key) {
  std::optional<std::string> closest;
  std::size_t best = 0;
  for (const std::string_view candidate : KnownKeys()) {
    const std::size_t allowed = std::max<std::size_t>(2, candidate.size() / 4);
    const std::size_t lengths = key.size() > candidate.size() ? key.size() - candidate.size()
                                                              : candidate.size() - key.size();
    if (lengths > allowed) continue;  // too far apart by length alone
    const std::size_t distance = editDistance(key, candidate);
    if (distance <= allowed && (!closest || distance < best)) {
      closest = std::string(candidate);
      best = distance;
    }
  }
  return closest;
}

// A key as the file spells it, its control characters shown as "?": it goes to a terminal.
std::string shownKey(std::string_view key) {
  std::string shown(key);
  std::replace_if(shown.begin(), shown.end(), isControlCharacter, '?');
  return shown;
}

}  // namespace

std::vector<std::string_view> KnownKeys() {
  std::vector<std::string_view> keys(std::begin(kOptionalKeys), std::end(kOptionalKeys));
  keys.insert(keys.end(), std::begin(kHookAndExcludeKeys), std::end(kHookAndExcludeKeys));
  for (const TemplateLine& line : kTemplate) keys.emplace_back(line.key);
  return keys;
}

std::vector<std::string> UnknownKeyNotes(const ProcessServices& process) {
  std::vector<std::string> notes;
  const std::vector<std::string_view> known = KnownKeys();
  for (const std::string& key : Configs::IniKeys(process)) {
    if (std::any_of(known.begin(), known.end(), [&](auto name) { return sameKey(name, key); }))
      continue;
    const std::optional<std::string> meant = closestKnownKey(key);
    notes.push_back("Unknown key: " + shownKey(key) +
                    (meant ? " (did you mean " + *meant + "?)" : " (not read)"));
  }
  return notes;
}

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
  bool templateWritten = false;
  try {
    templateWritten = writeTemplateIfMissing(process);
  } catch (const Error& error) {
    if (error.number() != errc::kPermissionDenied) throw;
    messages.information(kNotPermittedTitle, ownJobMessage(error, process));
    if (refusal != nullptr) *refusal = ConfigurationRefusal::NotPermitted;
    return false;
  }
  if (templateWritten) {
    messages.information(kMessageTitle, kTemplateWrittenText);
    return refuse(ConfigurationRefusal::TemplateWritten, path);
  }
  if (commandLine == kEditSwitch) return refuse(ConfigurationRefusal::EditRequested, path);

  readSettings(process, settings);
  if (!settings.FtpPassword.empty() || !settings.MailPassword.empty()) {
    process.keepSecretsOutOfCoreDumps();
  }
  if (const std::optional<std::string> message = validationMessage(process, settings)) {
    messages.information(kMessageTitle, *message);
    return refuse(ConfigurationRefusal::Invalid, path);
  }
  if (refusal != nullptr) *refusal = ConfigurationRefusal::None;
  return true;
}

}  // namespace quillfen
