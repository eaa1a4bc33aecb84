#include "transfer/curl_transfer_control.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "common/date.h"
#include "common/error.h"
#include "curl/curl_error.h"
#include "curl/curl_global.h"
#include "curl/curl_socket.h"
#include "curl/tls_trust.h"
#include "process/event_pump.h"
#include "transfer/ftp_listing.h"
#include "transfer/ftp_request.h"
#include "transfer/partial_file.h"
#include "transfer/sftp_login.h"

namespace quillfen {

namespace {

namespace state = transfer_state;

// libcurl's sockets and timer are watched by the front end's event loop, so a transfer moves on
// whatever loop runs. After every pass the control asks libcurl which sockets it waits on. That
// matters: when the reply to EPSV or PASV arrives in the same pass that sent the command,
// libcurl (7.88) goes on to open the data connection only at its next call, yet leaves no
// socket to wait for, only its long time limits. A client that waits until libcurl wakes it
// then loses its whole poll period on every such file (the curl tool: up to a second). That
// state is recognisable, so the control then drives libcurl again at once, a few times in a
// row, and after that every few milliseconds, so that it can never spin a core.
constexpr std::chrono::milliseconds kRetryWhileWaitingOnNothing{5};
constexpr int kMostImmediateRetries = 3;
// How long OpenURL's wait on events may last before it looks again.
constexpr std::chrono::milliseconds kLongestWait{250};
constexpr std::int32_t kNamedProxy = 2;
constexpr std::uint16_t kFtpPort = 21;
// The setting that says whom to trust, named in the texts that ask the user to change it.
constexpr const char* kTrustKey = "FtpTrust";
// libcurl's receive buffer: large pieces mean few calls and few writes per file.
constexpr long kReceiveBuffer = 1L << 20;

// The replies by which a server says it does not know a command.
bool isNotUnderstood(long code) {
  return code == 500 || code == 501 || code == 502 || code == 504;
}

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

// Cuts text between UTF-8 sequences, so that every text chunk is whole characters.
std::size_t textCut(std::string_view text, std::size_t wanted) {
  if (wanted >= text.size()) return text.size();
  std::size_t cut = wanted;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  if (cut > 0) return cut;
  cut = wanted;  // a single character longer than the chunk: hand it out whole
  while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  return cut;
}

std::string joinedDirectory(const std::string& base, const std::string& below) {
  if (below.empty()) return base;
  if (below.front() == '/' || base.empty()) return below;
  return base + "/" + below;
}

// The time of an MDTM reply, "213 YYYYMMDDHHMMSS" with maybe a fraction after it, read as UTC.
std::optional<std::time_t> modifiedTimeReply(std::string_view line) {
  if (line.size() < 18 || !line.starts_with("213 ")) return std::nullopt;
  const std::string_view digits = line.substr(4, 14);
  if (!std::all_of(digits.begin(), digits.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (char c : digits.substr(at, length)) value = value * 10 + (c - '0');
    return value;
  };
  return static_cast<std::time_t>(secondsSinceEpoch(DateTime{
      Date{number(0, 4), number(4, 2), number(6, 2)}, number(8, 2), number(10, 2), number(12, 2)}));
}

}  // namespace

struct CurlTransferControl::Impl {
  enum class Phase {
    Idle,
    Running,
    Finished,  // ended; StillExecuting reads true until its notifications have run
  };

  Impl(EventPump& pump, TransferTimeouts limits);
  ~Impl();

  template <typename Value>
  void set(CURLoption option, Value value);
  void configureHandle();
  void configureProtocol();
  std::optional<std::string> secureFailureText(CURLcode result) const;

  FtpAddress addressOf(const std::string& urlArgument) const;
  void start(const std::string& urlArgument, const FtpOperation& operation);
  void waitUntilIdle(CurlTransferControl& control);
  void rememberExactTime();
  void startAt(FtpAddress address, const FtpOperation& operation);
  void drive();
  void onSocketReady();
  bool sftpServerSilentTooLong() const;
  void readFinishedRequests();
  void rewatch();
  void scheduleNextDrive(bool watchesNothing);
  void onDone(CURLcode result);
  void succeed();
  void fail(CURLcode result);
  void cancel();
  void dropConnection();
  void finish(RequestOutcome result);
  void restartWithList();

  void post(std::int16_t stateNumber);
  void announceOnce(bool& announced, std::int16_t stateNumber);
  void onSocketOpened();
  void onPrerequest();
  void onReplyText(std::string_view text);
  void onCommandSent();
  bool onData(const char* data, std::size_t size);
  void onDataAsSent(std::string_view data);
  bool keepListing(std::string_view piece);
  void rememberListedEntries(const std::string& directory, const std::vector<RemoteEntry>& entries);
  bool receivedWhatWasListed();
  bool receivedMoreThanListed();
  void noteSizeMismatch(const std::string& received);
  std::optional<std::time_t> modificationTime();

