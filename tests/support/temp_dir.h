#pragma once

#include <filesystem>
#include <string>

namespace quillfen::test {

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// entries included) when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Writes `content` to `relative` (creating parent folders) and returns the full path.
  std::filesystem::path write(const std::string& relative, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

}  // namespace quillfen::test
