#pragma once

#include <memory>

#include "transfer/transfer_control.h"
#include "transfer/transfer_timeouts.h"

namespace quillfen {

class CurlConnection;
class EventPump;

// The transfer control over libcurl: each request goes over the control's connection to the
// server and login its settings name (CurlConnection), opened at the first request and kept
// for the next ones, so that a listing and all downloads after it share one control connection
// or SFTP session. Another server or login gets a connection of its own in its place. State
// changes are posted into `events`, and StillExecuting reads true until they have run.
class CurlTransferControl final : public TransferControl {
 public:
  explicit CurlTransferControl(EventPump& events, TransferTimeouts timeouts = {});
  ~CurlTransferControl() override;
  CurlTransferControl(const CurlTransferControl&) = delete;
  CurlTransferControl& operator=(const CurlTransferControl&) = delete;

  void Execute(const std::string& URL, const FtpOperation& operation) override;
  void Cancel() override;
  const std::vector<RemoteEntry>& Listing() override;
  // FTP: one MDTM on the control connection, in the file's folder: no data connection, no
  // RETR. SFTP: the file's attributes.
  std::optional<std::time_t> ExactModifiedTime(const std::string& URL,
                                               const std::string& remote) override;

  // Reports only; the request advances with the event loop.
  bool StillExecuting() override;
  RequestOutcome Outcome() override;
  std::int32_t ResponseCode() override;
  std::string ResponseInfo() override;

  void SubscribeStateChanged(StateListener listener) override;

 private:
  // Posted notifications hold this weakly: they come to nothing once the control is gone.
  struct Subscription {
    StateListener listener;
    int undelivered = 0;  // notifications posted and not yet run
  };

  void start(const std::string& URL, const FtpOperation& operation);
  void post(std::int16_t stateNumber);

  EventPump& events_;
  const TransferTimeouts timeouts_;
  std::shared_ptr<Subscription> subscription_ = std::make_shared<Subscription>();
  std::unique_ptr<CurlConnection> connection_;
};

}  // namespace quillfen