  // libcurl's callbacks; `user` is the Impl.
  static std::size_t writeCallback(char* data, std::size_t size, std::size_t count, void* user);
  static int debugCallback(CURL*, curl_infotype type, char* data, std::size_t size, void* user);
  static int socketCallback(void* user, curl_socket_t socket, curlsocktype);
  static int closeSocketCallback(void* user, curl_socket_t socket);
  static int resolverStartCallback(void*, void*, void* user);
  static int prerequestCallback(void* user, char*, char*, int, int);

  EventPump& events;
  TransferTimeouts timeouts;
  // Posted notifications hold this weakly: they come to nothing once the control is gone.
  struct Subscription {
    StateListener listener;
    int undelivered = 0;  // notifications posted and not yet run
  };
  std::shared_ptr<Subscription> subscription = std::make_shared<Subscription>();

  std::int32_t accessType = 0;
  std::int32_t protocol = 0;
  std::int16_t remotePort = static_cast<std::int16_t>(kFtpPort);
  std::int32_t requestTimeout = 0;
  std::string url, userName, password, remoteHost, proxy, document, keyFile, trust;

  // Every socket libcurl holds open. libcurl closes the connections it keeps when the multi
  // handle goes, through this object: the set must outlive it.
  std::set<curl_socket_t> openSockets;
  MultiHandle multi;
  EasyHandle easy;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  bool attached = false;
  std::unique_ptr<IoWatch> watch;
  std::map<int, std::pair<bool, bool>> watchedSockets;  // fd: (reading, writing)
  int immediateRetries = 0;
  // libcurl bounds an SFTP request only while it connects and while a file streams: a server
  // that stops answering a listing or the opening of a file would hold it for ever. The control
  // bounds the whole request by the time since the server was last heard from.
  std::chrono::steady_clock::time_point lastHeard;

  Phase phase = Phase::Idle;
  TransferScheme scheme = TransferScheme::Ftp;  // of the request under way
  SftpLogin sftp;
  PresentedKey presentedKey;  // of the FTPS server, noted during the TLS handshake
  bool listing = false;
  bool usingMlsd = false;
  bool serverLacksMlsd = false;
  std::string received;
  std::string receivingFailure;  // why onData refused the data, for the request's end
  std::size_t chunkOffset = 0;
  std::unique_ptr<PartialFile> download;
  std::uint64_t bytesReceived = 0;
  // The entries of every listing so far, by their path below the login folder: what a download
  // of a file must bring (its size) and keep (its time), and what a folder or link is.
  std::map<std::string, RemoteEntry> listedEntries;
  std::string listedDirectory;           // of the listing under way
  std::optional<RemoteEntry> requested;  // the listed file being downloaded
  bool askingTime = false;               // the request is an MDTM only
  std::string askedFile;                 // its path below the login folder
  SlistHandle postQuote;

