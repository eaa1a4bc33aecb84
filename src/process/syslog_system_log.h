#pragma once

#include "process/system_log.h"

namespace quillfen {

// The system log over syslog(3): ident "quillfen" with the process number, facility LOG_DAEMON.
// Nothing reaches the terminal.
class SyslogSystemLog final : public SystemLog {
 public:
  void record(Severity severity, const std::string& line) override;
};

}  // namespace quillfen
