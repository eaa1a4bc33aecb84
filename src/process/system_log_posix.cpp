#include <syslog.h>

#include "process/system_log.h"

namespace quillfen {

namespace {

int priorityOf(SystemLog::Severity severity) {
  switch (severity) {
    case SystemLog::Severity::Info:
      return LOG_INFO;
    case SystemLog::Severity::Warning:
      return LOG_WARNING;
    case SystemLog::Severity::Error:
      break;
  }
  return LOG_ERR;
}

}  // namespace

void HostSystemLog::record(Severity severity, const std::string& line) {
  ::openlog("quillfen", LOG_PID, LOG_DAEMON);
  ::syslog(priorityOf(severity), "%s", line.c_str());
  ::closelog();
}

}  // namespace quillfen
