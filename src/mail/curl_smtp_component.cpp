#include "mail/curl_smtp_component.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/error.h"
#include "common/text.h"
#include "curl/curl_error.h"
#include "curl/curl_global.h"
#include "curl/curl_socket.h"
#include "curl/tls_trust.h"

namespace quillfen {

namespace {

// A failure of libcurl itself, before the exchange: no handle, a refused setting.
constexpr int kLibcurlFailure = errc::kMailTransportOther;

// The message handed to libcurl piece by piece, made as libcurl asks for it. libcurl dot-stuffs
// SMTP uploads itself and appends the final "." line, so the text goes as it is.
struct Upload {
  mail::WireMessage* message = nullptr;
  // The last sign of life of the exchange (the connection made, a piece of the message taken,
  // a reply line received), and whether a wait after it outlasted the bound.
  std::optional<std::chrono::steady_clock::time_point> lastActivity;
  std::chrono::seconds replyBound{};
  CURL* handle = nullptr;
  std::chrono::steady_clock::time_point started;  // when the exchange began
  curl_socket_t socket = CURL_SOCKET_BAD;
  bool replyTimedOut = false;
};

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& upload = *static_cast<Upload*>(user);
  const std::size_t n = upload.message->read(buffer, size * count);
  upload.lastActivity = std::chrono::steady_clock::now();
  return n;
}

// Connecting has a bound of its own (libcurl's); the wait for the greeting counts from the
// moment the connection was made. False while it is not made yet.
bool noteConnection(Upload& upload) {
  curl_off_t connectedAfter = 0;  // microseconds from the start of the exchange
  if (curl_easy_getinfo(upload.handle, CURLINFO_CONNECT_TIME_T, &connectedAfter) != CURLE_OK ||
      connectedAfter <= 0) {
    return false;
  }
  upload.lastActivity = upload.started + std::chrono::microseconds(connectedAfter);
  return true;
}

// libcurl bounds each reply by CURLOPT_SERVER_RESPONSE_TIMEOUT, but after a time-out it sends
// QUIT and waits for its answer just as long, and it waits twice the bound for the reply to
// the message's end: a server that stopped answering held the run for twice the bound
// (libcurl 7.88). This guard, called at least once a second while libcurl waits and with every
// line of a reply, ends any wait at the bound and shuts the connection down, so that no QUIT
// wait follows. (The wait for the reply to the message's end may happen where libcurl calls no
// progress function, but it still hands over each line that arrives.)
bool replyWaitOutlasted(Upload& upload) {
  if (!upload.lastActivity && !noteConnection(upload)) return false;
  upload.replyTimedOut =
      std::chrono::steady_clock::now() - *upload.lastActivity >= upload.replyBound;
  if (!upload.replyTimedOut) return false;
  if (upload.socket != CURL_SOCKET_BAD) shutDownConnection(upload.socket);
  return true;
}

int guardEveryReply(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return replyWaitOutlasted(*static_cast<Upload*>(user)) ? 1 : 0;
}

// Notes the connection's socket for the guard below.
int noteSocket(void* user, curl_socket_t socket, curlsocktype) {
  static_cast<Upload*>(user)->socket = socket;
  return CURL_SOCKOPT_OK;
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

struct Dialogue {
  ServerReplies& replies;
  Upload& upload;
};

// The last line of a reply ("250 OK") ends a wait and the next command follows at once; its
// other lines ("250-...") do not, or a server could hold the wait open line by line.
std::size_t collectReply(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& dialogue = *static_cast<Dialogue*>(user);
  const std::string_view line(buffer, size * count);
  if (line.size() < 4 || line[3] != '-') {
    dialogue.upload.lastActivity = std::chrono::steady_clock::now();
  } else if (replyWaitOutlasted(dialogue.upload)) {
    return 0;
  }
  dialogue.replies.addLine(line);
  return size * count;
}

// smtp://host:port (smtps:// for TLS from the first byte), or nothing when the settings cannot
// name a server. Only characters of host names and address literals are taken, so that no
// setting can change the URL's meaning.
std::optional<std::string> serverUrl(std::string_view serverText, std::int32_t port,
                                     MailSecurityMode security) {
  const std::string host(trimmed(serverText));
  const bool hostUsable = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u >= 0x80 || std::strchr(".-_:[]", c) != nullptr;
  });
  if (!hostUsable || port < 1 || port > 65535) return std::nullopt;
  const bool bareIpv6 = host.find(':') != std::string::npos && host.front() != '[';
  const char* scheme = security == MailSecurityMode::Tls ? "smtps://" : "smtp://";
  return scheme + (bareIpv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// An empty recipient: the exchange only checks the connection, with a NOOP.
struct Exchange {
  std::string url;
  std::string from;  // envelope addresses
  std::string to;
  mail::WireMessage* message;  // none for the connection check
  SmtpBounds bounds;
  const SmtpSecurity& security;
};

struct ExchangeOutcome {
  CURLcode code = CURLE_OK;
  std::string curlText;
  ServerReplies replies;
  PresentedKey presented;
};

std::size_t discardReply(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// TLS with the trust MailTrust names, and the login, which libcurl sends only once TLS is up:
// CURLUSESSL_ALL makes a server without STARTTLS end the exchange before anything is sent.
void secure(CURL* curl, const SmtpSecurity& security, PresentedKey& presented) {
  const auto set = [curl](CURLoption option, auto value) {
    setOption(curl, option, value, kLibcurlFailure);
  };
  if (security.mode == MailSecurityMode::None) {
    if (!security.userName.empty()) {
      throw Error(kLibcurlFailure,
                  "A login is never sent unencrypted: MailUserName needs "
                  "MailSecurity starttls or tls");
    }
    return;
  }
  set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  // The file may have changed since the settings loaded: its certificates are read now.
  checkTlsTrust("MailTrust", security.trust, kLibcurlFailure);
  applyTlsTrust(curl, security.trust, presented, kLibcurlFailure);
  if (security.userName.empty()) return;
  set(CURLOPT_USERNAME, security.userName.c_str());
  set(CURLOPT_PASSWORD, security.password.c_str());
}

// What the exchange sends: the message to its recipient, or only a NOOP.
void setPayload(CURL* curl, const Exchange& exchange, curl_slist* recipients, Upload& upload) {
  const auto set = [curl](CURLoption option, auto value) {
    setOption(curl, option, value, kLibcurlFailure);
  };
  if (exchange.to.empty()) {
    set(CURLOPT_CUSTOMREQUEST, "NOOP");
    set(CURLOPT_WRITEFUNCTION, discardReply);
    return;
  }
  set(CURLOPT_MAIL_FROM, ("<" + exchange.from + ">").c_str());
  set(CURLOPT_MAIL_RCPT, recipients);
  set(CURLOPT_UPLOAD, 1L);
  set(CURLOPT_READFUNCTION, readUpload);
  set(CURLOPT_READDATA, &upload);
}

void configure(CURL* curl, const Exchange& exchange, curl_slist* recipients, Upload& upload,
               Dialogue& dialogue, char* errorText, PresentedKey& presented) {
  const auto set = [curl](CURLoption option, auto value) {
    setOption(curl, option, value, kLibcurlFailure);
  };
  set(CURLOPT_URL, exchange.url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  // The mail server is reached directly, whatever proxy the environment names.
  set(CURLOPT_PROXY, "");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_ERRORBUFFER, errorText);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(exchange.bounds.connect.count()));
  set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(exchange.bounds.reply.count()));
  // A server that stops reading the message would otherwise hold the upload for ever.
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(exchange.bounds.reply.count()));
  setPayload(curl, exchange, recipients, upload);
  secure(curl, exchange.security, presented);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, guardEveryReply);
  set(CURLOPT_XFERINFODATA, &upload);
  set(CURLOPT_SOCKOPTFUNCTION, noteSocket);
  set(CURLOPT_SOCKOPTDATA, &upload);
  set(CURLOPT_HEADERFUNCTION, collectReply);
  set(CURLOPT_HEADERDATA, &dialogue);
}

