#include "transfer/curl_connection.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/error.h"
#include "curl/curl_global.h"
#include "curl/curl_socket.h"
#include "process/event_pump.h"
#include "transfer/partial_file.h"

namespace quillfen {

namespace {

namespace state = transfer_state;

// libcurl's sockets and timer are watched by the front end's event loop, so a transfer moves on
// whatever loop runs. After every pass the connection asks libcurl which sockets it waits on.
// That matters: when the reply to EPSV or PASV arrives in the same pass that sent the command,
// libcurl (7.88) goes on to open the data connection only at its next call, yet leaves no
// socket to wait for, only its long time limits. A client that waits until libcurl wakes it
// then loses its whole poll period on every such file (the curl tool: up to a second). That
// state is recognisable, so the connection then drives libcurl again at once, a few times in a
// row, and after that every few milliseconds, so that it can never spin a core.
constexpr std::chrono::milliseconds kRetryWhileWaitingOnNothing{5};
constexpr int kMostImmediateRetries = 3;
// libcurl's receive buffer: large pieces mean few calls and few writes per file.
constexpr long kReceiveBuffer = 1L << 20;

// The final line of a reply: three digits and a blank (or nothing) after them.
std::optional<long> finalReplyCode(std::string_view line) {
  if (line.size() < 3 || (line.size() > 3 && line[3] != ' ')) return std::nullopt;
  long code = 0;
  for (char c : line.substr(0, 3)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    code = code * 10 + (c - '0');
  }
  return code;
}

}  // namespace

std::unique_ptr<CurlConnection> CurlConnection::open(const FtpAddress& server,
                                                     const ConnectionLogin& login,
                                                     EventPump& events,
                                                     const TransferTimeouts& timeouts,
                                                     Notify notify) {
  std::unique_ptr<CurlConnection> connection =
      server.scheme == TransferScheme::Sftp
          ? newSftpConnection(server, login, events, timeouts, std::move(notify))
          : newFtpConnection(server, login, events, timeouts, std::move(notify));
  connection->configureSession();
  return connection;
}

CurlConnection::CurlConnection(const FtpAddress& server, const ConnectionLogin& login,
                               EventPump& events, const TransferTimeouts& timeouts, Notify notify)
    : server_(server),
      login_(login),
      events_(events),
      timeouts_(timeouts),
      notify_(std::move(notify)) {
  ensureCurlInitialised();
  multi_ = newMultiHandle(errc::kTransferInternal);
  easy_ = newEasyHandle(errc::kTransferInternal);
  configureHandle();
  watch_ = events_.watchIo({[this](int, bool, bool) { onSocketReady(); }, [this] { drive(); }});
}

CurlConnection::~CurlConnection() {
  if (attached_) dropConnection();
}

bool CurlConnection::serves(const FtpAddress& address, const ConnectionLogin& login) const {
  return address.scheme == server_.scheme && address.host == server_.host &&
         address.port == server_.port && login == login_;
}

void CurlConnection::configureHandle() {
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_ERRORBUFFER, errorBuffer_);
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts_.connect.count()));
  set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(timeouts_.reply.count()));
  // libcurl ends a transfer whose speed stays below LOW_SPEED_LIMIT bytes/s for LOW_SPEED_TIME
  // seconds. Fewer than `stallBytes` in `stall` (1,024 bytes in 60 s) is an average below
  // stallBytes / stall bytes/s (17): rounded down, a transfer that keeps to the rule is never
  // ended, and a server that drips a few bytes now and then no longer keeps one alive.
  const auto stallSeconds = std::max<long>(timeouts_.stall.count(), 1);
  set(CURLOPT_LOW_SPEED_LIMIT,
      std::max<long>(static_cast<long>(timeouts_.stallBytes) / stallSeconds, 1));
  set(CURLOPT_LOW_SPEED_TIME, stallSeconds);
  set(CURLOPT_TCP_KEEPALIVE, 1L);
  set(CURLOPT_BUFFERSIZE, kReceiveBuffer);
  // No SIZE command before each file: the listing gave the size, and the download is checked
  // against it when it ends.
  set(CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  // No proxy from the environment: the connection goes to the server named.
  set(CURLOPT_PROXY, "");
  set(CURLOPT_WRITEFUNCTION, writeCallback);
  set(CURLOPT_WRITEDATA, this);
  // The replies of the server and the commands sent are seen through the debug callback,
  // which libcurl calls only in verbose mode; nothing is printed.
  set(CURLOPT_VERBOSE, 1L);
  set(CURLOPT_DEBUGFUNCTION, debugCallback);
  set(CURLOPT_DEBUGDATA, this);
  set(CURLOPT_SOCKOPTFUNCTION, socketCallback);
  set(CURLOPT_SOCKOPTDATA, this);
  set(CURLOPT_CLOSESOCKETFUNCTION, closeSocketCallback);
  set(CURLOPT_CLOSESOCKETDATA, this);
  set(CURLOPT_RESOLVER_START_FUNCTION, resolverStartCallback);
  set(CURLOPT_RESOLVER_START_DATA, this);
  set(CURLOPT_PREREQFUNCTION, prerequestCallback);
  set(CURLOPT_PREREQDATA, this);
  set(CURLOPT_USERNAME, login_.userName.empty() ? nullptr : login_.userName.c_str());
  set(CURLOPT_PASSWORD, login_.userName.empty() ? nullptr : login_.password.c_str());
}

