#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillfen {

// The one table of error numbers. Every failure of a run travels as an Error carrying one of
// these numbers and a description; the top of Main reports it once. The numbers follow the
// classic runtime error numbers users of such tools know; the transfer and mail ranges are
// this program's own.
namespace errc {
inline constexpr int kInvalidArgument = 5;       // invalid procedure call or argument
inline constexpr int kOverflow = 6;              // a number does not fit its type
inline constexpr int kOutOfMemory = 7;           // std::bad_alloc reached the top of the run
inline constexpr int kTypeMismatch = 13;         // a setting is not a number
inline constexpr int kBadFileName = 52;          // a path that cannot name a file
inline constexpr int kFileNotFound = 53;         // ENOENT on a file
inline constexpr int kDeviceIo = 57;             // EIO and other device failures
inline constexpr int kFileExists = 58;           // EEXIST where replacing is not allowed
inline constexpr int kDiskFull = 61;             // ENOSPC, EDQUOT, EFBIG
inline constexpr int kPermissionDenied = 70;     // EACCES, EPERM, EROFS
inline constexpr int kDeviceUnavailable = 68;    // the file system of a path cannot be found
inline constexpr int kPathFileAccess = 75;       // any other file system failure
inline constexpr int kPathNotFound = 76;         // ENOENT / ENOTDIR on a folder path
inline constexpr int kObjectNotSet = 91;         // a component that was never created
inline constexpr int kDestinationInUse = 37000;  // another run holds DestinationFolder
inline constexpr int kHookFailed = 37010;        // RunBefore failed or outlasted HookTimeout
// 35750-35799: transfer control (FTP) errors.
inline constexpr int kTransferFirst = 35750;
inline constexpr int kTransferLast = 35799;
// 35750: libcurl cannot start. 35751-35754 are raised by Execute before a request
// starts; a request that fails later ends in the state icError instead.
inline constexpr int kTransferBadOperation = 35751;  // an operation that is not DIR or GET, or
                                                     // a GET whose names cannot be told apart
inline constexpr int kTransferBadUrl = 35752;        // no address, an unknown scheme, a bad port
inline constexpr int kTransferBusy = 35753;          // a request is still executing
inline constexpr int kTransferInternal = 35754;      // libcurl refused a setting of the request
// 36000-36999: mail component errors; 36000 + the SMTP reply code when the server
// replied, 36001-36099 for transport failures without a reply.
inline constexpr int kMailFirst = 36000;
inline constexpr int kMailLast = 36999;
// The transport codes. They are also the mail component's result value for such a failure;
// after a refusal by the server the result value is the bare reply code (e.g. 550).
inline constexpr int kMailNoRecipient = 36001;     // result value only: a blank recipient,
                                                   // nothing sent, never raised
inline constexpr int kMailCannotConnect = 36002;   // connection refused or host unreachable
inline constexpr int kMailHostNotFound = 36003;    // the server name does not resolve
inline constexpr int kMailTimedOut = 36004;        // no connection in 30 s or no reply in 60 s
inline constexpr int kMailConnectionLost = 36005;  // connection closed or a reply that is not
                                                   // SMTP
inline constexpr int kMailBadServer = 36006;       // MailServer or MailPort names no server
inline constexpr int kMailUntrusted = 36007;       // the server's certificate is not trusted
inline constexpr int kMailNoStartTls = 36008;      // STARTTLS required but not offered
inline constexpr int kMailTlsFailed = 36009;       // the TLS handshake failed
inline constexpr int kMailLoginRefused = 36010;    // the login failed without a reply code
                                                   // (a refusal with one is 36000 + the code)
inline constexpr int kMailTransportOther = 36099;  // any other failure of the mail transport
}  // namespace errc

class Error : public std::runtime_error {
 public:
  Error(int number, std::string description, int systemError = 0);

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  // The errno value the error came from (EROFS, for one, calls for its own advice); 0 when none.
  int systemError() const noexcept { return systemError_; }

 private:
  int number_;
  std::string description_;
  int systemError_;
};

// Maps an errno value from an operation on `path` to the table above, naming the path (shown as
// shownName shows it) and the system's own wording in the description. `isFolder` picks "Path not
// found" over "File not found" for ENOENT.
Error errorFromErrno(int errnoValue, std::string_view what, std::string_view path,
                     bool isFolder = false);

}  // namespace quillfen
