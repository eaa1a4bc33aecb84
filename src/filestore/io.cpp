#include "filestore/io.h"

#include "filestore/file_system.h"

namespace quillfen {

IO::IO(std::unique_ptr<FileSystem> fileSystem, const BackupSettings& settings,
       std::string& activityReport, const Clock& clock, const LocaleFormat& format)
    : fso_(std::move(fileSystem)),
      settings_(settings),
      activityReport_(activityReport),
      clock_(clock),
      format_(format) {}

IO::~IO() = default;

bool IO::FolderExists(const std::string& FolderPath) { return fso_->folderExists(FolderPath); }
bool IO::FileExists(const std::string& FilePath) { return fso_->fileExists(FilePath); }

void IO::MakeFolder(const std::string& FolderPath) {
  if (!FolderExists(FolderPath)) fso_->createFolder(FolderPath);
}

void IO::DeleteFile(const std::string& FilePath) {
  if (FileExists(FilePath)) fso_->deleteFile(FilePath, true);
}

void IO::DeleteFolder(const std::string& FolderPath) {
  if (FolderExists(FolderPath)) fso_->deleteFolder(FolderPath, true);
}

// The inventory and pruning arrive with the file store's next step.
void IO::ReadFolderInfo(const std::string&, std::string&) {}
void IO::DeleteOldBackups(const Date&, const std::string&, bool) {}

}  // namespace quillfen
