#pragma once

#include <string>

namespace quillfen {

// The system log, where an administrator looks for what scheduled programs did.
class SystemLog {
 public:
  enum class Severity { Info, Warning, Error };

  virtual ~SystemLog() = default;
  // Leaves one line; a log that cannot be reached loses it without a word.
  virtual void record(Severity severity, const std::string& line) = 0;
};

// The host's log. Linux: syslog(3), ident "quillfen" with the process number, facility
// LOG_DAEMON (the journal on a systemd machine: journalctl -t quillfen). Windows: the
// Application event log, source "Quillfen". Nothing reaches the terminal.
class HostSystemLog final : public SystemLog {
 public:
  void record(Severity severity, const std::string& line) override;
};

}  // namespace quillfen
