#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/server_trust.h"
#include "common/transfer_scheme.h"

namespace quillfen {

// How the mail exchange is secured: plain SMTP, STARTTLS required, or TLS from the first byte.
enum class MailSecurityMode { None, StartTls, Tls };

// One field per key of Config.ini, named like the key. Filled once by LoadConfiguration and
// only read afterwards.
struct BackupSettings {
  std::string FtpIPAddress;
  std::string FtpUserName;
  std::string FtpPassword;
  std::string NetworkPath;        // without one trailing separator
  std::string DestinationFolder;  // without one trailing separator
  std::int32_t DaysTillExpiration = 0;
  std::string MailServer;
  std::int32_t MailPort = 0;
  std::string MailFrom;
  std::string MailTo;
  std::string MailSubject;
  // Optional keys, absent from the template.
  MailSecurityMode MailSecurity = MailSecurityMode::None;  // resolved from MailPort when unset
  std::string MailUserName;                                // empty: no login
  std::string MailPassword;
  std::string MailTrust;   // empty: the system's certificate store
  std::string PingUrl;     // empty: no pings
  std::string FtpKeyFile;  // SFTP: the private key; FtpPassword is then its passphrase
  std::string FtpTrust;    // which server certificates or host keys to trust; empty: the system's
  bool IncludeSubfolders = false;   // the whole tree under the source, not its files only
  bool LinkUnchanged = false;       // unchanged files hard-linked from the previous backup
  std::int32_t FtpConnections = 1;  // the FTP logins the files are fetched over, 1 to 8
  // Retention by periods, 0 or more each; when none is set, DaysTillExpiration's window prunes.
  std::optional<std::int32_t> KeepDaily;
  std::optional<std::int32_t> KeepWeekly;
  std::optional<std::int32_t> KeepMonthly;
  // Hooks: shell command lines run before the run, after it, and after one that did not
  // complete; empty: none. Each is stopped after HookTimeout seconds.
  std::string RunBefore;
  std::string RunAfter;
  std::string RunOnFailure;
  std::int32_t HookTimeout = 600;
  std::string Exclude;  // ";"-separated patterns of what is not fetched (config/exclude_patterns.h)
  // Read from the text of the keys above when the settings load, for the layers that use them;
  // the reports and mails quote the text.
  FtpAddress FtpSource;         // FtpIPAddress, when the source is FTP
  ServerTrust FtpServerTrust;   // FtpTrust, as the source's scheme reads it
  ServerTrust MailServerTrust;  // MailTrust
};

}  // namespace quillfen
