#pragma once

#include <string>

namespace quillfen {

struct RunModule;
struct Services;

// Mails the activity report to every address of MailTo, one message per address. An address
// the server refuses does not keep the others from theirs: the refusals are raised together
// afterwards, as one Error with the first one's number and every server reply. A failure of
// the transport ends the stage at once.
// The subject is MailSubject for a completed run, "INCOMPLETE: " + MailSubject when files
// were not fetched or expired folders not pruned. A failed start ping adds its line. A job named
// with -c ("web.ini on alpha") opens the report as "Job: web.ini on alpha" and ends the subject
// in parentheses, in this mail and the two below.
void SendNotification(RunModule& run, Services& services);

// Mails the report as it stands, with "Error <number>: <description>" as its last line, to
// every address of MailTo under the subject "FAILED: " + MailSubject; failures as above.
void SendFailureReport(RunModule& run, Services& services, int number,
                       const std::string& description);

// Mails the report as it stands, with "The run was cancelled." as its last line, to every
// address of MailTo under the subject "CANCELLED: " + MailSubject; failures as above.
void SendCancelReport(RunModule& run, Services& services);

}  // namespace quillfen
