#include "ui_win32/win32_message_boxes.h"

#include <windows.h>

#include <ostream>

#include "common/windows_calls.h"
#include "ui_win32/desktop.h"

namespace quillfen {

void Win32MessageBoxes::information(const std::string& title, const std::string& text) {
  show(title, text, MB_ICONINFORMATION, SystemLog::Severity::Warning);
}

void Win32MessageBoxes::error(const std::string& title, const std::string& text) {
  show(title, text, MB_ICONERROR, SystemLog::Severity::Error);
}

// Task-modal, as the window's own messages are: the progress window takes no click meanwhile.
void Win32MessageBoxes::show(const std::string& title, const std::string& text, unsigned icon,
                             SystemLog::Severity severity) {
  if (!isDesktopVisible()) {
    err_ << title << ": " << text << std::endl;
    log_.record(severity, title + ": " + text);
    return;
  }
  ::MessageBoxW(nullptr, wideText(text).c_str(), wideText(title).c_str(),
                MB_OK | icon | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace quillfen
