#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_trust.h"
#include "curl/curl_error.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"
#include "transfer/transfer_control.h"
#include "transfer/transfer_timeouts.h"

namespace quillfen {

class EventPump;
class IoWatch;
class PartialFile;

// Who logs in, and whom the connection trusts: the SFTP private key file (the password is then
// its passphrase) and the certificates or host keys to trust (empty: the system's).
struct ConnectionLogin {
  std::string userName, password, keyFile;
  ServerTrust trust;
  bool operator==(const ConnectionLogin&) const = default;
};

// One connection (FTP, FTPS) or session (SFTP) to one server for one login, over a libcurl easy
// handle of its own on a multi handle of its own, so that several connections run side by side
// on the one event loop. Its requests run one after the other, over the one control connection
// or session that libcurl keeps open between them. The connection's sockets and timer are
// watched through `events`, so a request advances whenever the front end processes events, and
// its state changes go to `notify` as they happen. Cancel stops a running request at once.
//
// A listing ends as entries (listing()); a download streams into a temporary file beside the
// local path, renamed to it when the transfer completed: a failed transfer leaves nothing
// behind and an existing file untouched. A download of a listed file must bring the listed size
// and takes the listed time (the server's exact time, where it gives one).
class CurlConnection {
 public:
  using Notify = std::function<void(std::int16_t state)>;

  // The connection for the scheme of `server`. Error(kTransferInternal) when libcurl cannot
  // make its handles or refuses a setting, and the trust's own Error when it cannot be read.
  static std::unique_ptr<CurlConnection> open(const FtpAddress& server,
                                              const ConnectionLogin& login, EventPump& events,
                                              const TransferTimeouts& timeouts, Notify notify);
  virtual ~CurlConnection();
  CurlConnection(const CurlConnection&) = delete;
  CurlConnection& operator=(const CurlConnection&) = delete;

  // True when a request to `address` as `login` can go over this connection.
  bool serves(const FtpAddress& address, const ConnectionLogin& login) const;
  // Starts `operation` in the directory of `address`; `requestTimeout` seconds bound the whole
  // request (0: no bound). Error(kTransferBusy) while a request runs.
  void start(FtpAddress address, const FtpOperation& operation, std::int32_t requestTimeout);
  void cancel();
  bool busy() const { return running_; }

  RequestOutcome outcome() const { return outcome_; }
  // The last reply of the request and its text; for a failure without a reply, the libcurl
  // error number and its description.
  std::int32_t responseCode() const { return responseCode_; }
  const std::string& responseInfo() const { return responseInfo_; }
  // The entries of the last listing that completed.
  const std::vector<RemoteEntry>& listing() const { return listing_; }
  // The exact time a completed ModifiedTime request found; nothing when the server gave none.
  std::optional<std::time_t> exactTime() const { return exactTime_; }

 protected:
  CurlConnection(const FtpAddress& server, const ConnectionLogin& login, EventPump& events,
                 const TransferTimeouts& timeouts, Notify notify);

  template <typename Value>
  void set(CURLoption option, Value value) {
    setOption(easy_.get(), option, value, errc::kTransferInternal);
  }
  CURL* easy() const { return easy_.get(); }
  const ConnectionLogin& login() const { return login_; }
  const TransferTimeouts& timeouts() const { return timeouts_; }
  const char* errorBuffer() const { return errorBuffer_; }
  long lastReplyCode() const { return lastReplyCode_; }
  const std::string& lastReplyText() const { return lastReplyText_; }
  bool listingUnderWay() const { return listingUnderWay_; }
  // Keeps a piece of the listing under way; false (and the request fails) once it grew too large.
  bool keepListing(std::string_view piece);
  // True once keepListing refused the listing.
  bool listingRefused() const { return !receivingFailure_.empty(); }
  std::chrono::steady_clock::time_point lastHeard() const { return lastHeard_; }

