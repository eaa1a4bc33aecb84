#include "run/send_notification.h"

#include <optional>
#include <string>

#include "common/error.h"
#include "common/text.h"
#include "mail/mailer.h"
#include "run/run_module.h"
#include "run/services.h"

namespace quillfen {

namespace {

// A refusal carries the server's reply code; the transport failures (no connection, a
// time-out, a lost connection) have numbers of their own below it.
bool isRefusalByServer(const Error& failure) {
  return failure.number() > errc::kMailTransportOther && failure.number() <= errc::kMailLast;
}

// The body is a head, the report and a tail of lines added after it: the report itself is
// not copied, however long it is.
struct Message {
  std::string subject;
  const std::string& report;
  std::string tail;
  std::string head;

  // `line` on a line of its own after an empty one.
  Message& withLine(const std::string& line) {
    if (line.empty()) return *this;
    const std::string_view last = !tail.empty()     ? std::string_view(tail)
                                  : !report.empty() ? std::string_view(report)
                                                    : std::string_view(head);
    if (!last.empty()) tail += last.ends_with('\n') ? "\n" : "\n\n";
    tail += line;
    return *this;
  }
};

void sendTo(const std::string& recipient, const Message& message, RunModule& run,
            Services& services) {
  // A fresh mailer, and so a fresh component, for every recipient.
  Mailer mailer(services.createMailComponent, run.Settings, services.clock, services.format);
  mailer.SendTo(recipient);
  mailer.Subject(message.subject);
  mailer.Body({message.head, message.report, message.tail});
  mailer.Send();
}

// The report of the run, with the line of a failed start ping. A job named with -c opens the
// report and closes the subject: an operator of several jobs sees which one wrote before
// opening the mail. Config.ini's one job keeps its texts.
Message reportOf(const RunModule& run, const std::string& prefix) {
  const std::string job = run.Job.empty() ? "" : " (" + run.Job + ")";
  Message message{prefix + run.Settings.MailSubject + job, run.ActivityReport, {}, {}};
  message.withLine(run.StartPingFailure);
  if (!run.Job.empty()) {
    const bool bodyFollows = !message.report.empty() || !message.tail.empty();
    message.head = "Job: " + run.Job + (bodyFollows ? "\n\n" : "");
  }
  return message;
}

void sendToEveryone(const Message& message, RunModule& run, Services& services) {
  std::optional<Error> refused;
  // Every part between two ";", empty ones included and none trimmed: what an empty or padded
  // address means is the mail component's decision. An empty list names no one.
  if (run.Settings.MailTo.empty()) return;
  for (const std::string_view recipient : partsOf(run.Settings.MailTo, ';')) {
    try {
      sendTo(std::string(recipient), message, run, services);
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

}  // namespace

void SendNotification(RunModule& run, Services& services) {
  run.NotificationStarted = true;
  const std::string prefix = isIncomplete(run) ? "INCOMPLETE: " : "";
  sendToEveryone(reportOf(run, prefix), run, services);
}

void SendFailureReport(RunModule& run, Services& services, int number,
                       const std::string& description) {
  const std::string errorLine = "Error " + std::to_string(number) + ": " + description;
  sendToEveryone(reportOf(run, "FAILED: ").withLine(errorLine), run, services);
}

void SendCancelReport(RunModule& run, Services& services) {
  sendToEveryone(reportOf(run, "CANCELLED: ").withLine("The run was cancelled."), run, services);
}

}  // namespace quillfen
