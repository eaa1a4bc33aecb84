#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "common/windows_calls.h"
#include "process/shell_command.h"

namespace quillfen {

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kLookEveryMs = 50;

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  void reset() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

// A file of the command's text in the user's temporary folder, removed with this object.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& text) {
    std::wstring folder(MAX_PATH + 1, L'\0');
    std::wstring name(MAX_PATH + 1, L'\0');
    if (::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()) == 0) return;
    if (::GetTempFileNameW(folder.c_str(), L"qfr", 0, name.data()) == 0) return;
    path_ = name.c_str();
    std::ofstream(std::filesystem::path(path_), std::ios::binary) << text;
  }
  ~TemporaryFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  std::string path() const { return utf8Text(path_); }

 private:
  std::wstring path_;
};

bool sameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The program's environment with `variables` set (names compared as Windows does, case
// ignored), as the block CreateProcessW takes.
std::wstring environmentWith(const std::vector<std::pair<std::string, std::string>>& variables) {
  std::wstring block;
  wchar_t* const strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
       entry += std::wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    // Entries such as "=C:=C:\dir" begin with "=": their name goes up to the next one.
    const std::wstring_view name = text.substr(0, text.find(L'=', 1));
    const bool replaced = std::any_of(variables.begin(), variables.end(), [&](const auto& set) {
      return sameName(wideText(set.first), name);
    });
    if (!replaced) block.append(text).push_back(L'\0');
  }
  if (strings != nullptr) ::FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : variables)
    block.append(wideText(name + "=" + value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

std::wstring shellPath() {
  std::wstring path(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(L"ComSpec", path.data(), MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return L"cmd.exe";
  path.resize(length);
  return path;
}

void keepEnd(std::string& output, const char* data, std::size_t size) {
  output.append(data, size);
  if (output.size() > kCommandOutputKept) output.erase(0, output.size() - kCommandOutputKept);
}

// Reads what the pipe holds now, without waiting.
void readAvailable(HANDLE pipe, std::string& output) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char buffer[4096];
    DWORD read = 0;
    if (!::ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &read, nullptr) ||
        read == 0)
      return;
    keepEnd(output, buffer, read);
  }
}

std::string lastErrorText(const char* what) {
  return std::string(what) + ": Windows error " + std::to_string(::GetLastError());
}

}  // namespace

CommandOutcome HostCommandRunner::run(const ShellCommand& command) {
  CommandOutcome outcome;
  std::vector<std::pair<std::string, std::string>> variables = command.variables;
  std::optional<TemporaryFile> file;
  if (!command.fileVariable.empty()) {
    file.emplace(command.fileText);
    variables.emplace_back(command.fileVariable, file->path());
  }
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  constexpr DWORD kPipeSize = 1 << 16;  // read every kLookEveryMs: room for a talkative hook
  if (!::CreatePipe(&readEnd, &writeEnd, &inherited, kPipeSize)) {
    outcome.output = lastErrorText("cannot make a pipe");
    return outcome;
  }
  Handle reading(readEnd), writing(writeEnd);
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             OPEN_EXISTING, 0, nullptr));
  // Every process the shell starts joins its job, which the limit ends whole.
  const Handle job(::CreateJobObjectW(nullptr, nullptr));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  // /s: the quotes around the line are taken off and nothing else, whatever quotes it holds; /d:
  // no AutoRun command of the registry runs first.
  std::wstring commandLine =
      L"\"" + shellPath() + L"\" /d /s /c \"" + wideText(command.commandLine) + L"\"";
  std::wstring environment = environmentWith(variables);
  PROCESS_INFORMATION started{};
  if (job.get() == nullptr ||
      !::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                        environment.data(), nullptr, &startup, &started)) {
    outcome.output = lastErrorText("cannot start cmd.exe");
    return outcome;
  }
  const Handle process(started.hProcess), thread(started.hThread);
  ::AssignProcessToJobObject(job.get(), process.get());
  ::ResumeThread(thread.get());
  writing.reset();
  input.reset();

  const Clock::time_point deadline = Clock::now() + command.limit;
  while (::WaitForSingleObject(process.get(), kLookEveryMs) == WAIT_TIMEOUT) {
    readAvailable(reading.get(), outcome.output);
    const bool stopped = command.keepGoing && !command.keepGoing();
    if (!stopped && Clock::now() < deadline) continue;
    ::TerminateJobObject(job.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
    outcome.end = stopped ? CommandOutcome::End::Stopped : CommandOutcome::End::TimedOut;
    return outcome;
  }
  readAvailable(reading.get(), outcome.output);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  outcome.end = CommandOutcome::End::Exited;
  outcome.exitCode = static_cast<int>(exitCode);
  return outcome;
}

}  // namespace quillfen
