#include "mail/mailer.h"

#include <exception>

#include "common/error.h"
#include "config/backup_settings.h"
#include "mail/smtp_component.h"
#include "process/clock.h"
#include "process/locale_format.h"

namespace quillfen {

namespace {

std::string frame(const std::string& time) {
  return "This is an automated message sent by Quillfen. \r\n" + time + "\r\n" +
         std::string(80, '_') + "\n\n";
}

}  // namespace

Mailer::Mailer(const ComponentFactory& createComponent, const BackupSettings& settings,
               const Clock& clock, const LocaleFormat& format)
    : settings_(settings), clock_(clock), format_(format) {
  // A mailer always comes into being; what went wrong here surfaces at its first use.
  try {
    component_ = createComponent();
    if (!component_) {
      creationFailure_ = "no mail component was made";
      return;
    }
    Clear();
  } catch (const std::exception& failure) {
    if (!component_) creationFailure_ = failure.what();
  }
}

Mailer::~Mailer() = default;

SmtpComponent& Mailer::component() {
  if (!component_) {
    throw Error(errc::kObjectNotSet,
                "Object variable not set: the mail component could not be created (" +
                    creationFailure_ + ")");
  }
  return *component_;
}

void Mailer::Clear() {
  SmtpComponent& mail = component();
  mail.newMessage();
  mail.setDateText(format_.generalDateTime(clock_.now()));
  mail.setServer(settings_.MailServer);
  mail.setPort(settings_.MailPort);
  mail.setSecurity({settings_.MailSecurity, settings_.MailUserName, settings_.MailPassword,
                    settings_.MailServerTrust});
  mail.setSubject(settings_.MailSubject);
  mail.setSender(settings_.MailFrom);
}

std::int32_t Mailer::Send() {
  SmtpComponent& mail = component();
  mail.send();
  return mail.resultValue();
}

void Mailer::VerifyConnection() {
  component().verifyConnection();
}

void Mailer::From(const std::string& vData) {
  component().setSender(vData);
}

void Mailer::SendTo(const std::string& vData) {
  component().setRecipient(vData);
}

void Mailer::Subject(const std::string& vData) {
  component().setSubject(vData);
}

void Mailer::Body(const std::vector<std::string_view>& vData) {
  SmtpComponent& mail = component();
  frame_ = frame(format_.mailTime(clock_.now()));
  std::vector<std::string_view> text{frame_};
  text.insert(text.end(), vData.begin(), vData.end());
  mail.setMessageText(std::move(text));
}

}  // namespace quillfen
