#include "mail/curl_smtp_component.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "common/error.h"
#include "common/trim.h"
#include "curl/curl_global.h"

namespace quillfen {

namespace {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// The message handed to libcurl piece by piece. libcurl dot-stuffs SMTP uploads itself and
// appends the final "." line, so the text goes as it is.
struct Upload {
  std::string_view data;
  std::size_t offset = 0;
};

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& upload = *static_cast<Upload*>(user);
  const std::size_t n = std::min(size * count, upload.data.size() - upload.offset);
  std::memcpy(buffer, upload.data.data() + upload.offset, n);
  upload.offset += n;
  return n;
}

// The server's refusal that ended the exchange, if any. libcurl passes every reply line of
// the dialogue to the header callback; a reply of several lines ("550-...", "550 ...") is
// kept whole. A later positive reply takes a refusal back (EHLO refused, HELO accepted),
// except the 221 that answers the QUIT libcurl sends after a failure.
class ServerReplies {
 public:
  void addLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        })) {
      return;
    }
    if (complete_) {
      code_ = std::stoi(std::string(line.substr(0, 3)));
      text_.clear();
    }
    const std::string_view words = line.size() > 4 ? line.substr(4) : std::string_view();
    if (!text_.empty() && !words.empty()) text_ += ' ';
    text_ += words;
    complete_ = line.size() == 3 || line[3] != '-';
    if (complete_) settle();
  }

  int refusalCode() const { return refusalCode_; }
  const std::string& refusal() const { return refusal_; }

 private:
  void settle() {
    if (code_ >= 400) {
      refusalCode_ = code_;
      refusal_ = std::to_string(code_) + (text_.empty() ? "" : " " + text_);
    } else if (code_ != kClosing) {
      refusalCode_ = 0;
      refusal_.clear();
    }
  }

  static constexpr int kClosing = 221;
  int code_ = 0;
  std::string text_;
  bool complete_ = true;
  int refusalCode_ = 0;
  std::string refusal_;
};

std::size_t collectReply(char* buffer, std::size_t size, std::size_t count, void* user) {
  static_cast<ServerReplies*>(user)->addLine(std::string_view(buffer, size * count));
  return size * count;
}

// smtp://host:port, or nothing when the settings cannot name a server. Only characters of
// host names and address literals are taken, so that no setting can change the URL's meaning.
std::optional<std::string> serverUrl(std::string_view serverText, std::int32_t port) {
  const std::string host(trimmed(serverText));
  const bool hostUsable = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u >= 0x80 || std::strchr(".-_:[]", c) != nullptr;
  });
  if (!hostUsable || port < 1 || port > 65535) return std::nullopt;
  const bool bareIpv6 = host.find(':') != std::string::npos && host.front() != '[';
  return "smtp://" + (bareIpv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

struct Exchange {
  std::string url;
  std::string from;  // envelope addresses
  std::string to;
  std::string_view message;
  SmtpBounds bounds;
};

struct ExchangeOutcome {
  CURLcode code = CURLE_OK;
  std::string curlText;
  ServerReplies replies;
};

void configure(CURL* curl, const Exchange& exchange, curl_slist* recipients, Upload& upload,
               ServerReplies& replies, char* errorText) {
  curl_easy_setopt(curl, CURLOPT_URL, exchange.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp");
  // The mail server is reached directly, whatever proxy the environment names.
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(exchange.bounds.connect.count()));
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   static_cast<long>(exchange.bounds.reply.count()));
  // A server that stops reading the message would otherwise hold the upload for ever.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(exchange.bounds.reply.count()));
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + exchange.from + ">").c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, readUpload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectReply);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &replies);
}

ExchangeOutcome perform(const Exchange& exchange) {
  ExchangeOutcome outcome;
  CurlEasy curl(curl_easy_init());
  CurlSlist recipients(curl_slist_append(nullptr, ("<" + exchange.to + ">").c_str()));
  if (!curl || !recipients) {
    outcome.code = CURLE_OUT_OF_MEMORY;
    return outcome;
  }
  Upload upload{exchange.message};
  char errorText[CURL_ERROR_SIZE] = "";
  configure(curl.get(), exchange, recipients.get(), upload, outcome.replies, errorText);
  outcome.code = curl_easy_perform(curl.get());
  outcome.curlText = errorText[0] != '\0' ? errorText : curl_easy_strerror(outcome.code);
  return outcome;
}