  bool announcedResolving = false, announcedResolved = false, announcedConnecting = false;
  bool announcedConnected = false;
  bool announcedRequesting = false, announcedSent = false, announcedReceiving = false;
  std::string replyBuffer;
  long lastReplyCode = 0;
  std::string lastReplyText;
  std::int32_t responseCode = 0;
  std::string responseInfo;
  RequestOutcome outcome = RequestOutcome::None;
};

std::size_t CurlTransferControl::Impl::writeCallback(char* data, std::size_t size,
                                                     std::size_t count, void* user) {
  const std::size_t bytes = size * count;
  return static_cast<Impl*>(user)->onData(data, bytes) ? bytes : 0;
}

int CurlTransferControl::Impl::debugCallback(CURL*, curl_infotype type, char* data,
                                             std::size_t size, void* user) {
  auto* impl = static_cast<Impl*>(user);
  if (type == CURLINFO_HEADER_IN) impl->onReplyText(std::string_view(data, size));
  if (type == CURLINFO_HEADER_OUT) impl->onCommandSent();
  if (type == CURLINFO_DATA_IN) impl->onDataAsSent(std::string_view(data, size));
  if (type == CURLINFO_TEXT && impl->scheme == TransferScheme::Sftp) {
    impl->sftp.noteVerboseText(std::string_view(data, size));
  }
  return 0;
}

int CurlTransferControl::Impl::socketCallback(void* user, curl_socket_t socket, curlsocktype) {
  static_cast<Impl*>(user)->openSockets.insert(socket);
  static_cast<Impl*>(user)->onSocketOpened();
  return CURL_SOCKOPT_OK;
}

int CurlTransferControl::Impl::closeSocketCallback(void* user, curl_socket_t socket) {
  static_cast<Impl*>(user)->openSockets.erase(socket);
  return closeConnection(socket);
}

// Data connections resolve the host again; only the control connection's lookup is reported.
int CurlTransferControl::Impl::resolverStartCallback(void*, void*, void* user) {
  auto* impl = static_cast<Impl*>(user);
  if (!impl->announcedRequesting)
    impl->announceOnce(impl->announcedResolving, state::kResolvingHost);
  return 0;
}

int CurlTransferControl::Impl::prerequestCallback(void* user, char*, char*, int, int) {
  static_cast<Impl*>(user)->onPrerequest();
  return CURL_PREREQFUNC_OK;
}

CurlTransferControl::Impl::Impl(EventPump& pump, TransferTimeouts limits)
    : events(pump), timeouts(limits) {
  ensureCurlInitialised();
  multi = newMultiHandle(errc::kTransferInternal);
  easy = newEasyHandle(errc::kTransferInternal);
  configureHandle();
  watch = events.watchIo({[this](int, bool, bool) { onSocketReady(); }, [this] { drive(); }});
}

CurlTransferControl::Impl::~Impl() {
  if (attached) dropConnection();
}

template <typename Value>
void CurlTransferControl::Impl::set(CURLoption option, Value value) {
  setOption(easy.get(), option, value, errc::kTransferInternal);
}

void CurlTransferControl::Impl::configureHandle() {
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_ERRORBUFFER, errorBuffer);
  set(CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts.connect.count()));
  set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(timeouts.reply.count()));
  // libcurl ends a transfer whose speed stays below LOW_SPEED_LIMIT bytes/s for LOW_SPEED_TIME
  // seconds. Fewer than `stallBytes` in `stall` (1,024 bytes in 60 s) is an average below
  // stallBytes / stall bytes/s (17): rounded down, a transfer that keeps to the rule is never
  // ended, and a server that drips a few bytes now and then no longer keeps one alive.
  const auto stallSeconds = std::max<long>(timeouts.stall.count(), 1);
  set(CURLOPT_LOW_SPEED_LIMIT,
      std::max<long>(static_cast<long>(timeouts.stallBytes) / stallSeconds, 1));
  set(CURLOPT_LOW_SPEED_TIME, stallSeconds);
  set(CURLOPT_FTP_USE_EPSV, 1L);
  // Servers behind NAT often announce an address that cannot be reached: the data
  // connection goes to the server the control connection reached.
  set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
  set(CURLOPT_TCP_KEEPALIVE, 1L);
  set(CURLOPT_BUFFERSIZE, kReceiveBuffer);
  // No SIZE command before each file: the listing gave the size, and the download is checked
  // against it when it ends.
  set(CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
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
}

