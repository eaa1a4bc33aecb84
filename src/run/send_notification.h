#pragma once

namespace quillfen {

struct RunModule;
struct Services;

// Mails the activity report to every address of MailTo, one message per address.
void SendNotification(RunModule& run, Services& services);

}  // namespace quillfen