std::size_t CurlConnection::writeCallback(char* data, std::size_t size, std::size_t count,
                                          void* user) {
  const std::size_t bytes = size * count;
  return static_cast<CurlConnection*>(user)->onData(data, bytes) ? bytes : 0;
}

int CurlConnection::debugCallback(CURL*, curl_infotype type, char* data, std::size_t size,
                                  void* user) {
  auto* connection = static_cast<CurlConnection*>(user);
  const std::string_view text(data, size);
  if (type == CURLINFO_HEADER_IN) {
    connection->onReplyText(text);
  } else if (type == CURLINFO_HEADER_OUT) {
    connection->onCommandSent();
  } else {
    connection->noteVerbose(type, text);
  }
  return 0;
}

int CurlConnection::socketCallback(void* user, curl_socket_t socket, curlsocktype) {
  static_cast<CurlConnection*>(user)->openSockets_.insert(socket);
  static_cast<CurlConnection*>(user)->onSocketOpened();
  return CURL_SOCKOPT_OK;
}

int CurlConnection::closeSocketCallback(void* user, curl_socket_t socket) {
  static_cast<CurlConnection*>(user)->openSockets_.erase(socket);
  return closeConnection(socket);
}

// Data connections resolve the host again; only the control connection's lookup is reported.
int CurlConnection::resolverStartCallback(void*, void*, void* user) {
  auto* connection = static_cast<CurlConnection*>(user);
  if (!connection->announcedRequesting_)
    connection->announceOnce(connection->announcedResolving_, state::kResolvingHost);
  return 0;
}

int CurlConnection::prerequestCallback(void* user, char*, char*, int, int) {
  static_cast<CurlConnection*>(user)->onPrerequest();
  return CURL_PREREQFUNC_OK;
}

