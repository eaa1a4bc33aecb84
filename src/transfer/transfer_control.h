#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "transfer/ftp_listing.h"

namespace quillfen {

// What OpenURL and GetChunk hand back: text for datatype 0, bytes for datatype 1.
using TransferData = std::variant<std::string, std::vector<unsigned char>>;

// The optional arguments of Execute after the URL, in their order (Operation, Data,
// requestHeaders). An argument left out at the end is simply absent from the list; one left
// out before a given one is std::nullopt, the control's marker for an omitted argument.
using ExecuteArguments = std::vector<std::optional<std::string>>;

// How the last request ended, for the callers that act on it (the state log is for reading).
enum class RequestOutcome {
  None,       // no request has ended yet
  Completed,  // the server confirmed the request and all its data arrived
  Failed,     // ResponseCode and ResponseInfo say why
  Cancelled,  // Cancel stopped it; nothing of it was kept
};

// The state numbers of StateChanged.
namespace transfer_state {
inline constexpr std::int16_t kNone = 0;
inline constexpr std::int16_t kResolvingHost = 1;
inline constexpr std::int16_t kHostResolved = 2;
inline constexpr std::int16_t kConnecting = 3;
inline constexpr std::int16_t kConnected = 4;
inline constexpr std::int16_t kRequesting = 5;
inline constexpr std::int16_t kRequestSent = 6;
inline constexpr std::int16_t kReceivingResponse = 7;
inline constexpr std::int16_t kResponseReceived = 8;
inline constexpr std::int16_t kDisconnecting = 9;
inline constexpr std::int16_t kDisconnected = 10;
inline constexpr std::int16_t kError = 11;
inline constexpr std::int16_t kResponseCompleted = 12;
}  // namespace transfer_state

// The internet transfer control Inet1: an asynchronous FTP client. Execute starts a request
// and returns at once; the request advances while the front end processes its events, which
// is also when StateChanged notifications reach the listener.
// Failures to start a request are thrown as quillfen::Error; a request that fails later ends
// in the state kError with ResponseCode and ResponseInfo describing why.
class TransferControl {
 public:
  using StateListener = std::function<void(std::int16_t state)>;

  virtual ~TransferControl() = default;

  // Operations.
  virtual TransferData OpenURL(const std::string& URL, std::int16_t datatype) = 0;
  virtual void Execute(const std::string& URL, const ExecuteArguments& arguments) = 0;
  virtual std::string GetHeader(const std::optional<std::string>& headername) = 0;
  virtual TransferData GetChunk(std::int32_t size, std::int32_t datatype) = 0;
  virtual void Cancel() = 0;

  // The facts the listings so far gave about the file `remote`, a path below the folder of
  // `URL` as GET names it; nothing when no listing named it.
  virtual std::optional<RemoteEntry> ListedFile(const std::string& URL,
                                                const std::string& remote) = 0;
  // Takes the facts another control's listing gave about `remote` as if a listing of its own
  // had given them, so that a control that did not list the folder checks and dates a download
  // of the file as the one that did.
  virtual void TakeListedFile(const std::string& URL, const std::string& remote,
                              const RemoteEntry& entry) = 0;
  // Asks the server for the modification time of `remote` to the second without fetching the
  // file, and waits for the answer; the listed facts of the file then carry that time, so that
  // a later GET dates the file with it. Nothing when the server gives no time.
  virtual std::optional<std::time_t> ExactModifiedTime(const std::string& URL,
                                                       const std::string& remote) = 0;

  // Live status.
  virtual bool StillExecuting() = 0;
  virtual RequestOutcome Outcome() = 0;
  virtual std::int32_t ResponseCode() = 0;
  virtual std::string ResponseInfo() = 0;

  // Properties.
  virtual std::int32_t AccessType() = 0;
  virtual void AccessType(std::int32_t vData) = 0;
  virtual std::int32_t Protocol() = 0;
  virtual void Protocol(std::int32_t vData) = 0;
  virtual std::int16_t RemotePort() = 0;
  virtual void RemotePort(std::int16_t vData) = 0;
  virtual std::int32_t RequestTimeout() = 0;
  virtual void RequestTimeout(std::int32_t vData) = 0;
  virtual std::string URL() = 0;
  virtual void URL(const std::string& vData) = 0;
  virtual std::string UserName() = 0;
  virtual void UserName(const std::string& vData) = 0;
  virtual std::string Password() = 0;
  virtual void Password(const std::string& vData) = 0;
  virtual std::string RemoteHost() = 0;
  virtual void RemoteHost(const std::string& vData) = 0;
  virtual std::string Proxy() = 0;
  virtual void Proxy(const std::string& vData) = 0;
  virtual std::int32_t hInternet() = 0;
  virtual std::string Document() = 0;
  virtual void Document(const std::string& vData) = 0;
  // The secure sources' settings: the SFTP private key file (Password is then its passphrase)
  // and which certificates or host keys to trust (empty: the system's).
  virtual std::string KeyFile() = 0;
  virtual void KeyFile(const std::string& vData) = 0;
  virtual std::string Trust() = 0;
  virtual void Trust(const std::string& vData) = 0;

  // The one subscriber of StateChanged; an empty listener ends the subscription.
  virtual void SubscribeStateChanged(StateListener listener) = 0;
};

}  // namespace quillfen