SmtpStatus transportFailure(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return {errc::kMailHostNotFound, "The mail server cannot be found"};
    case CURLE_COULDNT_CONNECT:
      return {errc::kMailCannotConnect, "Cannot connect to the mail server"};
    case CURLE_OPERATION_TIMEDOUT:
      return {errc::kMailTimedOut, "The mail server did not answer in time"};
    case CURLE_URL_MALFORMAT:
      return {errc::kMailBadServer, "MailServer and MailPort name no mail server"};
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return {errc::kMailConnectionLost, "The mail server ended the conversation"};
    default:
      return {errc::kMailTransportOther, "The message could not be sent"};
  }
}

// A refusal by the server carries its reply; a time-out wins over any earlier refusal, which
// is then not the cause.
SmtpStatus statusOf(const ExchangeOutcome& outcome, const std::string& where,
                    const std::string& recipient) {
  if (outcome.code == CURLE_OK) return SmtpStatus::success();
  const ServerReplies& replies = outcome.replies;
  if (outcome.code != CURLE_OPERATION_TIMEDOUT && replies.refusalCode() != 0) {
    return {errc::kMailFirst + replies.refusalCode(), "The mail server " + where +
                                                          " refused the message to '" + recipient +
                                                          "': " + replies.refusal()};
  }
  SmtpStatus status = transportFailure(outcome.code);
  status.description += " (" + where + "): " + outcome.curlText;
  return status;
}

// 0, the server's bare reply code, or the transport code: numbers above the transport range
// are 36000 + a reply code.
std::int32_t resultValueOf(const SmtpStatus& status) {
  if (status.ok()) return 0;
  return status.number > errc::kMailTransportOther ? status.number - errc::kMailFirst
                                                   : status.number;
}

}  // namespace

CurlSmtpComponent::CurlSmtpComponent(SmtpBounds bounds, WallClock wallClock)
    : bounds_(bounds), wallClock_(std::move(wallClock)) {
  ensureCurlInitialised();
}

SmtpStatus CurlSmtpComponent::newMessage() {
  message_ = {};
  dated_ = false;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setSender(const std::string& sender) {
  message_.sender = sender;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setRecipient(const std::string& recipient) {
  message_.recipient = recipient;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setDateText(const std::string&) {
  message_.date = wallClock_();
  dated_ = true;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setSubject(const std::string& subject) {
  message_.subject = subject;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setMessageText(const std::string& text) {
  message_.text = text;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setServer(const std::string& server) {
  server_ = server;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::setPort(std::int32_t port) {
  port_ = port;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::resultValue(std::int32_t& result) {
  result = result_;
  return SmtpStatus::success();
}

SmtpStatus CurlSmtpComponent::send() {
  const std::string recipient = mail::envelopeAddress(message_.recipient);
  if (recipient.empty()) {
    result_ = errc::kMailNoRecipient;
    return SmtpStatus::success();
  }
  const std::string where = std::string(trimmed(server_)) + ":" + std::to_string(port_);
  const std::optional<std::string> url = serverUrl(server_, port_);
  if (!url) {
    result_ = errc::kMailBadServer;
    return {errc::kMailBadServer, "MailServer and MailPort name no mail server: '" + where + "'"};
  }
  mail::MessageParts parts = message_;
  if (!dated_) parts.date = wallClock_();
  parts.messageId = mail::newMessageId(parts.sender);
  const std::string wire = mail::composeInternetMessage(parts);

  const ExchangeOutcome outcome =
      perform({*url, mail::envelopeAddress(parts.sender), recipient, wire, bounds_});
  SmtpStatus status = statusOf(outcome, where, recipient);
  result_ = resultValueOf(status);
  return status;
}

}  // namespace quillfen