void CurlConnection::start(FtpAddress address, const FtpOperation& operation,
                           std::int32_t requestTimeout) {
  if (running_) throw Error(errc::kTransferBusy, "Still executing the last request");
  listingUnderWay_ = operation.kind == FtpOperation::Kind::List;
  askingTime_ = operation.kind == FtpOperation::Kind::ModifiedTime;
  std::unique_ptr<PartialFile> file;
  if (operation.kind == FtpOperation::Kind::Get) {
    file = std::make_unique<PartialFile>(operation.local);
    requested_ = operation.listed;
  } else {
    requested_.reset();
  }
  if (listingUnderWay_) address.directory = joinedDirectory(address.directory, operation.remote);
  prepare(std::move(address), operation);
  set(CURLOPT_NOBODY, askingTime_ ? 1L : 0L);
  set(CURLOPT_TIMEOUT, static_cast<long>(requestTimeout > 0 ? requestTimeout : 0));

  resetRequest();
  download_ = std::move(file);
  const CURLMcode added = curl_multi_add_handle(multi_.get(), easy_.get());
  if (added != CURLM_OK) {
    download_.reset();
    throw curlMultiError(errc::kTransferInternal, "libcurl cannot start the request", added);
  }
  attached_ = true;
  running_ = true;
  immediateRetries_ = 0;
  lastHeard_ = std::chrono::steady_clock::now();
  rewatch();
}

void CurlConnection::resetRequest() {
  received_.clear();
  receivingFailure_.clear();
  bytesReceived_ = 0;
  listing_.clear();
  exactTime_.reset();
  announcedResolving_ = announcedResolved_ = announcedConnecting_ = announcedConnected_ = false;
  announcedRequesting_ = announcedSent_ = announcedReceiving_ = false;
  replyBuffer_.clear();
  lastReplyCode_ = 0;
  lastReplyText_.clear();
  responseCode_ = 0;
  responseInfo_.clear();
  outcome_ = RequestOutcome::None;
  errorBuffer_[0] = '\0';
}

void CurlConnection::onSocketReady() {
  lastHeard_ = std::chrono::steady_clock::now();
  drive();
}

// One pass of libcurl, from the event loop: a watched socket is ready or the timer expired.
void CurlConnection::drive() {
  if (!attached_) return;
  if (const auto limit = silenceLimit(); limit && std::chrono::steady_clock::now() >= *limit) {
    std::snprintf(errorBuffer_, sizeof errorBuffer_, "Timeout: no reply from the server in %lld s",
                  static_cast<long long>(timeouts_.reply.count()));
    dropConnection();
    onDone(CURLE_OPERATION_TIMEDOUT);
    rewatch();
    return;
  }
  int running = 0;
  const CURLMcode performed = curl_multi_perform(multi_.get(), &running);
  if (performed != CURLM_OK) {
    std::snprintf(errorBuffer_, sizeof errorBuffer_, "%s", curl_multi_strerror(performed));
    onDone(CURLE_RECV_ERROR);
  } else {
    readFinishedRequests();
  }
  rewatch();
}

void CurlConnection::readFinishedRequests() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_.get()) {
      onDone(message->data.result);
    }
  }
}

// Hands the event loop the sockets libcurl waits on now, and its timer.
void CurlConnection::rewatch() {
  std::map<int, std::pair<bool, bool>> wanted;
  if (attached_) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int highest = -1;
    curl_multi_fdset(multi_.get(), &readable, &writable, &failed, &highest);
    for (int fd = 0; fd <= highest; ++fd) {
      const bool reading = FD_ISSET(fd, &readable) || FD_ISSET(fd, &failed);
      const bool writing = FD_ISSET(fd, &writable);
      if (reading || writing) wanted[fd] = {reading, writing};
    }
  }
  for (const auto& [fd, directions] : watchedSockets_) {
    if (!wanted.contains(fd)) watch_->watchSocket(fd, false, false);
  }
  for (const auto& [fd, directions] : wanted) {
    const auto previous = watchedSockets_.find(fd);
    if (previous == watchedSockets_.end() || previous->second != directions) {
      watch_->watchSocket(fd, directions.first, directions.second);
    }
  }
  watchedSockets_ = std::move(wanted);
  if (attached_) {
    scheduleNextDrive(watchedSockets_.empty());
  } else {
    watch_->stopTimer();
  }
}

