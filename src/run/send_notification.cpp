#include "run/send_notification.h"

#include <string>
#include <vector>

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

}  // namespace

void SendNotification(RunModule& run, Services& services) {
  for (const std::string& recipient : splitRecipients(run.Settings.MailTo)) {
    // A fresh mailer, and so a fresh component, for every recipient.
    Mailer mailer(services.createMailComponent, run.Settings, services.clock, services.format);
    mailer.SendTo(recipient);
    mailer.Body(run.ActivityReport);
    mailer.Send();
  }
}

}  // namespace quillfen