// TLS for ftpes and ftps covers the login and every data connection; a server that cannot
// switch to it is refused rather than used in clear.
void CurlTransferControl::Impl::configureProtocol() {
  set(CURLOPT_PROTOCOLS_STR, curlProtocolOf(scheme));
  set(CURLOPT_FILETIME, scheme == TransferScheme::Sftp ? 1L : 0L);
  if (scheme == TransferScheme::Sftp) {
    sftp.configure(easy.get(), trust, keyFile, password, errc::kTransferInternal);
    return;
  }
  const bool tls = isFtpOverTls(scheme);
  set(CURLOPT_USE_SSL, static_cast<long>(tls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
  if (tls) {
    applyTlsTrust(easy.get(), readTlsTrust(kTrustKey, trust, errc::kTransferInternal), presentedKey,
                  errc::kTransferInternal);
  }
}

// The reason of a failure that lies in the secure protocols themselves, in the user's words.
std::optional<std::string> CurlTransferControl::Impl::secureFailureText(CURLcode result) const {
  if (scheme == TransferScheme::Sftp)
    return sftp.failureText(result, curlText(result, errorBuffer));
  if (!isFtpOverTls(scheme)) return std::nullopt;
  if (result == CURLE_USE_SSL_FAILED) {
    return "The server does not offer TLS, which ftpes:// requires; nothing was sent in clear";
  }
  if (isUntrustedServer(result)) {
    return untrustedServerText(kTrustKey, presentedKey, curlText(result, errorBuffer));
  }
  return std::nullopt;
}

FtpAddress CurlTransferControl::Impl::addressOf(const std::string& urlArgument) const {
  const std::string& target =
      !urlArgument.empty() ? urlArgument : (!url.empty() ? url : remoteHost);
  // The port is a 16-bit value: numbers above 32767 arrive as negative ones.
  const auto port = static_cast<std::uint16_t>(remotePort);
  return parseFtpAddress(target, port == 0 ? kFtpPort : port);
}

void CurlTransferControl::Impl::start(const std::string& urlArgument,
                                      const FtpOperation& operation) {
  startAt(addressOf(urlArgument), operation);
}

// The request's last notifications belong to it, not to whatever request comes next.
void CurlTransferControl::Impl::waitUntilIdle(CurlTransferControl& control) {
  while (control.StillExecuting()) events.processEventsWaiting(kLongestWait);
}

// A GET without a local path reads the file into memory, for OpenURL.
void CurlTransferControl::Impl::startAt(FtpAddress address, const FtpOperation& operation) {
  if (phase != Phase::Idle) {
    throw Error(errc::kTransferBusy, "Still executing the last request");
  }
  listing = operation.kind == FtpOperation::Kind::List;
  askingTime = operation.kind == FtpOperation::Kind::ModifiedTime;
  std::unique_ptr<PartialFile> file;
  if (operation.kind == FtpOperation::Kind::Get && !operation.local.empty()) {
    file = std::make_unique<PartialFile>(operation.local);
  }
  if (listing) address.directory = joinedDirectory(address.directory, operation.remote);
  listedDirectory = address.directory;
  requested.reset();
  askedFile = joinedDirectory(address.directory, operation.remote);
  if (operation.kind == FtpOperation::Kind::Get) {
    const auto listed = listedEntries.find(askedFile);
    if (listed != listedEntries.end()) requested = listed->second;
  }

  scheme = address.scheme;
  configureProtocol();
  const bool sftpSource = scheme == TransferScheme::Sftp;
  // An FTP server is asked with MDTM after libcurl changed into the file's folder: a request
  // for that folder without a body, whose only command of its own is the MDTM sent after it.
  // An SFTP server is asked for the file's attributes, which carry its time (FILETIME).
  postQuote.reset();
  if (askingTime && !sftpSource) {
    const auto slash = operation.remote.find_last_of('/');
    if (slash != std::string::npos) {
      address.directory = joinedDirectory(address.directory, operation.remote.substr(0, slash));
    }
    appendToSlist(postQuote, "MDTM " + operation.remote.substr(slash + 1), errc::kTransferInternal);
  }
  set(CURLOPT_POSTQUOTE, postQuote.get());
  set(CURLOPT_NOBODY, askingTime ? 1L : 0L);
  const bool wholeFolder = listing || (askingTime && !sftpSource);
  set(CURLOPT_URL, curlUrl(address, wholeFolder ? std::string() : operation.remote).c_str());
  // SFTP lists a URL ending in "/" in the "ls -l" form, one line per entry.
  const bool ftpListing = listing && !sftpSource;
  usingMlsd = ftpListing && !serverLacksMlsd;
  set(CURLOPT_CUSTOMREQUEST, ftpListing ? (usingMlsd ? "MLSD" : "LIST") : nullptr);
  set(CURLOPT_USERNAME, userName.empty() ? nullptr : userName.c_str());
  set(CURLOPT_PASSWORD, userName.empty() ? nullptr : password.c_str());
  set(CURLOPT_TIMEOUT, static_cast<long>(requestTimeout > 0 ? requestTimeout : 0));
  set(CURLOPT_PROXY, accessType == kNamedProxy ? proxy.c_str() : "");

  received.clear();
  receivingFailure.clear();
  chunkOffset = 0;
  bytesReceived = 0;
  download = std::move(file);
  announcedResolving = announcedResolved = announcedConnecting = announcedConnected = false;
  announcedRequesting = announcedSent = announcedReceiving = false;
  replyBuffer.clear();
  lastReplyCode = 0;
  lastReplyText.clear();
  responseCode = 0;
  responseInfo.clear();
  outcome = RequestOutcome::None;
  errorBuffer[0] = '\0';

  const CURLMcode added = curl_multi_add_handle(multi.get(), easy.get());
  if (added != CURLM_OK) {
    download.reset();
    throw curlMultiError(errc::kTransferInternal, "libcurl cannot start the request", added);
  }
  attached = true;
  phase = Phase::Running;
  immediateRetries = 0;
  lastHeard = std::chrono::steady_clock::now();
  rewatch();
}

void CurlTransferControl::Impl::onSocketReady() {
  lastHeard = std::chrono::steady_clock::now();
  drive();
}

bool CurlTransferControl::Impl::sftpServerSilentTooLong() const {
  return scheme == TransferScheme::Sftp &&
         std::chrono::steady_clock::now() - lastHeard >= timeouts.reply;
}

// One pass of libcurl, from the event loop: a watched socket is ready or the timer expired.
void CurlTransferControl::Impl::drive() {
  if (!attached) return;
  if (sftpServerSilentTooLong()) {
    std::snprintf(errorBuffer, sizeof errorBuffer, "Timeout: no reply from the server in %lld s",
                  static_cast<long long>(timeouts.reply.count()));
    dropConnection();
    onDone(CURLE_OPERATION_TIMEDOUT);
    rewatch();
    return;
  }
  int running = 0;
  const CURLMcode performed = curl_multi_perform(multi.get(), &running);
  if (performed != CURLM_OK) {
    std::snprintf(errorBuffer, sizeof errorBuffer, "%s", curl_multi_strerror(performed));
    onDone(CURLE_RECV_ERROR);
  } else {
    readFinishedRequests();
  }
  rewatch();
}

void CurlTransferControl::Impl::readFinishedRequests() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy.get()) {
      onDone(message->data.result);
    }
  }
}