void CurlConnection::scheduleNextDrive(bool watchesNothing) {
  long timeout = -1;
  curl_multi_timeout(multi_.get(), &timeout);
  std::optional<std::chrono::milliseconds> due;
  if (timeout >= 0) due = std::chrono::milliseconds(timeout);
  if (const auto limit = silenceLimit()) {
    const auto silenceEnds =
        std::chrono::ceil<std::chrono::milliseconds>(*limit - std::chrono::steady_clock::now());
    due = std::max(std::min(due.value_or(silenceEnds), silenceEnds), std::chrono::milliseconds(0));
  }
  if (watchesNothing) {
    const auto retry = immediateRetries_ < kMostImmediateRetries ? std::chrono::milliseconds(0)
                                                                 : kRetryWhileWaitingOnNothing;
    ++immediateRetries_;
    due = due ? std::min(*due, retry) : retry;
  } else {
    immediateRetries_ = 0;
  }
  if (due) {
    watch_->startTimer(*due);
  } else {
    watch_->stopTimer();
  }
}

void CurlConnection::onDone(CURLcode result) {
  curl_multi_remove_handle(multi_.get(), easy_.get());
  attached_ = false;
  if (result != CURLE_OK && retryAfter(result)) return restart();
  if (result == CURLE_OK) {
    succeed();
  } else {
    fail(result);
  }
}

// The same request again, on the same connection, with the options the protocol changed.
void CurlConnection::restart() {
  received_.clear();
  lastReplyCode_ = 0;
  lastReplyText_.clear();
  if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return fail(CURLE_FAILED_INIT);
  attached_ = true;
}

void CurlConnection::succeed() {
  if (!receivedWhatWasListed()) return fail(CURLE_PARTIAL_FILE);
  if (download_) {
    try {
      commitDownload();
    } catch (const Error& error) {
      download_.reset();
      responseCode_ = CURLE_WRITE_ERROR;
      responseInfo_ = error.description();
      return finish(RequestOutcome::Failed);
    }
  }
  if (askingTime_) exactTime_ = toldExactTime();
  if (listingUnderWay_) {
    listing_ = parseListing(received_, std::time(nullptr));
    received_.clear();
  }
  responseCode_ = static_cast<std::int32_t>(lastReplyCode_);
  responseInfo_ = lastReplyText_;
  announceOnce(announcedReceiving_, state::kReceivingResponse);
  announce(state::kResponseReceived);
  finish(RequestOutcome::Completed);
}

// The server's exact time where it told one during the transfer (SFTP), the listed one
// otherwise: a listing in the "ls -l" form gives it only to the minute.
void CurlConnection::commitDownload() {
  std::optional<std::time_t> modified = toldExactTime();
  if (!modified && requested_) modified = requested_->modified;
  if (modified) download_->setModificationTime(*modified);
  download_->commit();
  download_.reset();
}

// A server may end a download with success after sending less (or more) than the file holds.
bool CurlConnection::receivedWhatWasListed() {
  if (!requested_ || !requested_->size || *requested_->size == bytesReceived_) return true;
  noteSizeMismatch(std::to_string(bytesReceived_));
  return false;
}

// A server that goes on sending past the listed size would fill the disk before it stopped.
bool CurlConnection::receivedMoreThanListed() {
  if (!requested_ || !requested_->size || bytesReceived_ <= *requested_->size) return false;
  noteSizeMismatch("more");
  return true;
}

void CurlConnection::noteSizeMismatch(const std::string& received) {
  receivingFailure_ =
      "size mismatch: listed " + std::to_string(*requested_->size) + " bytes, received " + received;
}

