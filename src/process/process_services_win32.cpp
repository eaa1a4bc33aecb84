#include <windows.h>

#include <filesystem>
#include <string>

#include "common/windows_calls.h"
#include "process/process_services.h"

namespace quillfen {

std::string HostProcessServices::executableFolder() const {
  std::wstring module(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length == 0) throw lastWindowsError("Cannot resolve the executable", "quillfen.exe");
    if (length < module.size()) {
      module.resize(length);
      break;
    }
    module.resize(module.size() * 2);  // the name was cut: a deep folder
  }
  return utf8Text(std::filesystem::path(module).parent_path().native());
}

std::string HostProcessServices::hostName() const {
  wchar_t name[256] = {};
  DWORD length = sizeof name / sizeof name[0];
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
  return utf8Text(std::wstring(name, length));
}

// "Notepad.exe " and the path, not quoted: Notepad takes the rest of its command line as one
// name, blanks included. Notepad keeps running after the program has ended.
void HostProcessServices::openForEditing(const std::string& path) {
  std::wstring command = L"Notepad.exe " + wideName(path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &started)) {
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
  }
}

void HostProcessServices::keepSecretsOutOfCoreDumps() {}

bool HostProcessServices::runsUnderPackagedUnit() const {
  return false;
}

std::string ReadWritePathsHint(const std::string& folder) {
  return "the account that runs Quillfen needs the right to write to " + folder;
}

}  // namespace quillfen
