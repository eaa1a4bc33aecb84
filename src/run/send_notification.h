#pragma once

namespace quillfen {

struct RunModule;
struct Services;

// Mails the activity report to every address of MailTo, one message per address. An address
// the server refuses does not keep the others from theirs: the refusals are raised together
// afterwards, as one Error with the first one's number and every server reply. A failure of
// the transport ends the stage at once.
void SendNotification(RunModule& run, Services& services);

}  // namespace quillfen
