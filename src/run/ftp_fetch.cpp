#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/locale_format.h"
#include "process/splash_window.h"
#include "run/download_files.h"
#include "run/run_module.h"
#include "run/services.h"
#include "transfer/inet.h"

namespace quillfen {

namespace {

constexpr std::int32_t kListingPiece = 256;
constexpr std::int32_t kText = 0;
constexpr char kQuote = '"';
// Longer remote names are not fetched: no file system of a destination takes them.
constexpr std::size_t kLongestRemoteName = 1024;

std::string readListing(Inet& transfer) {
  std::string listing;
  for (;;) {
    const TransferData piece = transfer.GetChunk(kListingPiece, kText);
    const auto* text = std::get_if<std::string>(&piece);
    if (text == nullptr || text->empty()) return listing;
    listing += *text;
  }
}

// One entry per line; lines end at CR and line feeds are ignored. Empty lines name nothing.
std::vector<std::string> listingEntries(const std::string& listing) {
  std::vector<std::string> entries;
  std::string entry;
  for (char c : listing) {
    if (c == '\n') continue;
    if (c != '\r') {
      entry += c;
      continue;
    }
    if (!entry.empty()) entries.push_back(std::move(entry));
    entry.clear();
  }
  if (!entry.empty()) entries.push_back(std::move(entry));
  return entries;
}

// A remote name becomes a file name in today's folder: a name that could lead out of it, that
// hides characters a reader of the report cannot see (the control hands out a CR, LF or NUL
// of a name as one) or that is too long for a file name is not fetched.
bool isSafeLocalName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kLongestRemoteName) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '/' || c == '\\' || isControlCharacter(c); });
}

std::string shownInReport(std::string name) {
  std::replace_if(name.begin(), name.end(), isControlCharacter, '?');
  return name;
}

// Fills `fileList` with the names to fetch, in listing order; folders (a final "/") are left
// out silently, unsafe names with a report line each.
std::string selectFiles(const std::string& listing, std::vector<std::string>& fileList) {
  fileList.clear();
  std::string skippedLines;
  for (std::string& entry : listingEntries(listing)) {
    if (entry.back() == '/') continue;
    if (!isSafeLocalName(entry)) {
      skippedLines += "Skipped unsafe remote name: " + shownInReport(entry) + "\n";
      continue;
    }
    fileList.push_back(std::move(entry));
  }
  return skippedLines;
}

bool endedInError(Inet& transfer) {
  return transfer.Outcome() != RequestOutcome::Completed;
}

// While it lives, the user's Cancel stops the transfer under way at once instead of after it.
class CancelStopsTransfer {
 public:
  CancelStopsTransfer(CancelFlag& flag, Inet& transfer) : flag_(flag) {
    flag_.onSet([&transfer] { transfer.Cancel(); });
  }
  ~CancelStopsTransfer() { flag_.onSet(nullptr); }
  CancelStopsTransfer(const CancelStopsTransfer&) = delete;
  CancelStopsTransfer& operator=(const CancelStopsTransfer&) = delete;

 private:
  CancelFlag& flag_;
};

std::string getCommand(const std::string& name, const std::string& todaysFolder) {
  return "GET " + (kQuote + name + kQuote) + " " + (kQuote + todaysFolder + "/" + name + kQuote);
}

void openFtpSource(const BackupSettings& settings, Inet& transfer) {
  transfer.URL(settings.FtpIPAddress);
  transfer.UserName(settings.FtpUserName);
  transfer.Password(settings.FtpPassword);
  transfer.KeyFile(settings.FtpKeyFile);
  transfer.Trust(settings.FtpTrust);
}

}  // namespace

std::optional<std::string> ListFtpSource(const BackupSettings& settings, Inet& transfer,
                                         std::vector<std::string>& fileList) {
  openFtpSource(settings, transfer);
  transfer.Execute(transfer.URL(), "DIR");
  if (endedInError(transfer)) return transfer.ResponseInfo();
  selectFiles(readListing(transfer), fileList);
  return std::nullopt;
}

void DownloadFromFtp(RunModule& run, Services& services, Inet& transfer,
                     const std::string& todaysFolder) {
  openFtpSource(run.Settings, transfer);

  const CancelStopsTransfer cancelStops(services.cancel, transfer);
  transfer.Execute(transfer.URL(), "DIR");
  const bool listingFailed = endedInError(transfer);
  const std::string listingFailure = listingFailed ? transfer.ResponseInfo() : std::string();
  const std::string skippedLines = selectFiles(readListing(transfer), run.FileList);

  run.ActivityReport = "QUILLFEN BACKUP ACTIVITY - " +
                       services.format.generalDateTime(services.clock.now()) + "\n\n";
  run.ActivityReport += "Downloading " + std::to_string(run.FileList.size()) + " files...\n\n";
  if (listingFailed) {
    run.ActivityReport += "Listing failed: " + listingFailure + "\n";
    run.TodaysBackupIncomplete = true;
    ++run.Tally.failures;
  } else if (run.FileList.empty()) {
    run.ActivityReport += kEmptySourceLine;
    run.TodaysBackupIncomplete = true;
  }
  run.ActivityReport += skippedLines;

  SplashWindow& window = services.frmSplash;
  window.setProgressMax(static_cast<float>(std::max<std::size_t>(run.FileList.size(), 1)));
  for (std::size_t i = 0; i < run.FileList.size(); ++i) {
    if (services.cancel.isSet()) return;
    const std::string& name = run.FileList[i];
    transfer.Execute(transfer.URL(), getCommand(name, todaysFolder));
    if (services.cancel.isSet()) return;
    if (endedInError(transfer)) {
      run.ActivityReport += "Failed to download: " + name + " (" + transfer.ResponseInfo() + ")\n";
      run.TodaysBackupIncomplete = true;
      ++run.Tally.failures;
    }
    window.setProgressValue(static_cast<float>(i + 1));
    services.events.processEvents();
  }
}

}  // namespace quillfen
