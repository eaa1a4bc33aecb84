// Runs a program in a window station of its own, which has no visible desktop, as Windows runs
// a task "whether the user is logged on or not", with this program's standard handles, and
// ends with its exit code (125 when it could not be started). For the tests of the Windows
// program: usage: no_desktop_run PROGRAM
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 125;
  HWINSTA own = ::GetProcessWindowStation();
  HWINSTA hidden = ::CreateWindowStationW(L"QuillfenNoDesktop", 0, WINSTA_ALL_ACCESS, nullptr);
  if (hidden == nullptr || !::SetProcessWindowStation(hidden)) return 125;
  HDESK desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(own);
  if (desktop == nullptr) return 125;

  std::wstring station = L"QuillfenNoDesktop\\Default";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.lpDesktop = station.data();
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &start, &process)) {
    return 125;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 125;
  ::GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
