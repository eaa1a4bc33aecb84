#include "transfer/curl_transfer_control.h"

#include <chrono>

#include "common/error.h"
#include "process/event_pump.h"
#include "transfer/curl_connection.h"

namespace quillfen {

namespace {

// How long a wait for a request of the control's own may wait on events before it looks again.
constexpr std::chrono::milliseconds kLongestWait{250};

const std::vector<RemoteEntry> kNoEntries;

}  // namespace

CurlTransferControl::CurlTransferControl(EventPump& events, TransferTimeouts timeouts)
    : events_(events), timeouts_(timeouts) {}

CurlTransferControl::~CurlTransferControl() = default;

void CurlTransferControl::Execute(const std::string& URL, const FtpOperation& operation) {
  start(URL, operation);
}

// A connection to another server or for another login replaces the one before; a busy one
// refuses the request.
void CurlTransferControl::start(const std::string& URL, const FtpOperation& operation) {
  if (StillExecuting()) throw Error(errc::kTransferBusy, "Still executing the last request");
  const TransferSettings& settings = Settings();
  FtpAddress address = URL.empty() ? settings.address : parseFtpAddress(URL);
  if (address.host.empty()) throw Error(errc::kTransferBadUrl, "No FTP address is set");
  const ConnectionLogin login{settings.userName, settings.password, settings.keyFile,
                              settings.trust};
  if (!connection_ || !connection_->serves(address, login)) {
    connection_.reset();
    connection_ = CurlConnection::open(address, login, events_, timeouts_,
                                       [this](std::int16_t state) { post(state); });
  }
  connection_->start(std::move(address), operation, settings.requestTimeout);
}

const std::vector<RemoteEntry>& CurlTransferControl::Listing() {
  return connection_ ? connection_->listing() : kNoEntries;
}

std::optional<std::time_t> CurlTransferControl::ExactModifiedTime(const std::string& URL,
                                                                  const std::string& remote) {
  FtpOperation operation;
  operation.kind = FtpOperation::Kind::ModifiedTime;
  operation.remote = remote;
  start(URL, operation);
  // The request's last notifications belong to it, not to whatever request comes next.
  while (StillExecuting()) events_.processEventsWaiting(kLongestWait);
  if (connection_->outcome() != RequestOutcome::Completed) return std::nullopt;
  return connection_->exactTime();
}

void CurlTransferControl::Cancel() {
  if (connection_) connection_->cancel();
}

bool CurlTransferControl::StillExecuting() {
  return (connection_ && connection_->busy()) || subscription_->undelivered > 0;
}

RequestOutcome CurlTransferControl::Outcome() {
  return connection_ ? connection_->outcome() : RequestOutcome::None;
}

std::int32_t CurlTransferControl::ResponseCode() {
  return connection_ ? connection_->responseCode() : 0;
}

std::string CurlTransferControl::ResponseInfo() {
  return connection_ ? connection_->responseInfo() : std::string();
}

void CurlTransferControl::SubscribeStateChanged(StateListener listener) {
  subscription_->listener = std::move(listener);
}

void CurlTransferControl::post(std::int16_t stateNumber) {
  ++subscription_->undelivered;
  std::weak_ptr<Subscription> target = subscription_;
  events_.post([target, stateNumber] {
    const auto subscriber = target.lock();
    if (!subscriber) return;
    --subscriber->undelivered;
    if (subscriber->listener) subscriber->listener(stateNumber);
  });
}

}  // namespace quillfen
