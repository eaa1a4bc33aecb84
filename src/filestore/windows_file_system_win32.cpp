#include <windows.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/error.h"
#include "common/posix_file.h"
#include "common/text.h"
#include "common/windows_calls.h"
#include "filestore/copy_pieces.h"
#include "filestore/windows_file_system.h"

namespace quillfen {

namespace {

constexpr std::size_t kCopyBufferSize = 256 * 1024;

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && isSeparator(folder.back())) return folder + name;
  return folder + '\\' + name;
}

bool isDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
bool isReparsePoint(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Owns a handle from CreateFileW and closes it when destroyed.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Opens `path`, a folder as well as a file, to read its attributes; reading them is never
// refused for another's sharing mode. A link is opened as what it points to.
Handle openFollowing(const std::wstring& path) {
  return Handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Opens `path` as itself, a link too, and pins it: while the handle is open, others may read
// and write it, but not delete, rename or replace it.
Handle openPinned(const std::wstring& path) {
  return Handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::optional<BY_HANDLE_FILE_INFORMATION> factsOfHandle(const Handle& handle) {
  BY_HANDLE_FILE_INFORMATION info;
  // A device such as NUL opens too, but is neither file nor folder.
  if (!handle.valid() || ::GetFileType(handle.get()) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(handle.get(), &info)) {
    return std::nullopt;
  }
  return info;
}

// What lies at `path`, a link followed; nothing when nothing is there.
std::optional<BY_HANDLE_FILE_INFORMATION> followedFacts(const std::string& path) {
  return factsOfHandle(openFollowing(wideName(path)));
}

std::uint64_t sizeOf(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// A FILETIME (100 ns steps since 1601) as whole seconds since 1970, earlier times rounded down
// as well.
std::int64_t secondsOf(const FILETIME& time) {
  constexpr std::int64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
  const auto ticks = static_cast<std::int64_t>(sizeOf(time.dwHighDateTime, time.dwLowDateTime)) -
                     kTicksFrom1601To1970;
  return ticks / kTicksPerSecond - (ticks % kTicksPerSecond < 0 ? 1 : 0);
}

FileFacts fileFactsOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {sizeOf(info.nFileSizeHigh, info.nFileSizeLow), secondsOf(info.ftLastWriteTime)};
}

Error errorOfCode(DWORD code, std::string_view what, const std::string& path,
                  bool isFolder = false) {
  return errorFromErrno(errnoOfWindowsError(code), what, path, isFolder);
}

// The entries of one folder, "." and ".." left out. `path` names it in errors.
class FolderListing {
 public:
  explicit FolderListing(std::string path) : path_(std::move(path)) {
    handle_ = ::FindFirstFileExW(wideName(joinPath(path_, "*")).c_str(), FindExInfoBasic, &data_,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (handle_ != INVALID_HANDLE_VALUE) return;
    const DWORD code = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wideName(path_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !isDirectory(attributes)) {
      throw errorFromErrno(ENOTDIR, "Cannot read folder", path_, true);
    }
    // A drive's root folder has no "." entry: nothing at all is found in an empty one.
    if (code != ERROR_FILE_NOT_FOUND || attributes == INVALID_FILE_ATTRIBUTES) {
      throw errorOfCode(code, "Cannot read folder", path_, true);
    }
  }
  ~FolderListing() {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
  }
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  const std::string& path() const { return path_; }

  // The next entry, or nullptr after the last one.
  const WIN32_FIND_DATAW* next() {
    while (handle_ != INVALID_HANDLE_VALUE) {
      if (!first_ && !::FindNextFileW(handle_, &data_)) {
        if (::GetLastError() != ERROR_NO_MORE_FILES) {
          throw lastWindowsError("Cannot read folder", path_, true);
        }
        return nullptr;
      }
      first_ = false;
      const std::wstring_view name = data_.cFileName;
      if (name != L"." && name != L"..") return &data_;
    }
    return nullptr;
  }

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data_;
  bool first_ = true;
};

enum class Kind { kFile, kFolder, kFolderLink, kNothing };

struct EntryFacts {
  Kind kind = Kind::kNothing;
  std::uint64_t size = 0;
};

// What an entry is to a walk. A symbolic link to a file counts as that file; one that leads
// nowhere is no file.
EntryFacts factsOfEntry(const FolderListing& folder, const WIN32_FIND_DATAW& entry) {
  const DWORD attributes = entry.dwFileAttributes;
  if (isDirectory(attributes)) {
    return {isReparsePoint(attributes) ? Kind::kFolderLink : Kind::kFolder, 0};
  }
  if (!isReparsePoint(attributes)) {
    return {Kind::kFile, sizeOf(entry.nFileSizeHigh, entry.nFileSizeLow)};
  }
  const auto target = followedFacts(joinPath(folder.path(), utf8Text(entry.cFileName)));
  if (!target || isDirectory(target->dwFileAttributes)) return {};
  return {Kind::kFile, sizeOf(target->nFileSizeHigh, target->nFileSizeLow)};
}

// Clears the read-only attribute of `path` (whose attributes are `attributes`), which would
// stop its removal.
void clearReadOnly(const std::string& path, DWORD attributes, std::string_view what,
                   bool isFolder) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
  DWORD cleared = attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                                 FILE_ATTRIBUTE_REPARSE_POINT);
  if (cleared == 0) cleared = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileAttributesW(wideName(path).c_str(), cleared)) {
    throw lastWindowsError(what, path, isFolder);
  }
}

void removeFile(const std::string& path, DWORD attributes, bool force) {
  if (force) clearReadOnly(path, attributes, "Cannot delete", false);
  if (!::DeleteFileW(wideName(path).c_str())) throw lastWindowsError("Cannot delete", path);
}

void removeFolder(const std::string& path, DWORD attributes, bool force);

void removeContents(const std::string& path, bool force) {
  FolderListing folder(path);
  while (const WIN32_FIND_DATAW* entry = folder.next()) {
    const std::string child = joinPath(path, utf8Text(entry->cFileName));
    if (isDirectory(entry->dwFileAttributes)) {
      removeFolder(child, entry->dwFileAttributes, force);
    } else {
      removeFile(child, entry->dwFileAttributes, force);
    }
  }
}

// A link to a folder is removed itself: what it points to is never entered.
void removeFolder(const std::string& path, DWORD attributes, bool force) {
  // First, so that the contents of a read-only folder can go too.
  if (force) clearReadOnly(path, attributes, "Cannot delete folder", true);
  if (!isReparsePoint(attributes)) removeContents(path, force);
  if (!::RemoveDirectoryW(wideName(path).c_str())) {
    throw lastWindowsError("Cannot delete folder", path, true);
  }
}

std::uint64_t sizeOfContents(const std::string& path) {
  FolderListing folder(path);
  std::uint64_t total = 0;
  while (const WIN32_FIND_DATAW* entry = folder.next()) {
    const EntryFacts facts = factsOfEntry(folder, *entry);
    if (facts.kind == Kind::kFolder) {
      total += sizeOfContents(joinPath(path, utf8Text(entry->cFileName)));
    } else if (facts.kind == Kind::kFile) {
      total += facts.size;
    }
  }
  return total;
}

void appendTreeFiles(const std::string& path, const std::string& prefix,
                     std::vector<FileEntry>& files) {
  std::vector<std::string> subfolders;
  {
    FolderListing folder(path);
    while (const WIN32_FIND_DATAW* entry = folder.next()) {
      const EntryFacts facts = factsOfEntry(folder, *entry);
      if (facts.kind == Kind::kFolder) {
        subfolders.push_back(utf8Text(entry->cFileName));
      } else if (facts.kind == Kind::kFile) {
        files.push_back({prefix + utf8Text(entry->cFileName), facts.size});
      }
    }
  }
  for (const std::string& name : subfolders) {
    appendTreeFiles(joinPath(path, name), prefix + name + "/", files);
  }
}

// A file that cannot be opened for writing is read-only: this run wrote none of those (copies
// leave the attribute behind), so it has nothing of this run to flush.
void flushFile(const std::string& path) {
  const Handle file(::CreateFileW(wideName(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    if (::GetLastError() == ERROR_ACCESS_DENIED) return;
    throw lastWindowsError("Cannot write", path);
  }
  if (!::FlushFileBuffers(file.get())) throw lastWindowsError("Cannot write", path);
}

void flushTree(const std::string& path) {
  FolderListing folder(path);
  while (const WIN32_FIND_DATAW* entry = folder.next()) {
    const DWORD attributes = entry->dwFileAttributes;
    if (isReparsePoint(attributes)) continue;  // what a link leads to is not this tree's
    const std::string child = joinPath(path, utf8Text(entry->cFileName));
    if (isDirectory(attributes)) {
      flushTree(child);
    } else {
      flushFile(child);
    }
  }
}

// Opens the source for reading, its writers and a rename of it allowed; only a file on a disk
// is copied: a device (NUL, COM1) would feed or block without end.
Handle openSource(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  Handle file(::CreateFileW(wideName(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) throw SourceFileError(lastWindowsError("Cannot copy", path));
  const auto facts = factsOfHandle(file);
  if (!facts || isDirectory(facts->dwFileAttributes)) {
    throw SourceFileError(
        Error(errc::kPathFileAccess, "Cannot copy '" + shownName(path) + "': not a regular file"));
  }
  info = *facts;
  return file;
}

// A failed read lies in the source and costs that file only; a failed write is the
// destination's and is thrown as it is. False when the copy was stopped.
bool copyContents(const Handle& in, PendingFile& out, std::vector<char>& buffer,
                  const KeepGoing& keepGoing, const std::string& source) {
  if (buffer.empty()) buffer.resize(kCopyBufferSize);
  CopyPieces pieces(keepGoing);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      throw SourceFileError(lastWindowsError("Cannot read", source));
    }
    if (got == 0) return true;
    out.write({buffer.data(), got});
    if (!pieces.copied(got)) return false;
  }
}

Error driveError(const std::string& path) {
  const int error = errnoOfWindowsError(::GetLastError());
  return Error(errc::kDeviceUnavailable,
               "Cannot determine the drive of '" + shownName(path) + "': " + std::strerror(error));
}

// The absolute form of `path` that names its drive: a relative path or one of the current
// drive's root ("\\backups") does not.
std::string fullPathOf(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return utf8Text(path);
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return utf8Text(path);
  full.resize(length);
  return utf8Text(full);
}

// The step names of a path below a folder, split at either separator.
std::vector<std::string> stepsOf(std::string_view relativePath) {
  std::vector<std::string> steps;
  for (;;) {
    const std::size_t separator = relativePath.find_first_of("/\\");
    steps.emplace_back(relativePath.substr(0, separator));
    if (separator == std::string_view::npos) return steps;
    relativePath.remove_prefix(separator + 1);
  }
}

}  // namespace

std::string driveNameOf(const std::string& path) {
  constexpr std::string_view kLongUnc = "\\\\?\\UNC\\";
  constexpr std::string_view kLong = "\\\\?\\";
  if (path.starts_with(kLongUnc)) return driveNameOf("\\\\" + path.substr(kLongUnc.size()));
  if (path.starts_with(kLong)) return driveNameOf(path.substr(kLong.size()));
  if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) return path.substr(0, 1);
  // "\\server\share": the server and the share, whichever slashes join them.
  const std::size_t server = path.find_first_of("/\\", 2);
  const std::size_t share =
      path.find_first_of("/\\", server == std::string::npos ? server : server + 1);
  std::string name = "\\\\" + path.substr(2, share == std::string::npos ? share : share - 2);
  if (server != std::string::npos) name[server] = '\\';
  return name;
}

bool WindowsFileSystem::folderExists(const std::string& path) {
  const auto facts = followedFacts(path);
  return facts && isDirectory(facts->dwFileAttributes);
}

bool WindowsFileSystem::fileExists(const std::string& path) {
  return fileFacts(path).has_value();
}

void WindowsFileSystem::createFolder(const std::string& path) {
  if (!::CreateDirectoryW(wideName(path).c_str(), nullptr)) {
    throw lastWindowsError("Cannot create folder", path, true);
  }
}

void WindowsFileSystem::deleteFile(const std::string& path, bool force) {
  const DWORD attributes = ::GetFileAttributesW(wideName(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) throw lastWindowsError("Cannot delete", path);
  if (isDirectory(attributes)) throw errorFromErrno(EISDIR, "Cannot delete", path);
  removeFile(path, attributes, force);
}

void WindowsFileSystem::deleteFolder(const std::string& path, bool force) {
  const DWORD attributes = ::GetFileAttributesW(wideName(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    throw lastWindowsError("Cannot delete folder", path, true);
  }
  if (!isDirectory(attributes)) throw errorFromErrno(ENOTDIR, "Cannot delete folder", path, true);
  removeFolder(path, attributes, force);
}

// Without MOVEFILE_REPLACE_EXISTING the move fails when anything has the new name.
void WindowsFileSystem::renameFolder(const std::string& from, const std::string& to) {
  if (::MoveFileExW(wideName(from).c_str(), wideName(to).c_str(), MOVEFILE_WRITE_THROUGH)) return;
  const DWORD code = ::GetLastError();
  const bool taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
  throw errorOfCode(code, "Cannot rename folder", taken ? to : from, true);
}

bool WindowsFileSystem::exchangeFolders(const std::string&, const std::string&) {
  return false;
}

bool WindowsFileSystem::copyFile(const std::string& source, const std::string& destinationFolder,
                                 bool overwrite, const KeepGoing& keepGoing) {
  const std::string name = source.substr(source.find_last_of("/\\") + 1);
  if (name.empty())
    throw Error(errc::kBadFileName, "Cannot copy '" + shownName(source) + "': no file name");
  const std::string target = joinPath(destinationFolder, name);

  BY_HANDLE_FILE_INFORMATION info;
  const Handle in = openSource(source, info);
  if (!overwrite && ::GetFileAttributesW(wideName(target).c_str()) != INVALID_FILE_ATTRIBUTES) {
    throw errorFromErrno(EEXIST, "Cannot copy to", target);
  }
  PendingFile out(target, {.create = "Cannot write to folder",
                           .createNamesFolder = true,
                           .write = "Cannot write",
                           .replace = "Cannot write"});
  // A stopped copy leaves nothing behind: `out` removes its temporary file.
  if (!copyContents(in, out, copyBuffer_, keepGoing, source)) return false;
  out.setModificationTime(secondsOf(info.ftLastWriteTime));
  out.commit();
  return true;
}

std::vector<FileEntry> WindowsFileSystem::folderFiles(const std::string& path) {
  FolderListing folder(path);
  std::vector<FileEntry> files;
  while (const WIN32_FIND_DATAW* entry = folder.next()) {
    const EntryFacts facts = factsOfEntry(folder, *entry);
    if (facts.kind == Kind::kFile) files.push_back({utf8Text(entry->cFileName), facts.size});
  }
  return files;
}

std::vector<FileEntry> WindowsFileSystem::treeFiles(const std::string& path) {
  std::vector<FileEntry> files;
  appendTreeFiles(path, "", files);
  return files;
}

std::uint64_t WindowsFileSystem::folderSize(const std::string& path) {
  return sizeOfContents(path);
}

void WindowsFileSystem::flushToDisk(const std::string& path) {
  flushTree(path);
}

// The free space of the whole volume, not the part the user's quota leaves.
DriveInfo WindowsFileSystem::getDrive(const std::string& path) {
  const std::wstring wide = wideName(path);
  std::wstring volume(wide.size() + MAX_PATH, L'\0');
  if (!::GetVolumePathNameW(wide.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    throw driveError(path);
  }
  volume.resize(std::wcslen(volume.c_str()));
  ULARGE_INTEGER available;
  ULARGE_INTEGER total;
  ULARGE_INTEGER free;
  if (!::GetDiskFreeSpaceExW(volume.c_str(), &available, &total, &free)) throw driveError(path);
  // A share may not say; it counts as writable then, and a write will tell.
  DWORD flags = 0;
  const bool known = ::GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr, &flags,
                                             nullptr, 0) != 0;
  return DriveInfo{driveNameOf(fullPathOf(wide)), free.QuadPart,
                   known && (flags & FILE_READ_ONLY_VOLUME) != 0};
}

FolderContents WindowsFileSystem::readFolder(const std::string& path) {
  const auto own = factsOfHandle(openFollowing(wideName(path)));
  if (!own) throw lastWindowsError("Cannot read folder", path, true);
  FolderContents contents;
  contents.device = own->dwVolumeSerialNumber;
  contents.inode = sizeOf(own->nFileIndexHigh, own->nFileIndexLow);
  FolderListing folder(path);
  while (const WIN32_FIND_DATAW* entry = folder.next()) {
    std::string name = utf8Text(entry->cFileName);
    switch (factsOfEntry(folder, *entry).kind) {
      case Kind::kFile:
        contents.files.push_back(std::move(name));
        break;
      case Kind::kFolder:
        contents.folders.push_back(std::move(name));
        break;
      case Kind::kFolderLink:
        contents.folderLinks.push_back(std::move(name));
        break;
      case Kind::kNothing:
        break;
    }
  }
  return contents;
}

std::optional<FileFacts> WindowsFileSystem::fileFacts(const std::string& path) {
  const auto facts = followedFacts(path);
  if (!facts || isDirectory(facts->dwFileAttributes)) return std::nullopt;
  return fileFactsOf(*facts);
}

// Each step is opened as itself, never as what a link there points to, and stays open until
// the file's facts are read: while it is open, no step can be renamed or replaced by a link.
std::optional<FileFacts> WindowsFileSystem::ownFileFacts(const std::string& folder,
                                                         const std::string& relativePath) {
  std::vector<Handle> steps;
  std::string path = folder;
  std::optional<BY_HANDLE_FILE_INFORMATION> facts;
  for (const std::string& step : stepsOf(relativePath)) {
    if (step.empty() || step == "." || step == "..") return std::nullopt;
    if (facts && !isDirectory(facts->dwFileAttributes)) return std::nullopt;
    path = joinPath(path, step);
    steps.push_back(openPinned(wideName(path)));
    facts = factsOfHandle(steps.back());
    if (!facts || isReparsePoint(facts->dwFileAttributes)) return std::nullopt;
  }
  if (isDirectory(facts->dwFileAttributes)) return std::nullopt;
  return fileFactsOf(*facts);
}

bool WindowsFileSystem::linkFile(const std::string& existing, const std::string& newPath) {
  return ::CreateHardLinkW(wideName(newPath).c_str(), wideName(existing).c_str(), nullptr) != 0;
}

std::unique_ptr<FileSystem> makeHostFileSystem() {
  return std::make_unique<WindowsFileSystem>();
}

}  // namespace quillfen
