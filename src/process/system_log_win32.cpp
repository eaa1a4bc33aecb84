#include <windows.h>

#include "common/windows_calls.h"
#include "process/system_log.h"

namespace quillfen {

namespace {

WORD eventTypeOf(SystemLog::Severity severity) {
  switch (severity) {
    case SystemLog::Severity::Info:
      return EVENTLOG_INFORMATION_TYPE;
    case SystemLog::Severity::Warning:
      return EVENTLOG_WARNING_TYPE;
    case SystemLog::Severity::Error:
      break;
  }
  return EVENTLOG_ERROR_TYPE;
}

}  // namespace

// The source is not registered (that needs an installer and an administrator), so the Event
// Viewer shows the line beside a note that the source's descriptions are missing; the line
// itself is kept whole.
void HostSystemLog::record(Severity severity, const std::string& line) {
  const HANDLE log = ::RegisterEventSourceW(nullptr, L"Quillfen");
  if (log == nullptr) return;
  const std::wstring text = wideText(line);
  const wchar_t* strings[] = {text.c_str()};
  ::ReportEventW(log, eventTypeOf(severity), 0, 0, nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(log);
}

}  // namespace quillfen
