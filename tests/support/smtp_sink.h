#pragma once

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

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
  std::string login;                 // the user name the client logged in with, if any
};

// How the sink secures its connections. With TLS it presents `certificate` and takes mail only
// after a login with exactly `login` and `password`.
struct SinkSecurity {
  enum class Kind { None, StartTls, ImplicitTls };
  Kind kind = Kind::None;
  const TestCertificate* certificate = nullptr;
  std::string login;
  std::string password;
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
    SlowDataReply,    // takes the message, then answers its final "." only after 10 s
  };

  explicit SmtpSink(Mode mode = Mode::Accept, const std::string& refusedRecipient = {},
                    const SinkSecurity& security = {})
      : server_(arguments(spool_, mode, refusedRecipient, security)),
        port_(server_.announcedPort()) {}
  explicit SmtpSink(const SinkSecurity& security) : SmtpSink(Mode::Accept, {}, security) {}

  int port() const { return port_; }
  // The messages taken so far, in the order received. Folders starting with "." are still
  // being written.
  std::vector<SinkMessage> messages() const {
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : std::filesystem::directory_iterator(spool_.path()))
      if (entry.path().filename().string().front() != '.') folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    std::vector<SinkMessage> out;
    for (const auto& folder : folders) {
      const auto lines = [&](const char* name) {
        std::vector<std::string> found;
        std::istringstream in(readFile(folder / name));
        for (std::string line; std::getline(in, line);) found.push_back(line);
        return found;
      };
      out.push_back({readFile(folder / "from"), lines("to"), readFile(folder / "data"),
                     readFile(folder / "subject"), readFile(folder / "body"), lines("headers"),
                     lines("defects"), readFile(folder / "login")});
    }
    return out;
  }

 private:
  static std::vector<std::string> arguments(const TempDir& spool, Mode mode,
                                            const std::string& refusedRecipient,
                                            const SinkSecurity& security) {
    std::vector<std::string> argv{
        QUILLFEN_SYSTEM_PYTHON,
        std::string(QUILLFEN_TEST_SERVERS_DIR) + "/smtp_sink.py",
        "--spool",
        spool.str(),
        "--mode",
        std::vector<std::string>{"accept", "refuse-recipient", "refuse-all", "silent",
                                 "slow-data"}[static_cast<int>(mode)],
        "--refuse",
        refusedRecipient,
        "--security",
        std::vector<std::string>{"none", "starttls", "tls"}[static_cast<int>(security.kind)]};
    if (security.certificate != nullptr) {
      argv.insert(argv.end(), {"--cert", security.certificate->certificate().string(), "--key",
                               security.certificate->key().string(), "--login", security.login,
                               "--password", security.password});
    }
    return argv;
  }

  TempDir spool_;
  ChildProcess server_;
  int port_;
};

}  // namespace quillfen::test
