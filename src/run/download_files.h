#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/name_list.h"

namespace quillfen {

class FileSystem;
class Inet;
struct BackupSettings;
struct RunModule;
struct Services;

// The fetch stage: fills today's folder from the network path when one is set, otherwise from
// the FTP directory, advancing the progress bar and checking the cancel flag before each file.
void DownloadFiles(RunModule& run, Services& services, Inet& transfer,
                   const std::string& todaysFolder);

// A source that was read and holds no file is not a backup (an unmounted share leaves an empty
// mount point): the report says so and the backup counts as incomplete, so that nothing is
// pruned for it.
inline constexpr const char* kEmptySourceLine = "Source is empty: nothing was backed up.\n";

// What a walk of the source found: the files to fetch and the folders to create, by their paths
// relative to the source folder, and the report lines of what it left out or could not list.
struct SourceTree {
  NameList files;
  std::vector<std::string> folders;  // parents before their subfolders
  std::string problemLines;
  bool incomplete = false;
  int failures = 0;  // folders that could not be listed
};

// A listing without a run has no today's folder: one of the dated folder's length stands in,
// after DestinationFolder.
inline constexpr const char* kDatedFolderStandIn = "/yyyymmdd/";

// Whether a copy of `relativePath` can be made below `copyFolder` (which ends in "/"): each of
// its names within the file system's limit for a name, and the whole path within the limit for
// a path with room to spare for the temporary file a copy is written to first. A folder or file
// beyond them is left out of the walk rather than ending the run when made: `tree` reports it
// ("Skipped folder path too long: path", or "file") and counts as incomplete.
bool fitsInCopyFolder(SourceTree& tree, const std::string& copyFolder,
                      const std::string& relativePath, bool folder);

// Logs in to the FTP source of `settings` and lists it as the fetch stage does, fetching
// nothing: `fileList` gets the names a run would fetch. Nothing when the listing worked, the
// server's reply otherwise.
std::optional<std::string> ListFtpSource(const BackupSettings& settings, Inet& transfer,
                                         std::vector<std::string>& fileList);

// Walks the local source of `settings` (NetworkPath) as the fetch stage does, fetching nothing:
// the files a run would copy, with IncludeSubfolders those of the whole tree. Throws Error when
// the source folder itself cannot be read.
SourceTree ListNetworkSource(const BackupSettings& settings, FileSystem& fileSystem);

// What the fetch stage would do with the source of `settings`, doing none of it: the walk (the
// files it would fetch, the report lines of what it leaves out) and which of those files it
// would link from `previousBackup` (empty: none) instead of fetching them.
struct FetchPlan {
  SourceTree tree;
  std::vector<bool> linked;                   // one per file of tree.files
  std::optional<std::string> listingFailure;  // FTP: the reply of a failed listing
};
FetchPlan PlanNetworkFetch(const BackupSettings& settings, FileSystem& fileSystem,
                           const std::string& previousBackup);
FetchPlan PlanFtpFetch(const BackupSettings& settings, Inet& transfer, FileSystem& fileSystem,
                       const std::string& previousBackup);

// The two branches of the fetch stage.
void DownloadFromNetworkPath(RunModule& run, Services& services, const std::string& todaysFolder);
void DownloadFromFtp(RunModule& run, Services& services, Inet& transfer,
                     const std::string& todaysFolder);

}  // namespace quillfen
