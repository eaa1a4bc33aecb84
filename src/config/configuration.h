#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/backup_settings.h"

namespace quillfen {

class MessageBoxes;
class ProcessServices;

// Why LoadConfiguration returned false; the process's exit code follows from it.
enum class ConfigurationRefusal {
  None,
  TemplateWritten,  // Config.ini was missing: the template was written and opened
  EditRequested,    // "/config": the file was opened for editing
  Invalid,          // a validation failed: its message was shown and the file opened
  NotPermitted,     // Config.ini belongs to another user: how to make a job of one's own was shown
};

// Writes the template Config.ini: the eleven keys in the order of BackupSettings, each with its
// template value, the empty ones as "Key=" lines so that the user sees every key. Throws Error
// when the template cannot be written.
void WriteDefaultConfiguration(const ProcessServices& process);

// A DestinationFolder or NetworkPath as a run takes it: one trailing folder separator cut off
// ('/', the backslash on Windows), so that a drive root "D:\" becomes "D:" and a value ending in
// two keeps one.
std::string withoutOneTrailingSeparator(std::string path);

// Why the FTP source of `settings` cannot be used (its address, key file or trust), or nothing
// when it can (a network path, or a usable address, which is then kept in FtpSource and
// FtpServerTrust).
std::optional<std::string> FtpSourceRefusal(BackupSettings& settings);

// Every key a run reads: the template's, then the optional ones.
std::vector<std::string_view> KnownKeys();

// One note per key of section [Quillfen] that no setting reads (a run goes on without it), in
// the file's order, naming a close known key when there is one:
// "Unknown key: MailSecurty (did you mean MailSecurity?)". None when Config.ini is missing;
// throws Error when it cannot be read.
std::vector<std::string> UnknownKeyNotes(const ProcessServices& process);

// Makes sure Config.ini exists beside the executable, honours "/config", reads every key into
// `settings` and validates them. False: the run must not take place; the user has been told.
// A Config.ini the user may not read or write (the installed program's, for an ordinary user)
// is refused with a message that says how to make a backup job of one's own; nothing is opened.
// A DaysTillExpiration or MailPort that is not a whole number in range throws an Error that
// names the key and the value; so does a Config.ini that exists but cannot be read, is not a
// regular file or is over 1 MiB, or a
// template that cannot be written (something other than a file in its place, a read-only
// folder). Validation order: a source, then a destination, then DaysTillExpiration of 1 or more,
// then no control character in NetworkPath, DestinationFolder, FtpIPAddress, MailServer, MailFrom,
// MailTo, FtpKeyFile or FtpTrust, then a NetworkPath that is not DestinationFolder nor inside it
// (links and ".." resolved), then (FTP source only) no login in FtpIPAddress, a known scheme in
// FtpIPAddress, a server and a port of 1-65535 in it, a readable FtpKeyFile for sftp:// only and an
// FtpTrust of the scheme's forms, then MailFrom and every ";"-separated entry of MailTo one mailbox
// ("addr" or "Name <addr>"), then the optional mail keys: MailSecurity one of none, starttls, tls
// (any case; unset, it follows MailPort: 465 tls, 587 starttls, else none), no MailUserName without
// TLS, a MailTrust that is a readable PEM file or sha256// pins, a PingUrl that is http(s); the
// message names the key, and the entry or value (never the login). Before the mail keys: no control
// character in RunBefore, RunAfter, RunOnFailure or Exclude, Exclude's patterns
// (config/exclude_patterns.h) and a HookTimeout that is a whole number of 1 or more.
bool LoadConfiguration(const std::string& commandLine, ProcessServices& process,
                       MessageBoxes& messages, BackupSettings& settings,
                       ConfigurationRefusal* refusal = nullptr);

}  // namespace quillfen
