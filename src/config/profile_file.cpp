#include "config/profile_file.h"

#include <filesystem>

#include "common/error.h"
#include "common/posix_file.h"
#include "config/profile_text.h"

namespace quillfen {

namespace {

constexpr std::string_view kCannotRead = "Cannot read the configuration file";
constexpr std::string_view kCannotWrite = "Cannot write the configuration file";

// More than any settings file needs; a larger one is not a settings file.
constexpr std::size_t kMaxProfileOctets = 1024 * 1024;

Error tooLarge(const std::string& path, std::string_view what) {
  return Error(errc::kPathFileAccess,
               std::string(what) + " '" + path + "': larger than 1 MiB, not a settings file");
}

std::optional<std::string> readWholeFile(const std::string& path, std::string_view what) {
  std::optional<std::string> text = readRegularFile(path, kMaxProfileOctets, what);
  if (text && text->size() > kMaxProfileOctets) throw tooLarge(path, what);
  return text;
}

// Deeper chains than this are loops; the system gives up at the same depth.
constexpr int kMaxLinkHops = 40;

// A link named Config.ini stays a link: the file it points to is the one written, also when that
// file does not exist yet. The installed program's Config.ini is such a link into /etc/quillfen,
// and the first start must write the template there, not in the link's place.
std::string linkTarget(const std::string& path) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) break;  // not a link: this is the file
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return current.string();
}

}  // namespace

std::optional<std::string> readProfileFile(const std::string& path) {
  return readWholeFile(path, kCannotRead);
}

void storeProfileValue(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view value) {
  const std::optional<std::string> old = readWholeFile(path, kCannotWrite);
  const std::string text = withProfileValue(old.value_or(""), section, key, value);
  const std::string target = linkTarget(path);

  PendingFile temp(target,
                   {.create = kCannotWrite, .write = kCannotWrite, .replace = kCannotWrite});
  if (old) temp.keepPermissionsOf(target);  // the rewritten file keeps them
  temp.write(text);
  temp.flushToDisk();
  // A file that did not exist is never put in the place of one that appeared meanwhile (a
  // directory, a link, or a file the user just saved).
  if (old) {
    temp.commit();
  } else {
    temp.commitWithoutReplacing();
  }
}

}  // namespace quillfen
