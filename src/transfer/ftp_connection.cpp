// FTP, and FTP over TLS (ftpes, ftps), on one control connection: passive mode, EPSV before
// PASV. "DIR" lists with MLSD, or with LIST when the server does not know MLSD.
#include <algorithm>
#include <cctype>

#include "common/date.h"
#include "curl/tls_trust.h"
#include "transfer/curl_connection.h"

namespace quillfen {

namespace {

// The setting that says whom to trust, named in the texts that ask the user to change it.
constexpr const char* kTrustKey = "FtpTrust";

// The replies by which a server says it does not know a command.
bool isNotUnderstood(long code) {
  return code == 500 || code == 501 || code == 502 || code == 504;
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

class FtpConnection final : public CurlConnection {
 public:
  FtpConnection(const FtpAddress& server, const ConnectionLogin& login, EventPump& events,
                const TransferTimeouts& timeouts, Notify notify)
      : CurlConnection(server, login, events, timeouts, std::move(notify)),
        tls_(isFtpOverTls(server.scheme)),
        scheme_(server.scheme) {}

 private:
  // TLS for ftpes and ftps covers the login and every data connection; a server that cannot
  // switch to it is refused rather than used in clear.
  void configureSession() override {
    set(CURLOPT_PROTOCOLS_STR, curlProtocolOf(scheme_));
    set(CURLOPT_FTP_USE_EPSV, 1L);
    // Servers behind NAT often announce an address that cannot be reached: the data
    // connection goes to the server the control connection reached.
    set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
    set(CURLOPT_USE_SSL, static_cast<long>(tls_ ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    if (tls_) {
      // The file may have changed since the settings loaded: its certificates are read now.
      checkTlsTrust(kTrustKey, login().trust, errc::kTransferInternal);
      applyTlsTrust(easy(), login().trust, presentedKey_, errc::kTransferInternal);
    }
  }

  // The server is asked for a file's time with MDTM after libcurl changed into the file's
  // folder: a request for that folder without a body, whose only command of its own is the
  // MDTM sent after it.
  void prepare(FtpAddress address, const FtpOperation& operation) override {
    const bool listing = operation.kind == FtpOperation::Kind::List;
    const bool askingTime = operation.kind == FtpOperation::Kind::ModifiedTime;
    postQuote_.reset();
    if (askingTime) {
      const auto slash = operation.remote.find_last_of('/');
      if (slash != std::string::npos) {
        address.directory = joinedDirectory(address.directory, operation.remote.substr(0, slash));
      }
      appendToSlist(postQuote_, "MDTM " + operation.remote.substr(slash + 1),
                    errc::kTransferInternal);
    }
    set(CURLOPT_POSTQUOTE, postQuote_.get());
    const bool wholeFolder = listing || askingTime;
    set(CURLOPT_URL, curlUrl(address, wholeFolder ? std::string() : operation.remote).c_str());
    usingMlsd_ = listing && !serverLacksMlsd_;
    set(CURLOPT_CUSTOMREQUEST, listing ? (usingMlsd_ ? "MLSD" : "LIST") : nullptr);
  }

  // A listing is kept as the server sent it (noteVerbose): libcurl hands it out as text, a
  // CR LF and a lone CR or LF all turned into LF, and so a LF within a name into a line end.
  bool takeListingData(std::string_view) override { return !listingRefused(); }

  void noteVerbose(curl_infotype type, std::string_view text) override {
    if (type == CURLINFO_DATA_IN && listingUnderWay()) keepListing(text);
  }

  std::vector<RemoteEntry> parseListing(std::string_view text, std::time_t now) const override {
    return usingMlsd_ ? parseMlsdListing(text) : parseListListing(text, now);
  }

  // The server does not know MLSD: the same request again with LIST, on the same connection,
  // and LIST for every later listing of this connection.
  bool retryAfter(CURLcode) override {
    if (!usingMlsd_ || !isNotUnderstood(lastReplyCode())) return false;
    serverLacksMlsd_ = true;
    usingMlsd_ = false;
    return curl_easy_setopt(easy(), CURLOPT_CUSTOMREQUEST, "LIST") == CURLE_OK;
  }

  std::optional<std::string> secureFailureText(CURLcode result) const override {
    if (!tls_) return std::nullopt;
    if (result == CURLE_USE_SSL_FAILED) {
      return "The server does not offer TLS, which ftpes:// requires; nothing was sent in clear";
    }
    if (isUntrustedServer(result)) {
      return untrustedServerText(kTrustKey, presentedKey_, curlText(result, errorBuffer()));
    }
    return std::nullopt;
  }

  std::optional<std::time_t> toldExactTime() const override {
    return modifiedTimeReply(lastReplyText());
  }

  bool sendsWithoutCommands() const override { return false; }

  std::optional<std::chrono::steady_clock::time_point> silenceLimit() const override {
    return std::nullopt;
  }

  const bool tls_;
  const TransferScheme scheme_;
  PresentedKey presentedKey_;  // of the FTPS server, noted during the TLS handshake
  SlistHandle postQuote_;
  bool usingMlsd_ = false;
  bool serverLacksMlsd_ = false;
};

}  // namespace

std::unique_ptr<CurlConnection> newFtpConnection(const FtpAddress& server,
                                                 const ConnectionLogin& login, EventPump& events,
                                                 const TransferTimeouts& timeouts,
                                                 CurlConnection::Notify notify) {
  return std::make_unique<FtpConnection>(server, login, events, timeouts, std::move(notify));
}

}  // namespace quillfen