// Raises Error(kLibcurlFailure) when libcurl fails before the exchange begins.
ExchangeOutcome perform(const Exchange& exchange) {
  ExchangeOutcome outcome;
  const EasyHandle curl = newEasyHandle(kLibcurlFailure);
  SlistHandle recipients;
  if (!exchange.to.empty()) appendToSlist(recipients, "<" + exchange.to + ">", kLibcurlFailure);
  Upload upload;
  upload.message = exchange.message;
  upload.replyBound = exchange.bounds.reply;
  upload.handle = curl.get();
  Dialogue dialogue{outcome.replies, upload};
  char errorText[CURL_ERROR_SIZE] = "";
  configure(curl.get(), exchange, recipients.get(), upload, dialogue, errorText, outcome.presented);
  upload.started = std::chrono::steady_clock::now();
  outcome.code = curl_easy_perform(curl.get());
  if (upload.replyTimedOut) {
    outcome.code = CURLE_OPERATION_TIMEDOUT;
    std::snprintf(errorText, sizeof errorText, "no reply from the server in %lld s",
                  static_cast<long long>(upload.replyBound.count()));
  }
  outcome.curlText = curlText(outcome.code, errorText);
  return outcome;
}

// libcurl's text, and the server's refusal when there was one.
std::string detailOf(const ExchangeOutcome& outcome) {
  const std::string& refusal = outcome.replies.refusal();
  return outcome.curlText + (refusal.empty() ? "" : " (the server said: " + refusal + ")");
}