// Hands the event loop the sockets libcurl waits on now, and its timer.
void CurlTransferControl::Impl::rewatch() {
  std::map<int, std::pair<bool, bool>> wanted;
  if (attached) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    int highest = -1;
    curl_multi_fdset(multi.get(), &readable, &writable, &failed, &highest);
    for (int fd = 0; fd <= highest; ++fd) {
      const bool reading = FD_ISSET(fd, &readable) || FD_ISSET(fd, &failed);
      const bool writing = FD_ISSET(fd, &writable);
      if (reading || writing) wanted[fd] = {reading, writing};
    }
  }
  for (const auto& [fd, directions] : watchedSockets) {
    if (!wanted.contains(fd)) watch->watchSocket(fd, false, false);
  }
  for (const auto& [fd, directions] : wanted) {
    const auto previous = watchedSockets.find(fd);
    if (previous == watchedSockets.end() || previous->second != directions) {
      watch->watchSocket(fd, directions.first, directions.second);
    }
  }
  watchedSockets = std::move(wanted);
  if (attached) {
    scheduleNextDrive(watchedSockets.empty());
  } else {
    watch->stopTimer();
  }
}

void CurlTransferControl::Impl::scheduleNextDrive(bool watchesNothing) {
  long timeout = -1;
  curl_multi_timeout(multi.get(), &timeout);
  std::optional<std::chrono::milliseconds> due;
  if (timeout >= 0) due = std::chrono::milliseconds(timeout);
  if (scheme == TransferScheme::Sftp) {
    const auto silenceEnds = std::chrono::ceil<std::chrono::milliseconds>(
        lastHeard + timeouts.reply - std::chrono::steady_clock::now());
    due = std::max(std::min(due.value_or(silenceEnds), silenceEnds), std::chrono::milliseconds(0));
  }
  if (watchesNothing) {
    const auto retry = immediateRetries < kMostImmediateRetries ? std::chrono::milliseconds(0)
                                                                : kRetryWhileWaitingOnNothing;
    ++immediateRetries;
    due = due ? std::min(*due, retry) : retry;
  } else {
    immediateRetries = 0;
  }
  if (due) {
    watch->startTimer(*due);
  } else {
    watch->stopTimer();
  }
}

void CurlTransferControl::Impl::onDone(CURLcode result) {
  curl_multi_remove_handle(multi.get(), easy.get());
  attached = false;
  if (result != CURLE_OK && usingMlsd && isNotUnderstood(lastReplyCode)) {
    restartWithList();
    return;
  }
  if (result == CURLE_OK) {
    succeed();
  } else {
    fail(result);
  }
}

// The server does not know MLSD: the same request again with LIST, on the same connection,
// and LIST for every later listing of this control.
void CurlTransferControl::Impl::restartWithList() {
  serverLacksMlsd = true;
  usingMlsd = false;
  received.clear();
  lastReplyCode = 0;
  lastReplyText.clear();
  if (curl_easy_setopt(easy.get(), CURLOPT_CUSTOMREQUEST, "LIST") != CURLE_OK ||
      curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) {
    fail(CURLE_FAILED_INIT);
    return;
  }
  attached = true;
}

void CurlTransferControl::Impl::succeed() {
  if (!receivedWhatWasListed()) {
    fail(CURLE_PARTIAL_FILE);
    return;
  }
  if (download) {
    try {
      if (const auto modified = modificationTime()) download->setModificationTime(*modified);
      download->commit();
    } catch (const Error& error) {
      download.reset();
      responseCode = CURLE_WRITE_ERROR;
      responseInfo = error.description();
      finish(RequestOutcome::Failed);
      return;
    }
    download.reset();
  }
  if (askingTime) rememberExactTime();
  if (listing) {
    const std::time_t now = std::time(nullptr);
    const std::vector<RemoteEntry> entries = scheme == TransferScheme::Sftp
                                                 ? parseSftpListing(received, now)
                                             : usingMlsd ? parseMlsdListing(received)
                                                         : parseListListing(received, now);
    rememberListedEntries(listedDirectory, entries);
    received = formatListing(entries);
  }
  responseCode = static_cast<std::int32_t>(lastReplyCode);
  responseInfo = lastReplyText;
  announceOnce(announcedReceiving, state::kReceivingResponse);
  post(state::kResponseReceived);
  finish(RequestOutcome::Completed);
}

