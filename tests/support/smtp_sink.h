#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

// One message as the sink received it.
struct SinkMessage {
  std::string mailFrom;              // the envelope sender
  std::vector<std::string> rcptTos;  // the envelope recipients
  std::string data;                  // the raw message, after SMTP's dot-unstuffing
  // As an independent mail reader (Python's email package) sees the message:
  std::string subject;               // the decoded Subject
  std::string body;                  // the decoded body text, line ends made LF
  std::vector<std::string> headers;  // the header names in order
  std::vector<std::string> defects;  // what the reader found wrong; empty for a sound message
};

// An aiosmtpd server on a free loopback port for the lifetime of the object. It ends by itself
// if this process dies and after a hard lifetime of two minutes.
class SmtpSink {
 public:
  enum class Mode {
    Accept,           // takes every message
    RefuseRecipient,  // answers 550 to RCPT for the given address, takes the rest
    RefuseAll,        // refuses every message with 554 at its end
    Silent,           // accepts connections and never answers
  };

  explicit SmtpSink(Mode mode = Mode::Accept, const std::string& refusedRecipient = {});

  int port() const { return port_; }
  // The messages taken so far, in the order received.
  std::vector<SinkMessage> messages() const;

 private:
  TempDir spool_;
  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
