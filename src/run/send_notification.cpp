#include "run/send_notification.h"

#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "mail/mailer.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// Every part between two ";", empty ones included and none trimmed: what an empty or padded
// address means is the mail component's decision. An empty list gives no part at all.
std::vector<std::string> splitRecipients(const std::string& list) {
  std::vector<std::string> parts;
  if (list.empty()) return parts;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type separator = list.find(';', start);
    parts.push_back(list.substr(start, separator - start));
    if (separator == std::string::npos) return parts;
    start = separator + 1;
  }
}

// A refusal carries the server's reply code; the transport failures (no connection, a
// time-out, a lost connection) have numbers of their own below it.
bool isRefusalByServer(const Error& failure) {
  return failure.number() > errc::kMailTransportOther && failure.number() <= errc::kMailLast;
}

void sendTo(const std::string& recipient, RunModule& run, Services& services) {
  // A fresh mailer, and so a fresh component, for every recipient.
  Mailer mailer(services.createMailComponent, run.Settings, services.clock, services.format);
  mailer.SendTo(recipient);
  mailer.Body(run.ActivityReport);
  mailer.Send();
}

}  // namespace

void SendNotification(RunModule& run, Services& services) {
  std::optional<Error> refused;
  for (const std::string& recipient : splitRecipients(run.Settings.MailTo)) {
    try {
      sendTo(recipient, run, services);
    } catch (const Error& failure) {
      // A failed transport would fail the same way for the next address, after waiting out
      // its bounds again: it ends the stage at once.
      if (!isRefusalByServer(failure)) throw;
      refused =
          refused ? Error(refused->number(), refused->description() + "; " + failure.description())
                  : failure;
    }
  }
  if (refused) throw *refused;
}

}  // namespace quillfen