// An SFTP server tells a file's time to the second (libcurl asks for it); a listing in the
// "ls -l" form only to the minute, in the server's own time zone.
std::optional<std::time_t> CurlTransferControl::Impl::modificationTime() {
  curl_off_t exact = -1;
  if (scheme == TransferScheme::Sftp &&
      curl_easy_getinfo(easy.get(), CURLINFO_FILETIME_T, &exact) == CURLE_OK && exact >= 0) {
    return static_cast<std::time_t>(exact);
  }
  if (requested && requested->modified) return requested->modified;
  return std::nullopt;
}

// A server may end a download with success after sending less (or more) than the file holds.
bool CurlTransferControl::Impl::receivedWhatWasListed() {
  if (!requested || !requested->size || *requested->size == bytesReceived) return true;
  noteSizeMismatch(std::to_string(bytesReceived));
  return false;
}

// A server that goes on sending past the listed size would fill the disk before it stopped.
bool CurlTransferControl::Impl::receivedMoreThanListed() {
  if (!requested || !requested->size || bytesReceived <= *requested->size) return false;
  noteSizeMismatch("more");
  return true;
}

void CurlTransferControl::Impl::noteSizeMismatch(const std::string& received) {
  receivingFailure =
      "size mismatch: listed " + std::to_string(*requested->size) + " bytes, received " + received;
}

void CurlTransferControl::Impl::rememberExactTime() {
  const std::optional<std::time_t> exact =
      scheme == TransferScheme::Sftp ? modificationTime() : modifiedTimeReply(lastReplyText);
  if (!exact) return;
  RemoteEntry& entry = listedEntries[askedFile];
  if (entry.name.empty()) entry.name = askedFile.substr(askedFile.find_last_of('/') + 1);
  entry.modified = *exact;
  entry.modifiedToTheSecond = true;
}

void CurlTransferControl::Impl::rememberListedEntries(const std::string& directory,
                                                      const std::vector<RemoteEntry>& entries) {
  for (const RemoteEntry& entry : entries)
    listedEntries.insert_or_assign(joinedDirectory(directory, entry.name), entry);
}

void CurlTransferControl::Impl::fail(CURLcode result) {
  const std::string localFailure =
      download && !download->failure().empty() ? download->failure() : receivingFailure;
  download.reset();
  received.clear();
  if (!localFailure.empty()) {
    responseCode = result;
    responseInfo = localFailure;
  } else if (auto secureFailure = secureFailureText(result)) {
    responseCode = result;
    responseInfo = std::move(*secureFailure);
  } else if (lastReplyCode >= 400) {
    responseCode = static_cast<std::int32_t>(lastReplyCode);
    responseInfo = lastReplyText;
  } else {
    responseCode = result;
    responseInfo = curlText(result, errorBuffer);
  }
  finish(RequestOutcome::Failed);
}

void CurlTransferControl::Impl::cancel() {
  if (phase != Phase::Running) return;
  if (attached) dropConnection();
  download.reset();
  received.clear();
  responseCode = CURLE_ABORTED_BY_CALLBACK;
  responseInfo = "Request cancelled";
  finish(RequestOutcome::Cancelled);
  rewatch();
}

// Ends the request under way by cutting its connection. Taken off before its end, a request
// makes libcurl close it politely, and for SFTP it waits in a loop of its own, at a full core,
// until the server confirms the remote file closed: a server that stopped answering would hold
// a cancel for a minute. Once the connection is shut down every wait of that close ends at
// once, and libcurl discards the connection, which an unfinished request leaves unusable anyway.
void CurlTransferControl::Impl::dropConnection() {
  for (const curl_socket_t socket : openSockets) shutDownConnection(socket);
  curl_multi_remove_handle(multi.get(), easy.get());
  attached = false;
}

// The last state of a request: icResponseCompleted after success, icError otherwise.
void CurlTransferControl::Impl::finish(RequestOutcome result) {
  outcome = result;
  post(result == RequestOutcome::Completed ? state::kResponseCompleted : state::kError);
  phase = Phase::Finished;
}

void CurlTransferControl::Impl::post(std::int16_t stateNumber) {
  ++subscription->undelivered;
  std::weak_ptr<Subscription> target = subscription;
  events.post([target, stateNumber] {
    const auto subscriber = target.lock();
    if (!subscriber) return;
    --subscriber->undelivered;
    if (subscriber->listener) subscriber->listener(stateNumber);
  });
}

void CurlTransferControl::Impl::announceOnce(bool& announced, std::int16_t stateNumber) {
  if (announced) return;
  announced = true;
  post(stateNumber);
}

// Sockets opened before the request proper belong to the control connection; later ones are
// data connections, part of receiving the response.
void CurlTransferControl::Impl::onSocketOpened() {
  if (announcedRequesting) return;
  announceOnce(announcedResolving, state::kResolvingHost);
  announceOnce(announcedResolved, state::kHostResolved);
  announceOnce(announcedConnecting, state::kConnecting);
}

