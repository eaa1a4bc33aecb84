#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/server_trust.h"
#include "common/transfer_scheme.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"

namespace quillfen {

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

// What a control connects with: the source's address (a path below the login folder, its
// scheme and server), who logs in, and whom it trusts, each as read when the settings loaded.
struct TransferSettings {
  FtpAddress address;
  std::string userName, password;
  std::string keyFile;  // SFTP: the private key file; the password is then its passphrase
  ServerTrust trust;    // the certificates or host keys to trust
  std::int32_t requestTimeout = 0;  // seconds a whole request may take; 0: no bound
};

// The internet transfer control Inet1: an asynchronous FTP client. Execute starts a request
// and returns at once; the request advances while the front end processes its events, which
// is also when StateChanged notifications reach the listener.
// Failures to start a request are thrown as quillfen::Error; a request that fails later ends
// in the state kError with ResponseCode and ResponseInfo describing why.
class TransferControl {
 public:
  using StateListener = std::function<void(std::int16_t state)>;

  virtual ~TransferControl() = default;

  // Starts `operation` below the folder of `URL` (the settings' address when empty).
  virtual void Execute(const std::string& URL, const FtpOperation& operation) = 0;
  virtual void Cancel() = 0;
  // The entries of the last request's listing; none when it was no listing or failed.
  virtual const std::vector<RemoteEntry>& Listing() = 0;
  // Asks the server for the modification time of `remote` to the second without fetching the
  // file, and waits for the answer. Nothing when the server gives no time.
  virtual std::optional<std::time_t> ExactModifiedTime(const std::string& URL,
                                                       const std::string& remote) = 0;

  // Live status.
  virtual bool StillExecuting() = 0;
  virtual RequestOutcome Outcome() = 0;
  virtual std::int32_t ResponseCode() = 0;
  virtual std::string ResponseInfo() = 0;

  // The one subscriber of StateChanged; an empty listener ends the subscription.
  virtual void SubscribeStateChanged(StateListener listener) = 0;

  // Read at each request.
  TransferSettings& Settings() { return settings_; }

 private:
  TransferSettings settings_;
};

}  // namespace quillfen
