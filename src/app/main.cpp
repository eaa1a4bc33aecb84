// The quillfen executable: picks the front end, wires the real platform pieces into the run
// and turns its outcome into the exit code.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/make_front_end.h"
#include "common/error.h"
#include "common/exit_code.h"
#include "config/configuration.h"
#include "filestore/file_system.h"
#include "mail/curl_smtp_component.h"
#include "ping/curl_pinger.h"
#include "process/clock.h"
#include "process/locale_format.h"
#include "process/process_services.h"
#include "process/shell_command.h"
#include "process/sleeper.h"
#include "process/system_log.h"
#include "quillfen_version.h"
#include "run/check_configuration.h"
#include "run/command_line.h"
#include "run/dry_run.h"
#include "run/main_sequence.h"
#include "run/run_module.h"
#include "run/run_summary.h"
#include "run/services.h"
#include "transfer/curl_transfer_control.h"
#include "transfer/main_form.h"
#include "ui/console_front_end.h"
#include "ui/front_end.h"
#include "ui/interrupts.h"

namespace {

constexpr const char* kVersion = "Quillfen " QUILLFEN_VERSION;

constexpr const char* kUsage = R"(Usage: quillfen [-c FILE]            perform one backup run
       quillfen [-c FILE] /config    open Config.ini for editing and end
       quillfen [-c FILE] --check    check Config.ini, the source and the mail server; no backup
       quillfen [-c FILE] --dry-run  say what a run would fetch, link, skip and delete; change
                                     nothing
       quillfen --help               show this text
       quillfen --version            show the version

-c FILE, --config FILE: read the settings from FILE (a relative path is taken from the working
folder) instead of Config.ini beside the executable, in every mode; a missing FILE gets the
template. Each settings file is a job: "quillfen -c /etc/quillfen/web.ini" runs the job web.ini,
whose mails (the report's first line and the subject's end) and system-log line name it and this
host: "web.ini on alpha". Two jobs with one DestinationFolder never run at once: the second
ends with an error. Without -c the texts stay as they were.

Each start performs one backup run and ends by itself: it copies every file of the source (the
folder NetworkPath when set, otherwise the FTP directory FtpIPAddress) into a hidden staging
folder under DestinationFolder, which then becomes the folder named after today's date
(yyyymmdd): an earlier backup of today is replaced only by a complete one (an incomplete
earlier one also by one no smaller). It writes an inventory into the activity report, deletes
the dated folders that are DaysTillExpiration to DaysTillExpiration + 20 days old, and mails
the report to every address of MailTo.

Configuration: Config.ini beside the executable, section [Quillfen], keys
  FtpIPAddress, FtpUserName, FtpPassword   FTP source: "host[:port][/dir]" or
                                            ftp://, ftpes:// (explicit TLS), ftps:// (implicit
                                            TLS) or sftp:// + "host[:port]/dir"; "//dir" is an
                                            absolute path; no "@" (the login goes into
                                            FtpUserName and FtpPassword)
  FtpKeyFile                                SFTP: private key to log in with (ed25519 or ECDSA;
                                            FtpPassword is then its passphrase)
  FtpTrust                                  ftpes/ftps: a PEM file or a sha256// key pin;
                                            sftp: a known_hosts file or a SHA256: host key
                                            fingerprint; empty: the system's certificates or
                                            ~/.ssh/known_hosts (unknown host keys are refused)
  NetworkPath                               local or mounted source folder (overrides FTP)
  DestinationFolder                         where the dated folders go (required)
  DaysTillExpiration                        expiry age in days, 1 or more (default 365)
  MailServer, MailPort (default 25), MailFrom, MailTo (";"-separated), MailSubject
