#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "transfer/transfer_control.h"

namespace quillfen {

class EventPump;

// How long a request may wait on a server, and how much a listing may hold, before it ends in
// error. No total limit applies unless RequestTimeout is set.
struct TransferTimeouts {
  std::chrono::seconds connect{30};  // to connect to the server
  std::chrono::seconds reply{60};    // for any reply of the server
  std::chrono::seconds stall{60};    // for a data transfer that makes no progress
  std::size_t stallBytes = 1024;     // fewer bytes than this in `stall` are no progress
  std::size_t largestListing = std::size_t{256} << 20;  // more ends it as "listing too large"
};

// The transfer control over libcurl's multi interface. One easy handle serves every request of
// the control's lifetime, so a listing and all downloads after it share one control connection
// (passive mode, EPSV before PASV). Its sockets and timer are watched through `events`, so a
// request advances whenever the front end processes events (a modal box's loop too), and state
// changes are posted into `events`. Cancel stops a running request at once.
//
// "DIR" lists with MLSD, or with LIST when the server does not know MLSD. "GET" streams the
// file into a temporary file beside the local path and renames it when the transfer completed:
// a failed transfer leaves nothing behind and an existing file untouched.
class CurlTransferControl final : public TransferControl {
 public:
  explicit CurlTransferControl(EventPump& events, TransferTimeouts timeouts = {});
  ~CurlTransferControl() override;
  CurlTransferControl(const CurlTransferControl&) = delete;
  CurlTransferControl& operator=(const CurlTransferControl&) = delete;

  TransferData OpenURL(const std::string& URL, std::int16_t datatype) override;
  void Execute(const std::string& URL, const ExecuteArguments& arguments) override;
  // FTP has no headers: always empty text.
  std::string GetHeader(const std::optional<std::string>& headername) override;
  TransferData GetChunk(std::int32_t size, std::int32_t datatype) override;
  void Cancel() override;
  std::optional<RemoteEntry> ListedFile(const std::string& URL, const std::string& remote) override;
  void TakeListedFile(const std::string& URL, const std::string& remote,
                      const RemoteEntry& entry) override;
  // One MDTM on the control connection, in the file's folder: no data connection, no RETR.
  std::optional<std::time_t> ExactModifiedTime(const std::string& URL,
                                               const std::string& remote) override;

  // Reports only; the request advances with the event loop.
  bool StillExecuting() override;
  RequestOutcome Outcome() override;
  // The last FTP reply of the request and its text; for a failure without an FTP reply, the
  // libcurl error number and its description.
  std::int32_t ResponseCode() override;
  std::string ResponseInfo() override;

  std::int32_t AccessType() override;
  void AccessType(std::int32_t vData) override;
  std::int32_t Protocol() override;
  void Protocol(std::int32_t vData) override;
  std::int16_t RemotePort() override;
  void RemotePort(std::int16_t vData) override;
  std::int32_t RequestTimeout() override;
  void RequestTimeout(std::int32_t vData) override;
  std::string URL() override;
  void URL(const std::string& vData) override;
  std::string UserName() override;
  void UserName(const std::string& vData) override;
  std::string Password() override;
  void Password(const std::string& vData) override;
  std::string RemoteHost() override;
  void RemoteHost(const std::string& vData) override;
  std::string Proxy() override;
  void Proxy(const std::string& vData) override;
  // There is no internet handle of the platform's kind here: always 0.
  std::int32_t hInternet() override;
  std::string Document() override;
  void Document(const std::string& vData) override;
  std::string KeyFile() override;
  void KeyFile(const std::string& vData) override;
  std::string Trust() override;
  void Trust(const std::string& vData) override;

  void SubscribeStateChanged(StateListener listener) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillfen
