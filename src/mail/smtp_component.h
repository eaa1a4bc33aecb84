#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/server_trust.h"
#include "config/backup_settings.h"

namespace quillfen {

// How the exchange is secured and who logs in. The default is plain SMTP without a login.
struct SmtpSecurity {
  MailSecurityMode mode = MailSecurityMode::None;
  std::string userName;  // empty: no login; never sent without TLS
  std::string password;
  ServerTrust trust;  // MailTrust as it loaded
};

// The SMTP mail component: one message at a time, composed through its properties and sent
// in one complete SMTP exchange by send(). Every message begins empty. Values are taken as
// they are given; what the component makes of them is its own matter. Only send() can fail.
class SmtpComponent {
 public:
  virtual ~SmtpComponent() = default;

  // Begins a new, empty message: sender, recipient, date, subject and text are cleared.
  virtual void newMessage() = 0;
  virtual void setSender(const std::string& sender) = 0;
  virtual void setRecipient(const std::string& recipient) = 0;
  // The message date as the program shows dates; the moment of this call dates the message.
  virtual void setDateText(const std::string& dateText) = 0;
  virtual void setSubject(const std::string& subject) = 0;
  // The text in pieces, read one after the other: views, not copies, which must outlive send().
  virtual void setMessageText(std::vector<std::string_view> text) = 0;
  virtual void setServer(const std::string& server) = 0;
  virtual void setPort(std::int32_t port) = 0;
  // Kept across newMessage(): it belongs to the server, not to a message.
  virtual void setSecurity(const SmtpSecurity& security) = 0;
  // The outcome of the last send: 0 once the server took the message, otherwise a reply code
  // of the server or a transport code of the mail range (see common/error.h).
  virtual std::int32_t resultValue() const = 0;
  // Performs the whole exchange with the server before it returns. Raises Error with a
  // number of the mail range when the server refused the message or the transport failed;
  // the result value tells the outcome either way.
  virtual void send() = 0;
  // Connects, secures the connection and logs in as set, then quits without sending a message.
  // Raises the Errors send() raises for the same failures.
  virtual void verifyConnection() = 0;
};

}  // namespace quillfen