// SFTP sends its request straight after, with no command text of its own to see.
void CurlTransferControl::Impl::onPrerequest() {
  if (announcedConnecting) announceOnce(announcedConnected, state::kConnected);
  announceOnce(announcedRequesting, state::kRequesting);
  if (scheme == TransferScheme::Sftp) announceOnce(announcedSent, state::kRequestSent);
}

void CurlTransferControl::Impl::onCommandSent() {
  if (announcedRequesting) announceOnce(announcedSent, state::kRequestSent);
}

void CurlTransferControl::Impl::onReplyText(std::string_view text) {
  replyBuffer.append(text);
  for (auto end = replyBuffer.find('\n'); end != std::string::npos; end = replyBuffer.find('\n')) {
    std::string line = replyBuffer.substr(0, end);
    replyBuffer.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (const auto code = finalReplyCode(line)) {
      lastReplyCode = *code;
      lastReplyText = std::move(line);
    }
  }
  if (announcedSent) announceOnce(announcedReceiving, state::kReceivingResponse);
}

// An FTP listing is kept as the server sent it (onDataAsSent): libcurl hands it out as text, a
// CR LF and a lone CR or LF all turned into LF, and so a LF within a name into a line end. An
// SFTP listing arrives one directory entry per call, its line ended by LF: the entry is kept
// with a NUL after it, which no name holds, so that the entries stay apart whatever they hold.
bool CurlTransferControl::Impl::onData(const char* data, std::size_t size) {
  announceOnce(announcedReceiving, state::kReceivingResponse);
  bytesReceived += size;
  if (download) return !receivedMoreThanListed() && download->write(data, size);
  if (!listing) {
    received.append(data, size);
    return true;
  }
  if (scheme != TransferScheme::Sftp) return receivingFailure.empty();
  std::string_view entry(data, size);
  if (entry.ends_with('\n')) entry.remove_suffix(1);
  return keepListing(entry) && keepListing(std::string_view("\0", 1));
}

void CurlTransferControl::Impl::onDataAsSent(std::string_view data) {
  if (listing && scheme != TransferScheme::Sftp) keepListing(data);
}

bool CurlTransferControl::Impl::keepListing(std::string_view piece) {
  if (!receivingFailure.empty()) return false;
  if (piece.size() > timeouts.largestListing - std::min(received.size(), timeouts.largestListing)) {
    receivingFailure = "listing too large";
    return false;
  }
  received.append(piece);
  return true;
}

CurlTransferControl::CurlTransferControl(EventPump& events, TransferTimeouts timeouts)
    : impl_(std::make_unique<Impl>(events, timeouts)) {}

CurlTransferControl::~CurlTransferControl() = default;

// Synchronous: the request runs to its end before OpenURL returns. An address ending in "/"
// (or naming no folder) gives the listing, any other the content of the file it names.
TransferData CurlTransferControl::OpenURL(const std::string& URL, std::int16_t datatype) {
  const std::string& target = URL.empty() ? impl_->url : URL;
  const auto port = static_cast<std::uint16_t>(impl_->remotePort);
  FtpAddress address = parseFtpAddress(target, port == 0 ? kFtpPort : port);
  FtpOperation operation;
  if (!target.ends_with('/') && !address.directory.empty()) {
    const auto slash = address.directory.find_last_of('/');
    operation.kind = FtpOperation::Kind::Get;
    operation.remote = address.directory.substr(slash == std::string::npos ? 0 : slash + 1);
    address.directory.resize(slash == std::string::npos ? 0 : std::max<std::size_t>(slash, 1));
  }
  impl_->startAt(address, operation);
  impl_->waitUntilIdle(*this);
  if (impl_->outcome != RequestOutcome::Completed) {
    throw Error(errc::kTransferOpenUrlFailed, "OpenURL failed: " + impl_->responseInfo);
  }
  return GetChunk(static_cast<std::int32_t>(impl_->received.size()), datatype);
}

void CurlTransferControl::Execute(const std::string& URL, const ExecuteArguments& arguments) {
  const std::string operation =
      !arguments.empty() && arguments.front() ? *arguments.front() : std::string();
  if (operation.empty()) {
    throw Error(errc::kTransferBadOperation, "An FTP request needs the operation DIR or GET");
  }
  impl_->start(URL, parseFtpOperation(operation));
}

std::string CurlTransferControl::GetHeader(const std::optional<std::string>&) {
  return {};
}

TransferData CurlTransferControl::GetChunk(std::int32_t size, std::int32_t datatype) {
  const std::string_view rest = std::string_view(impl_->received).substr(impl_->chunkOffset);
  const std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
  const std::size_t taken = datatype == 0 ? textCut(rest, wanted) : std::min(wanted, rest.size());
  impl_->chunkOffset += taken;
  if (datatype == 0) return std::string(rest.substr(0, taken));
  return std::vector<unsigned char>(rest.begin(), rest.begin() + static_cast<long>(taken));
}