and the optional keys
  MailSecurity            none, starttls or tls (default: tls for port 465, starttls for
                          587, otherwise none); starttls never sends the message in clear
  MailUserName, MailPassword  the mail login, sent only over TLS
  MailTrust               a PEM file of the certificates to trust, or sha256//<base64> pins
                          of the server's key (default: the system's certificate store)
  PingUrl                 http(s) URL of a monitoring check: GET <PingUrl>/start at the
                          start, <PingUrl> when completed, <PingUrl>/fail otherwise
  IncludeSubfolders       yes: the whole tree under the source, not only its own files
                          (folder links are not entered; at most 64 levels)
  LinkUnchanged           yes: files whose size and time equal those in the previous dated
                          folder are hard-linked from there instead of fetched again; the
                          folders then share those files, so never edit inside a backup
  FtpConnections          1 to 8 (default 1): the files are fetched over this many logins at
                          once; each one counts against the server's limit per client
  KeepDaily, KeepWeekly, KeepMonthly
                          0 or more each: when any is set, pruning keeps the newest backup of
                          each of the last N days, ISO weeks and months that have one (today's
                          among them) and deletes every other dated folder, however old,
                          instead of the DaysTillExpiration window
  RunBefore, RunAfter, RunOnFailure  shell command lines run before the run (one that
                          fails ends it with exit code 1), after it, and after one whose exit
                          code is not 0; QUILLFEN_JOB, QUILLFEN_FOLDER, QUILLFEN_EXIT_CODE and
                          QUILLFEN_REPORT (a file holding the report) in their environment
  HookTimeout             seconds a hook may take before it is killed (default 600)
  Exclude                 ";"-separated patterns not fetched, matched as in .gitignore:
                          *.tmp;cache/;**/node_modules/
The first start writes a template and opens it for editing. Every key with its default and
one line of explanation: /usr/share/doc/quillfen/examples/Config.ini.

Every run that got past its settings mails its outcome: the subject is MailSubject, with
"INCOMPLETE: " before it for exit code 4, "FAILED: " for exit code 1 (the report then ends
with the line "Error N: description") and "CANCELLED: " for exit code 3 (the report so far,
ending with "The run was cancelled.").

Front end: the window when a display is available, otherwise the terminal (Ctrl-C cancels,
a second Ctrl-C ends at once). QUILLFEN_UI=console or QUILLFEN_UI=gui forces one. The
report of a finished run is shown on standard output when that is a terminal; when neither
standard output nor standard error is one, a successful run prints nothing.

--check loads and validates Config.ini as a run does and names every key it does not know,
checks that DestinationFolder is a writable folder and gives its free space, logs in to the
source and lists it (or walks the local folder as a run would) and connects to the mail server,
logging in where configured, then quits; it leaves nothing behind, deletes and mails nothing,
and prints one line per check: what was checked, then "ok" or the error. Exit code 0 when every
check passed, 2 when the settings allow no run, 1 when a key is unknown or the destination,
the source or the mail server failed. A run names unknown keys on standard error and goes on.

--dry-run loads Config.ini as --check does, lists the source as a run would and prints one
line per file a run would fetch ("fetch NAME") or link with LinkUnchanged ("link NAME"), per
entry it would skip ("skip ...") and per dated folder it would delete ("delete PATH"), then the
totals. It writes, deletes, mails and pings nothing and takes no lock. Exit code 0 when it could
tell, 2 when the settings allow no run, 1 when the destination or the source could not be read.

Each start but /config, --check and --dry-run leaves one line in the system log
(journalctl -t quillfen): exit code and its cause, files fetched, bytes, failures, folders
pruned and duration. Every exit code but 0 also names its cause in one line on standard error.

Any other argument, -c without a file or -c given twice is refused before anything is touched
(exit code 2).

Exit codes:
  0  the run completed (also /config, --help, --version)
  1  an error ended the run, or some recipients were refused; the error was reported
  2  no run: Config.ini (or FILE) was missing, its settings are invalid, or an argument is
     unknown
  3  the run was cancelled (Cancel, Ctrl-C, SIGTERM or SIGHUP)
  4  completed, but some files were not fetched or some folders not pruned: the listing or
     some files could not be fetched or the source held no file (old backups kept), or an
     expired folder could not be deleted

Installed: /usr/bin/quillfen (console only) and /usr/bin/quillfen-gui (with the window) both
read /usr/lib/quillfen/Config.ini, a link to /etc/quillfen/Config.ini (root's only).

Scheduling: once a day, by the systemd timer (systemctl enable --now quillfen.timer, after
adding the destination to ReadWritePaths= with systemctl edit quillfen.service) or by a cron
line, not both, e.g. for a copy that has its own Config.ini
  0 2 * * * QUILLFEN_UI=console /home/me/backup/quillfen
A further job: /etc/quillfen/web.ini, run by quillfen@web.timer and quillfen@web.service
(systemctl edit quillfen@web.service for its ReadWritePaths=), or by a cron line with -c FILE.
)";

