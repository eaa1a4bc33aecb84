#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillfen::test {

// The path of a name in UTF-8 and the reverse, on both systems: on Windows a narrow string is
// read in the C library's code page, not UTF-8.
inline std::filesystem::path utf8Path(const std::string& utf8) {
  return std::u8string(utf8.begin(), utf8.end());
}
inline std::string utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return {name.begin(), name.end()};
}

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// entries included) when the object goes.
class TempDir {
 public:
  // Readable and writable by its owner only.
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate =
          fs::temp_directory_path() / ("quillfen-test-" + std::to_string(random()));
      if (fs::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder could be made");
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
  }
  // Read-only folders would stop remove_all: the owner gets write access back first.
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::recursive_directory_iterator it(path_, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes `content` to `relative` (creating parent folders) and returns the full path.
  std::filesystem::path write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file = path_ / utf8Path(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }

 private:
  std::filesystem::path path_;
};

// Sets the time a file was last changed, in seconds since 1970.
inline void setModified(const std::filesystem::path& file, std::time_t seconds) {
  std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::from_sys(
                                             std::chrono::system_clock::from_time_t(seconds)));
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace quillfen::test
