#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

struct BackupSettings;
class Clock;
class LocaleFormat;
class SmtpComponent;

// One plain-text message through its own instance of the mail component. Creation never
// fails: a component that cannot be made, or a Clear that fails on the way, is ignored, and
// the first member used afterwards raises the error instead. Every property is forwarded to
// the component at once; nothing is kept here.
class Mailer {
 public:
  using ComponentFactory = std::function<std::unique_ptr<SmtpComponent>()>;

  Mailer(const ComponentFactory& createComponent, const BackupSettings& settings,
         const Clock& clock, const LocaleFormat& format);
  ~Mailer();
  Mailer(const Mailer&) = delete;
  Mailer& operator=(const Mailer&) = delete;

  // Begins a new message dated now, with server, port, security, login, subject and sender
  // from the settings as they stand at this call.
  void Clear();
  // Sends the message and returns the component's result value; a failed exchange raises the
  // component's Error instead.
  std::int32_t Send();
  // Connects to the server, secured and logged in as the settings say, and quits without
  // sending anything; a failure raises the component's Error.
  void VerifyConnection();
  void From(const std::string& vData);
  void SendTo(const std::string& vData);
  void Subject(const std::string& vData);
  // The text goes under the frame: the automated-message line, the time of this call, a rule
  // and an empty line. The text is given in pieces, read one after the other: views, not
  // copies, which must outlive Send().
  void Body(const std::vector<std::string_view>& vData);

 private:
  SmtpComponent& component();

  std::unique_ptr<SmtpComponent> component_;
  const BackupSettings& settings_;
  const Clock& clock_;
  const LocaleFormat& format_;
  // Why the component is missing, for the error its first use raises.
  std::string creationFailure_;
  std::string frame_;  // the head of the body
};

}  // namespace quillfen