void CurlConnection::fail(CURLcode result) {
  const std::string localFailure =
      download_ && !download_->failure().empty() ? download_->failure() : receivingFailure_;
  download_.reset();
  received_.clear();
  if (!localFailure.empty()) {
    responseCode_ = result;
    responseInfo_ = localFailure;
  } else if (auto secureFailure = secureFailureText(result)) {
    responseCode_ = result;
    responseInfo_ = std::move(*secureFailure);
  } else if (lastReplyCode_ >= 400) {
    responseCode_ = static_cast<std::int32_t>(lastReplyCode_);
    responseInfo_ = lastReplyText_;
  } else {
    responseCode_ = result;
    responseInfo_ = curlText(result, errorBuffer_);
  }
  finish(RequestOutcome::Failed);
}

void CurlConnection::cancel() {
  if (!running_) return;
  if (attached_) dropConnection();
  download_.reset();
  received_.clear();
  responseCode_ = CURLE_ABORTED_BY_CALLBACK;
  responseInfo_ = "Request cancelled";
  finish(RequestOutcome::Cancelled);
  rewatch();
}

// Ends the request under way by cutting its connection. Taken off before its end, a request
// makes libcurl close it politely, and for SFTP it waits in a loop of its own, at a full core,
// until the server confirms the remote file closed: a server that stopped answering would hold
// a cancel for a minute. Once the connection is shut down every wait of that close ends at
// once, and libcurl discards the connection, which an unfinished request leaves unusable anyway.
void CurlConnection::dropConnection() {
  for (const curl_socket_t socket : openSockets_) shutDownConnection(socket);
  curl_multi_remove_handle(multi_.get(), easy_.get());
  attached_ = false;
}

// The last state of a request: icResponseCompleted after success, icError otherwise.
void CurlConnection::finish(RequestOutcome result) {
  outcome_ = result;
  announce(result == RequestOutcome::Completed ? state::kResponseCompleted : state::kError);
  running_ = false;
}

void CurlConnection::announce(std::int16_t stateNumber) {
  notify_(stateNumber);
}

void CurlConnection::announceOnce(bool& announced, std::int16_t stateNumber) {
  if (announced) return;
  announced = true;
  announce(stateNumber);
}

// Sockets opened before the request proper belong to the control connection; later ones are
// data connections, part of receiving the response.
void CurlConnection::onSocketOpened() {
  if (announcedRequesting_) return;
  announceOnce(announcedResolving_, state::kResolvingHost);
  announceOnce(announcedResolved_, state::kHostResolved);
  announceOnce(announcedConnecting_, state::kConnecting);
}

void CurlConnection::onPrerequest() {
  if (announcedConnecting_) announceOnce(announcedConnected_, state::kConnected);
  announceOnce(announcedRequesting_, state::kRequesting);
  if (sendsWithoutCommands()) announceOnce(announcedSent_, state::kRequestSent);
}

void CurlConnection::onCommandSent() {
  if (announcedRequesting_) announceOnce(announcedSent_, state::kRequestSent);
}

void CurlConnection::onReplyText(std::string_view text) {
  replyBuffer_.append(text);
  for (auto end = replyBuffer_.find('\n'); end != std::string::npos;
       end = replyBuffer_.find('\n')) {
    std::string line = replyBuffer_.substr(0, end);
    replyBuffer_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const auto code = finalReplyCode(line)) {
      lastReplyCode_ = *code;
      lastReplyText_ = std::move(line);
    }
  }
  if (announcedSent_) announceOnce(announcedReceiving_, state::kReceivingResponse);
}

bool CurlConnection::onData(const char* data, std::size_t size) {
  announceOnce(announcedReceiving_, state::kReceivingResponse);
  bytesReceived_ += size;
  if (download_) return !receivedMoreThanListed() && download_->write(data, size);
  if (!listingUnderWay_) return true;
  return takeListingData(std::string_view(data, size));
}

bool CurlConnection::keepListing(std::string_view piece) {
  if (!receivingFailure_.empty()) return false;
  if (piece.size() >
      timeouts_.largestListing - std::min(received_.size(), timeouts_.largestListing)) {
    receivingFailure_ = "listing too large";
    return false;
  }
  received_.append(piece);
  return true;
}

}  // namespace quillfen
