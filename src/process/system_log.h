#pragma once

#include <string>

namespace quillfen {

// The system log, where an administrator looks for what scheduled programs did (syslog facility
// daemon; the journal on a systemd machine: journalctl -t quillfen).
class SystemLog {
 public:
  enum class Severity { Info, Warning, Error };

  virtual ~SystemLog() = default;
  // Leaves one line; a log that cannot be reached loses it without a word.
  virtual void record(Severity severity, const std::string& line) = 0;
};

}  // namespace quillfen