  // What each protocol does its own way.
  // The settings of the whole session (the protocol, its trust, its login), once, at open.
  virtual void configureSession() = 0;
  // The request's URL and commands for `operation` in the directory of `address`.
  virtual void prepare(FtpAddress address, const FtpOperation& operation) = 0;
  // Data of a listing as libcurl's write callback gets it; false ends the request.
  virtual bool takeListingData(std::string_view data) = 0;
  // libcurl's verbose text of the kinds the protocol reads (data as it came, diagnostics).
  virtual void noteVerbose(curl_infotype type, std::string_view text) = 0;
  virtual std::vector<RemoteEntry> parseListing(std::string_view text, std::time_t now) const = 0;
  // True when the protocol set the request up again to retry it after `result`.
  virtual bool retryAfter(CURLcode result) = 0;
  // The reason of a failure that lies in the secure protocols themselves, in the user's words.
  virtual std::optional<std::string> secureFailureText(CURLcode result) const = 0;
  // The file's time to the second as the server told it during the request, if it did.
  virtual std::optional<std::time_t> toldExactTime() const = 0;
  // True when the request is sent with no command text of its own to see (SFTP).
  virtual bool sendsWithoutCommands() const = 0;
  // When a server that went silent has been silent too long, if the protocol bounds silence.
  virtual std::optional<std::chrono::steady_clock::time_point> silenceLimit() const = 0;

 private:
  static std::size_t writeCallback(char* data, std::size_t size, std::size_t count, void* user);
  static int debugCallback(CURL*, curl_infotype type, char* data, std::size_t size, void* user);
  static int socketCallback(void* user, curl_socket_t socket, curlsocktype);
  static int closeSocketCallback(void* user, curl_socket_t socket);
  static int resolverStartCallback(void*, void*, void* user);
  static int prerequestCallback(void* user, char*, char*, int, int);

  void configureHandle();
  void resetRequest();
  void onSocketReady();
  void drive();
  void readFinishedRequests();
  void rewatch();
  void scheduleNextDrive(bool watchesNothing);
  void onDone(CURLcode result);
  void restart();
  void succeed();
  void fail(CURLcode result);
  void finish(RequestOutcome result);
  void dropConnection();

  void announce(std::int16_t stateNumber);
  void announceOnce(bool& announced, std::int16_t stateNumber);
  void onSocketOpened();
  void onPrerequest();
  void onReplyText(std::string_view text);
  void onCommandSent();
  bool onData(const char* data, std::size_t size);
  bool receivedWhatWasListed();
  bool receivedMoreThanListed();
  void noteSizeMismatch(const std::string& received);
  void commitDownload();

  const FtpAddress server_;
  const ConnectionLogin login_;
  EventPump& events_;
  const TransferTimeouts timeouts_;
  const Notify notify_;

  // Every socket libcurl holds open. libcurl closes the connections it keeps when the multi
  // handle goes, through this object: the set must outlive it.
  std::set<curl_socket_t> openSockets_;
  MultiHandle multi_;
  EasyHandle easy_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  bool attached_ = false;
  bool running_ = false;
  std::unique_ptr<IoWatch> watch_;
  std::map<int, std::pair<bool, bool>> watchedSockets_;  // fd: (reading, writing)
  int immediateRetries_ = 0;
  // libcurl bounds an SFTP request only while it connects and while a file streams: a protocol
  // may bound the whole request by the time since the server was last heard from.
  std::chrono::steady_clock::time_point lastHeard_;

  bool listingUnderWay_ = false;
  bool askingTime_ = false;
  std::string received_;
  std::string receivingFailure_;  // why onData refused the data, for the request's end
  std::unique_ptr<PartialFile> download_;
  std::optional<RemoteEntry> requested_;  // the listed file being downloaded
  std::uint64_t bytesReceived_ = 0;

  bool announcedResolving_ = false, announcedResolved_ = false, announcedConnecting_ = false;
  bool announcedConnected_ = false;
  bool announcedRequesting_ = false, announcedSent_ = false, announcedReceiving_ = false;
  std::string replyBuffer_;
  long lastReplyCode_ = 0;
  std::string lastReplyText_;
  std::int32_t responseCode_ = 0;
  std::string responseInfo_;
  RequestOutcome outcome_ = RequestOutcome::None;
  std::vector<RemoteEntry> listing_;
  std::optional<std::time_t> exactTime_;
};

// The protocols' own connections, which CurlConnection::open chooses between.
std::unique_ptr<CurlConnection> newFtpConnection(const FtpAddress& server,
                                                 const ConnectionLogin& login, EventPump& events,
                                                 const TransferTimeouts& timeouts,
                                                 CurlConnection::Notify notify);
std::unique_ptr<CurlConnection> newSftpConnection(const FtpAddress& server,
                                                  const ConnectionLogin& login, EventPump& events,
                                                  const TransferTimeouts& timeouts,
                                                  CurlConnection::Notify notify);

}  // namespace quillfen
