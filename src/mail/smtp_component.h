#pragma once

#include <cstdint>
#include <string>

namespace quillfen {

// What every call on the mail component returns instead of throwing: zero for success, or an
// error number of the mail range (see common/error.h) with a description fit for the user.
struct SmtpStatus {
  int number = 0;
  std::string description;

  bool ok() const { return number == 0; }
  static SmtpStatus success() { return {}; }
};

// The SMTP mail component: one message at a time, composed through its properties and sent
// in one complete SMTP exchange by send(). Every message begins empty. Values are taken as
// they are given; what the component makes of them is its own matter.
class SmtpComponent {
 public:
  virtual ~SmtpComponent() = default;

  // Begins a new, empty message: sender, recipient, date, subject and text are cleared.
  virtual SmtpStatus newMessage() = 0;
  virtual SmtpStatus setSender(const std::string& sender) = 0;
  virtual SmtpStatus setRecipient(const std::string& recipient) = 0;
  // The message date as the program shows dates; the moment of this call dates the message.
  virtual SmtpStatus setDateText(const std::string& dateText) = 0;
  virtual SmtpStatus setSubject(const std::string& subject) = 0;
  virtual SmtpStatus setMessageText(const std::string& text) = 0;
  virtual SmtpStatus setServer(const std::string& server) = 0;
  virtual SmtpStatus setPort(std::int32_t port) = 0;
  // The outcome of the last send: 0 once the server took the message, otherwise a reply code
  // of the server or a transport code of the mail range.
  virtual SmtpStatus resultValue(std::int32_t& result) = 0;
  // Performs the whole exchange with the server before it returns.
  virtual SmtpStatus send() = 0;
};

}  // namespace quillfen
