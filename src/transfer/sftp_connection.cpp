// SFTP: one SSH session, its host key checked and its login made as SftpLogin sets them.
#include "transfer/curl_connection.h"
#include "transfer/sftp_login.h"

namespace quillfen {

namespace {

class SftpConnection final : public CurlConnection {
 public:
  SftpConnection(const FtpAddress& server, const ConnectionLogin& login, EventPump& events,
                 const TransferTimeouts& timeouts, Notify notify)
      : CurlConnection(server, login, events, timeouts, std::move(notify)) {}

 private:
  // libcurl asks for a downloaded file's time (FILETIME), which SFTP gives to the second.
  void configureSession() override {
    set(CURLOPT_PROTOCOLS_STR, curlProtocolOf(TransferScheme::Sftp));
    set(CURLOPT_FILETIME, 1L);
  }

  // A URL ending in "/" lists in the "ls -l" form, one line per entry. A file's time is asked
  // for by its attributes. Each request starts with a fresh note of the host key and of why a
  // key file could not be used.
  void prepare(FtpAddress address, const FtpOperation& operation) override {
    sftp_.configure(easy(), login().trust, login().keyFile, login().password,
                    errc::kTransferInternal);
    const bool listing = operation.kind == FtpOperation::Kind::List;
    set(CURLOPT_URL, curlUrl(address, listing ? std::string() : operation.remote).c_str());
  }

  // A listing arrives one directory entry per call, its line ended by LF: the entry is kept
  // with a NUL after it, which no name holds, so that the entries stay apart whatever they hold.
  bool takeListingData(std::string_view entry) override {
    if (entry.ends_with('\n')) entry.remove_suffix(1);
    return keepListing(entry) && keepListing(std::string_view("\0", 1));
  }

  void noteVerbose(curl_infotype type, std::string_view text) override {
    if (type == CURLINFO_TEXT) sftp_.noteVerboseText(text);
  }

  std::vector<RemoteEntry> parseListing(std::string_view text, std::time_t now) const override {
    return parseSftpListing(text, now);
  }

  bool retryAfter(CURLcode) override { return false; }

  std::optional<std::string> secureFailureText(CURLcode result) const override {
    return sftp_.failureText(result, curlText(result, errorBuffer()));
  }

  std::optional<std::time_t> toldExactTime() const override {
    curl_off_t exact = -1;
    if (curl_easy_getinfo(easy(), CURLINFO_FILETIME_T, &exact) != CURLE_OK || exact < 0)
      return std::nullopt;
    return static_cast<std::time_t>(exact);
  }

  // SFTP sends its request straight after the login, with no command text of its own to see.
  bool sendsWithoutCommands() const override { return true; }

  // libcurl bounds an SFTP request only while it connects and while a file streams: a server
  // that stops answering a listing or the opening of a file would hold it for ever.
  std::optional<std::chrono::steady_clock::time_point> silenceLimit() const override {
    return lastHeard() + timeouts().reply;
  }

  SftpLogin sftp_;
};

}  // namespace

std::unique_ptr<CurlConnection> newSftpConnection(const FtpAddress& server,
                                                  const ConnectionLogin& login, EventPump& events,
                                                  const TransferTimeouts& timeouts,
                                                  CurlConnection::Notify notify) {
  return std::make_unique<SftpConnection>(server, login, events, timeouts, std::move(notify));
}

}  // namespace quillfen
