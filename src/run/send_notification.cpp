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

struct Message {
  std::string subject;
  std::string body;
};

void sendTo(const std::string& recipient, const Message& message, RunModule& run,
            Services& services) {
  // A fresh mailer, and so a fresh component, for every recipient.
  Mailer mailer(services.createMailComponent, run.Settings, services.clock, services.format);
  mailer.SendTo(recipient);
  mailer.Subject(message.subject);
  mailer.Body(message.body);
  mailer.Send();
}

// `report`, then `line` on a line of its own after an empty one.
std::string withLine(const std::string& report, const std::string& line) {
  if (line.empty()) return report;
  if (report.empty()) return line;
  return report + (report.ends_with('\n') ? "\n" : "\n\n") + line;
}

// A job named with -c opens the report and closes the subject: an operator of several jobs
// sees which one wrote before opening the mail. Config.ini's one job keeps its texts.
std::string reportOf(const RunModule& run) {
  const std::string report = withLine(run.ActivityReport, run.StartPingFailure);
  return run.Job.empty() ? report : withLine("Job: " + run.Job, report);
}

std::string subjectOf(const RunModule& run, const std::string& prefix) {
  return prefix + run.Settings.MailSubject + (run.Job.empty() ? "" : " (" + run.Job + ")");
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
  sendToEveryone({subjectOf(run, prefix), reportOf(run)}, run, services);
}

void SendFailureReport(RunModule& run, Services& services, int number,
                       const std::string& description) {
  const std::string errorLine = "Error " + std::to_string(number) + ": " + description;
  sendToEveryone({subjectOf(run, "FAILED: "), withLine(reportOf(run), errorLine)}, run, services);
}

void SendCancelReport(RunModule& run, Services& services) {
  sendToEveryone({subjectOf(run, "CANCELLED: "), withLine(reportOf(run), "The run was cancelled.")},
                 run, services);
}

}  // namespace quillfen