std::optional<RemoteEntry> CurlTransferControl::ListedFile(const std::string& URL,
                                                           const std::string& remote) {
  const FtpAddress address = impl_->addressOf(URL);
  const auto listed = impl_->listedEntries.find(joinedDirectory(address.directory, remote));
  if (listed == impl_->listedEntries.end()) return std::nullopt;
  return listed->second;
}

void CurlTransferControl::TakeListedFile(const std::string& URL, const std::string& remote,
                                         const RemoteEntry& entry) {
  impl_->listedEntries.insert_or_assign(joinedDirectory(impl_->addressOf(URL).directory, remote),
                                        entry);
}

std::optional<std::time_t> CurlTransferControl::ExactModifiedTime(const std::string& URL,
                                                                  const std::string& remote) {
  FtpOperation operation;
  operation.kind = FtpOperation::Kind::ModifiedTime;
  operation.remote = remote;
  impl_->startAt(impl_->addressOf(URL), operation);
  impl_->waitUntilIdle(*this);
  if (impl_->outcome != RequestOutcome::Completed) return std::nullopt;
  const std::optional<RemoteEntry> listed = ListedFile(URL, remote);
  if (!listed || !listed->modifiedToTheSecond) return std::nullopt;
  return listed->modified;
}

void CurlTransferControl::Cancel() {
  impl_->cancel();
}

bool CurlTransferControl::StillExecuting() {
  switch (impl_->phase) {
    case Impl::Phase::Idle:
      return false;
    case Impl::Phase::Finished:
      if (impl_->subscription->undelivered > 0) return true;
      impl_->phase = Impl::Phase::Idle;
      return false;
    case Impl::Phase::Running:
      return true;
  }
  return false;
}

RequestOutcome CurlTransferControl::Outcome() {
  return impl_->outcome;
}

std::int32_t CurlTransferControl::ResponseCode() {
  return impl_->responseCode;
}
std::string CurlTransferControl::ResponseInfo() {
  return impl_->responseInfo;
}

std::int32_t CurlTransferControl::AccessType() {
  return impl_->accessType;
}
void CurlTransferControl::AccessType(std::int32_t vData) {
  impl_->accessType = vData;
}
std::int32_t CurlTransferControl::Protocol() {
  return impl_->protocol;
}
void CurlTransferControl::Protocol(std::int32_t vData) {
  impl_->protocol = vData;
}
std::int16_t CurlTransferControl::RemotePort() {
  return impl_->remotePort;
}
void CurlTransferControl::RemotePort(std::int16_t vData) {
  impl_->remotePort = vData;
}
std::int32_t CurlTransferControl::RequestTimeout() {
  return impl_->requestTimeout;
}
void CurlTransferControl::RequestTimeout(std::int32_t vData) {
  impl_->requestTimeout = vData;
}
std::string CurlTransferControl::URL() {
  return impl_->url;
}

void CurlTransferControl::URL(const std::string& vData) {
  impl_->url = vData;
  try {
    impl_->remoteHost = parseFtpAddress(vData, kFtpPort).host;
  } catch (const Error&) {
    // An address that cannot be used is reported when a request is made with it.
  }
}

std::string CurlTransferControl::UserName() {
  return impl_->userName;
}
void CurlTransferControl::UserName(const std::string& vData) {
  impl_->userName = vData;
}
std::string CurlTransferControl::Password() {
  return impl_->password;
}
void CurlTransferControl::Password(const std::string& vData) {
  impl_->password = vData;
}
std::string CurlTransferControl::RemoteHost() {
  return impl_->remoteHost;
}
void CurlTransferControl::RemoteHost(const std::string& vData) {
  impl_->remoteHost = vData;
}
std::string CurlTransferControl::Proxy() {
  return impl_->proxy;
}
void CurlTransferControl::Proxy(const std::string& vData) {
  impl_->proxy = vData;
}
std::int32_t CurlTransferControl::hInternet() {
  return 0;
}
std::string CurlTransferControl::Document() {
  return impl_->document;
}
void CurlTransferControl::Document(const std::string& vData) {
  impl_->document = vData;
}

std::string CurlTransferControl::KeyFile() {
  return impl_->keyFile;
}
void CurlTransferControl::KeyFile(const std::string& vData) {
  impl_->keyFile = vData;
}
std::string CurlTransferControl::Trust() {
  return impl_->trust;
}
void CurlTransferControl::Trust(const std::string& vData) {
  impl_->trust = vData;
}

void CurlTransferControl::SubscribeStateChanged(StateListener listener) {
  impl_->subscription->listener = std::move(listener);
}

}  // namespace quillfen
