#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "mail/internet_message.h"
#include "mail/smtp_component.h"

namespace quillfen {

// How long the component waits on a mail server before it gives up.
struct SmtpBounds {
  std::chrono::milliseconds connect{30'000};
  std::chrono::seconds reply{60};  // for each reply, and for a stalled upload of the message
};

// The mail component over libcurl's SMTP support: plain SMTP, STARTTLS required or TLS from the
// first byte, with a login when one is set; one envelope recipient per message. A blank recipient
// sends nothing and leaves the result value "no recipient" without raising; every other failure of
// the exchange raises an Error carrying the server's reply or the transport failure (numbers in
// common/error.h).
class CurlSmtpComponent final : public SmtpComponent {
 public:
  using WallClock = std::function<std::time_t()>;

  // Throws Error when libcurl cannot start.
  explicit CurlSmtpComponent(SmtpBounds bounds = {}, WallClock wallClock = systemWallClock);

  void newMessage() override;
  void setSender(const std::string& sender) override;
  void setRecipient(const std::string& recipient) override;
  void setDateText(const std::string& dateText) override;
  void setSubject(const std::string& subject) override;
  void setMessageText(std::vector<std::string_view> text) override;
  void setServer(const std::string& server) override;
  void setPort(std::int32_t port) override;
  void setSecurity(const SmtpSecurity& security) override;
  std::int32_t resultValue() const override { return result_; }
  void send() override;
  void verifyConnection() override;

 private:
  static std::time_t systemWallClock() { return std::time(nullptr); }
  // One exchange with the server: the message from `from` to `to`, or, with no recipient, a
  // NOOP alone. Raises the failure and keeps its result value.
  void exchange(const std::string& from, const std::string& to, mail::WireMessage* wire);

  SmtpBounds bounds_;
  WallClock wallClock_;
  mail::MessageParts message_;
  // The date text is the program's local rendering, unfit for a header; the header is made
  // from the moment it was written instead.
  bool dated_ = false;
  std::string server_;
  std::int32_t port_ = 25;
  SmtpSecurity security_;
  std::int32_t result_ = 0;
};

}  // namespace quillfen
