#pragma once

#include <string>
#include <utility>

namespace quillfen {

// Services of the running process that the program asks the host for.
class ProcessServices {
 public:
  virtual ~ProcessServices() = default;
  // The folder holding the running executable, without a trailing "/".
  virtual std::string executableFolder() const = 0;
  // The settings file named on the command line (-c FILE), as an absolute path; empty when none
  // was and Config.ini beside the executable is the one.
  virtual std::string namedSettingsFile() const = 0;
  // This machine's name, which tells one machine's reports from another's; empty when unknown.
  virtual std::string hostName() const = 0;
  // Hands `path` to the user for editing and returns without waiting.
  virtual void openForEditing(const std::string& path) = 0;
  // Keeps the process's memory out of core dumps (and from other processes of its user) from
  // now on: it holds a password.
  virtual void keepSecretsOutOfCoreDumps() = 0;
  // Whether the process runs as one of the packaged systemd services (quillfen.service or an
  // instance of quillfen@.service), which may write only where its ReadWritePaths= allow.
  virtual bool runsUnderPackagedUnit() const = 0;
};

// What lets the packaged service write to `folder`: its sandbox makes the whole system
// read-only except the ReadWritePaths= of its drop-in, which is the running unit's own.
std::string ReadWritePathsHint(const std::string& folder);

// The real services of the host.
// Linux: /proc/self/exe for the folder; gethostname for the host; for editing, the file behind a
// link, opened with the desktop's default application for text files (xdg-open, detached) when
// there is a display, else with the user's editor when standard input and error are a terminal
// (waited for), else named on standard error. Secrets: prctl(PR_SET_DUMPABLE, 0). The packaged
// unit: systemd's INVOCATION_ID in the environment and the unit's own control group
// (quillfen.service or quillfen@<job>.service). Windows: the folder of the program's module; the
// computer's DNS host name; for editing, "Notepad.exe PATH", not waited for; nothing to do for
// secrets (only an administrator or the same user may read the process's memory, and Windows Error
// Reporting keeps a full dump only where an administrator asked for one); never a packaged unit.
class HostProcessServices final : public ProcessServices {
 public:
  explicit HostProcessServices(bool hasDisplay, std::string namedSettingsFile = {})
      : hasDisplay_(hasDisplay), namedSettingsFile_(std::move(namedSettingsFile)) {}
  std::string executableFolder() const override;
  std::string namedSettingsFile() const override { return namedSettingsFile_; }
  std::string hostName() const override;
  void openForEditing(const std::string& path) override;
  void keepSecretsOutOfCoreDumps() override;
  bool runsUnderPackagedUnit() const override;

 private:
  bool hasDisplay_;
  std::string namedSettingsFile_;
};

}  // namespace quillfen