// Failures of the secured connection and the login come first: the server's reply to a
// STARTTLS or AUTH it refused is not a refusal of the message. Otherwise a refusal by the
// server carries its reply; a time-out wins over any earlier refusal, which is then not the
// cause.
Error failureOf(const ExchangeOutcome& outcome, const std::string& where,
                const std::string& recipient) {
  if (isUntrustedServer(outcome.code)) {
    return Error(mailErrorNumber(outcome.code),
                 untrustedServerText("MailTrust", outcome.presented,
                                     "mail server " + where + ": " + outcome.curlText));
  }
  switch (outcome.code) {
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_LOGIN_DENIED:
      return mailTransportError(outcome.code, where, detailOf(outcome));
    default:
      break;
  }
  const ServerReplies& replies = outcome.replies;
  if (outcome.code != CURLE_OPERATION_TIMEDOUT && replies.refusalCode() != 0) {
    const std::string what =
        recipient.empty() ? "the connection check" : "the message to '" + recipient + "'";
    return Error(errc::kMailFirst + replies.refusalCode(),
                 "The mail server " + where + " refused " + what + ": " + replies.refusal());
  }
  return mailTransportError(outcome.code, where, outcome.curlText);
}

// The server's bare reply code, or the transport code: numbers above the transport range are
// 36000 + a reply code.
std::int32_t resultValueOf(const Error& failure) {
  return failure.number() > errc::kMailTransportOther ? failure.number() - errc::kMailFirst
                                                      : failure.number();
}

}  // namespace

CurlSmtpComponent::CurlSmtpComponent(SmtpBounds bounds, WallClock wallClock)
    : bounds_(bounds), wallClock_(std::move(wallClock)) {
  ensureCurlInitialised();
}

void CurlSmtpComponent::newMessage() {
  message_ = {};
  dated_ = false;
}

void CurlSmtpComponent::setSender(const std::string& sender) {
  message_.sender = sender;
}

void CurlSmtpComponent::setRecipient(const std::string& recipient) {
  message_.recipient = recipient;
}

void CurlSmtpComponent::setDateText(const std::string&) {
  message_.date = wallClock_();
  dated_ = true;
}

void CurlSmtpComponent::setSubject(const std::string& subject) {
  message_.subject = subject;
}

void CurlSmtpComponent::setMessageText(std::vector<std::string_view> text) {
  message_.text = std::move(text);
}

void CurlSmtpComponent::setServer(const std::string& server) {
  server_ = server;
}

void CurlSmtpComponent::setPort(std::int32_t port) {
  port_ = port;
}

void CurlSmtpComponent::setSecurity(const SmtpSecurity& security) {
  security_ = security;
}

void CurlSmtpComponent::send() {
  const std::string recipient = mail::envelopeAddress(message_.recipient);
  if (recipient.empty()) {
    result_ = errc::kMailNoRecipient;
    return;
  }
  mail::MessageParts parts = message_;
  if (!dated_) parts.date = wallClock_();
  parts.messageId = mail::newMessageId(parts.sender);
  mail::WireMessage wire(parts);
  exchange(mail::envelopeAddress(parts.sender), recipient, &wire);
}

void CurlSmtpComponent::verifyConnection() {
  exchange({}, {}, nullptr);
}

void CurlSmtpComponent::exchange(const std::string& from, const std::string& to,
                                 mail::WireMessage* wire) {
  const std::string where = std::string(trimmed(server_)) + ":" + std::to_string(port_);
  const std::optional<std::string> url = serverUrl(server_, port_, security_.mode);
  if (!url) {
    result_ = errc::kMailBadServer;
    throw Error(errc::kMailBadServer,
                "MailServer and MailPort name no mail server: '" + where + "'");
  }
  // What raises before the exchange ends is a failure of libcurl itself.
  result_ = kLibcurlFailure;
  const ExchangeOutcome outcome = perform({*url, from, to, wire, bounds_, security_});
  if (outcome.code == CURLE_OK) {
    result_ = 0;
    return;
  }
  Error failure = failureOf(outcome, where, to);
  result_ = resultValueOf(failure);
  throw failure;
}

}  // namespace quillfen