constexpr const char* kShortUsage =
    "Usage: quillfen [-c FILE] [/config | --check | --dry-run | --help | --version]\n"
    "Without an argument it performs one backup run; --help says more.\n";

// The settings file of -c as an absolute path: a relative one is taken from the working folder.
std::string absoluteSettingsFile(const quillfen::CommandLine& arguments) {
  if (arguments.settingsFile.empty()) return {};
  return std::filesystem::absolute(std::filesystem::path(arguments.settingsFile)).string();
}

// A misspelt key is a setting not in force: each key the settings do not read is named on
// standard error, and the run goes on with the keys it knows. A Config.ini that cannot be read
// is the run's own error to report.
void noteUnknownKeys(const quillfen::ProcessServices& process) {
  try {
    for (const std::string& note : quillfen::UnknownKeyNotes(process)) std::cerr << note << '\n';
  } catch (const quillfen::Error&) {
  }
}

// The exit code of a command line that is answered without a run: a refusal, the usage or
// the version; nothing for one that starts a run, a check or a dry run.
std::optional<int> answeredWithoutRunning(const quillfen::CommandLine& arguments) {
  // A run deletes today's folder and prunes: an argument meant for something else, an empty
  // one included, must not start one.
  if (!arguments.refusal.empty()) {
    std::cerr << "quillfen: " << arguments.refusal << '\n' << kShortUsage;
    return quillfen::kExitConfiguration;
  }
  if (arguments.mode == "--help") {
    std::cout << kUsage;
    return quillfen::kExitCompleted;
  }
  if (arguments.mode == "--version") {
    std::cout << kVersion << '\n';
    return quillfen::kExitCompleted;
  }
  return std::nullopt;
}

// Every exit but 0 names its cause on standard error, where cron and the journal look. The
// console's message boxes already wrote an error and a refusal there; the window's did not.
void tellExitOnStandardError(const quillfen::RunModule& run, const quillfen::FrontEnd& frontEnd,
                             int exitCode) {
  using namespace quillfen;
  if (exitCode == kExitCancelled)
    std::cerr << cancelledBySignalText(frontEnd.cancellingSignal()) << '\n';
  const bool saidByTheConsole =
      !frontEnd.hasDisplay() && (exitCode == kExitError || exitCode == kExitConfiguration);
  const std::string outcome = OutcomeLine(run, exitCode);
  if (!outcome.empty() && !saidByTheConsole) std::cerr << outcome << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  const quillfen::CommandLine arguments =
      quillfen::ParseCommandLine(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  if (const std::optional<int> answered = answeredWithoutRunning(arguments)) return *answered;
  const bool check = arguments.mode == "--check";
  const bool dryRun = arguments.mode == "--dry-run";

  using namespace quillfen;
  // A check or a dry run writes its lines to standard output and shows no window.
  std::unique_ptr<FrontEnd> frontEnd =
      check || dryRun ? ConsoleFrontEnd::onStandardError() : makeFrontEnd(argc, argv);
  EventPump& events = frontEnd->eventPump();

  SystemClock clock;
  ThreadSleeper sleeper;
  HostProcessServices process(frontEnd->hasDisplay(), absoluteSettingsFile(arguments));
  const LocaleFormat format = LocaleFormat::fromEnvironment();
  HostCommandRunner commands;
  MainForm frmMain([&events] { return std::make_unique<CurlTransferControl>(events); });

  Services services{clock,
                    sleeper,
                    events,
                    frontEnd->splashWindow(),
                    frontEnd->cancelFlag(),
                    frontEnd->messageBoxes(),
                    process,
                    format,
                    frmMain,
                    makeHostFileSystem,
                    [] { return std::make_unique<CurlSmtpComponent>(); },
                    [&frontEnd](const std::string& report) { frontEnd->showReport(report); },
                    [] { return std::make_unique<CurlPinger>(); },
                    commands};

  RunModule run;
  const auto say = [](const std::string& line) {
    std::cout << line << std::endl;  // each line as soon as it is known
  };
  if (check) return CheckConfiguration(run, services, say);
  if (dryRun) return DryRun(run, services, say);
  if (arguments.mode != "/config") noteUnknownKeys(process);
  HostSystemLog systemLog;
  const int exitCode = MainWithSummary(run, services, arguments.mode, systemLog);
  tellExitOnStandardError(run, *frontEnd, exitCode);
  return exitCode;
}
