#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_certificate.h"

namespace quillfen::test {

// A server of tests/servers on 127.0.0.1 and the free port it announces once that port accepts
// connections (so a test never comes before its server), run by the system's Python with the
// arguments made for the folder this object keeps for the server's files. It stops with this
// object, by itself when the test process dies, and after its lifetime.
class LoopbackServer {
 public:
  using Arguments = std::function<std::vector<std::string>(const std::filesystem::path& folder)>;

  LoopbackServer(const std::string& script, const Arguments& arguments)
      : process_([&] {
          std::vector<std::string> argv{QUILLFEN_SYSTEM_PYTHON, "-W", "ignore",
                                        QUILLFEN_TEST_SERVERS_DIR "/" + script};
          const std::vector<std::string> rest = arguments(folder_.path());
          argv.insert(argv.end(), rest.begin(), rest.end());
          return argv;
        }()),
        port_(process_.announcedPort()) {}

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 protected:
  const std::filesystem::path& folder() const { return folder_.path(); }
  // The lines of the server's log (the file "log" in its folder), and how many hold `event`.
  std::vector<std::string> logLines() const { return readLines(folder() / "log"); }
  int count(const std::string& event) const {
    const auto lines = logLines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(event) != std::string::npos;
    }));
  }
  // The rest of each log line that starts with `prefix`, in order.
  std::vector<std::string> logged(const std::string& prefix) const {
    std::vector<std::string> rests;
    for (const std::string& line : logLines())
      if (line.starts_with(prefix)) rests.push_back(line.substr(prefix.size()));
    return rests;
  }

 private:
  TempDir folder_;
  ChildProcess process_;
  int port_;
};

// A key pair made by ssh-keygen: `path` (the private key, OpenSSH format) and `path`.pub.
inline std::filesystem::path makeSshKey(const std::filesystem::path& path,
                                        const std::string& type = "ed25519",
                                        const std::string& passphrase = "") {
  runTool({"/usr/bin/ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", "test", "-f",
           path.string()});
  return path;
}

// "SHA256:..." of a public key file, as ssh-keygen -l prints it.
inline std::string sshFingerprint(const std::filesystem::path& publicKey) {
  const std::string line = runTool({"/usr/bin/ssh-keygen", "-l", "-f", publicKey.string()});
  const auto start = line.find(' ') + 1;
  return line.substr(start, line.find(' ', start) - start);
}

struct SftpServerOptions {
  std::filesystem::path clientKey;  // a public key file: log in with that key only
  bool stall = false;               // log in, then never answer a listing or file request
  bool stallMidFile = false;        // send the start of a file, then never answer for more
};

// An asyncssh SFTP server with a fresh ed25519 host key, serving `root` as the home folder of one
// user.
class SftpServer : public LoopbackServer {
 public:
  SftpServer(const std::filesystem::path& root, const std::string& user,
             const std::string& password, const SftpServerOptions& options = {})
      : LoopbackServer("sftp_server.py", [&](const std::filesystem::path& folder) {
          std::vector<std::string> args{"--root",       root.string(),
                                        "--user",       user,
                                        "--password",   password,
                                        "--host-key",   makeSshKey(folder / "host_key").string(),
                                        "--log",        (folder / "log").string(),
                                        "--client-key", options.clientKey.string()};
          if (options.stall) args.push_back("--stall");
          if (options.stallMidFile) args.push_back("--stall-mid-file");
          return args;
        }) {}

  std::string url() const { return "sftp://" + address(); }
  // How a known_hosts line names the server, and the line for its own host key.
  std::string hostPattern() const { return "[127.0.0.1]:" + std::to_string(port()); }
  std::string knownHostsLine() const { return hostPattern() + " " + readFile(hostKey()); }
  std::string fingerprint() const { return sshFingerprint(hostKey()); }
  // How many logins succeeded so far.
  int logins() const { return count("login"); }
  // How many files were read from their start: how many downloads began.
  int filesRead() const { return count("read"); }

 private:
  std::filesystem::path hostKey() const { return folder() / "host_key.pub"; }
};

// The path under which the test servers, Linux programs on both systems, see `path`.
inline std::string serverPath(const std::filesystem::path& path) {
  return runTool({"/usr/bin/realpath", "-m", path.string()});
}

// OpenSSH's sshd with its own configuration and a fresh ed25519 host key, on which the running
// user logs in with the key of `clientKey` (a public key file) only. Paths are absolute.
class OpensshServer : public LoopbackServer {
 public:
  explicit OpensshServer(const std::filesystem::path& clientKey)
      : LoopbackServer("sshd_server.py", [&](const std::filesystem::path& folder) {
          return std::vector<std::string>{"--host-key",   makeSshKey(folder / "host_key").string(),
                                          "--client-key", clientKey.string(),
                                          "--log",        (folder / "log").string()};
        }) {}

  // The address of `folder` for FtpIPAddress.
  std::string url(const std::filesystem::path& folder) const {
    return "sftp://" + address() + "/" + serverPath(folder);
  }
  // The user that logs in: the one running the servers.
  static std::string user() { return runTool({"/usr/bin/id", "-un"}); }
  std::string fingerprint() const { return sshFingerprint(folder() / "host_key.pub"); }
  // How many logins sshd accepted so far. Its log also says "Accepted key ... found at" twice
  // for each of them: libssh2 asks whether the key would do before it signs with it.
  int logins() const { return count("Accepted publickey for "); }
};

// vsftpd serving `root` to anonymous users over TLS only, explicit or implicit, demanding TLS
// session reuse on data connections; with `maxPerIp` refusing sessions past that many from one
// address, with `bytesPerSecond` sending each download at that rate.
class VsftpdServer : public LoopbackServer {
 public:
  VsftpdServer(const std::filesystem::path& root, const TestCertificate& certificate,
               bool implicitTls, int maxPerIp = 0, std::size_t bytesPerSecond = 0)
      : LoopbackServer("vsftpd_server.py", [&](const std::filesystem::path& folder) {
          return std::vector<std::string>{"--root",        root.string(),
                                          "--certificate", certificate.certificate().string(),
                                          "--key",         certificate.key().string(),
                                          "--log",         (folder / "log").string(),
                                          "--tls",         implicitTls ? "implicit" : "explicit",
                                          "--max-per-ip",  std::to_string(maxPerIp),
                                          "--rate",        std::to_string(bytesPerSecond)};
        }) {}

  // The logins its own log records so far: one per control connection.
  int logins() const { return count("OK LOGIN: "); }
  // The files it was asked for so far, completed or failed, by their paths from its root.
  std::vector<std::string> downloads() const {
    std::vector<std::string> paths;
    for (const std::string& line : logLines()) {
      const auto at = line.find(" DOWNLOAD: ");
      if (at == std::string::npos) continue;
      const auto start = line.find("\", \"", at) + 4;  // after the client's address
      paths.push_back(line.substr(start, line.find('"', start) - start));
    }
    return paths;
  }
};

// An HTTP server that logs the path of every GET and answers 200, or, silent, accepts
// connections and never answers.
class PingServer : public LoopbackServer {
 public:
  enum class Mode { Answer, Silent };

  explicit PingServer(Mode mode = Mode::Answer)
      : LoopbackServer("ping_server.py", [mode](const std::filesystem::path& folder) {
          std::vector<std::string> args{"--log", (folder / "log").string()};
          if (mode == Mode::Silent) args.push_back("--silent");
          return args;
        }) {}

  std::string url(const std::string& path) const { return "http://" + address() + path; }
  // The paths requested so far, in order.
  std::vector<std::string> paths() const { return logLines(); }
};

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

// An aiosmtpd server that spools every message it takes into a folder of its own.
class SmtpSink : public LoopbackServer {
 public:
  enum class Mode {
    Accept,             // takes every message
    RefuseRecipient,    // answers 550 to RCPT for the given address, takes the rest
    Silent,             // accepts connections and never answers
    SlowDataReply,      // takes the message, then answers its final "." only after 10 s
    TrickledDataReply,  // the same, with a line of that answer every half second meanwhile
  };

  explicit SmtpSink(Mode mode = Mode::Accept, const std::string& refusedRecipient = {},
                    const SinkSecurity& security = {})
      : LoopbackServer("smtp_sink.py", [&](const std::filesystem::path& spool) {
          const char* modes[] = {"accept", "refuse-recipient", "silent", "slow-data",
                                 "trickle-data"};
          const char* kinds[] = {"none", "starttls", "tls"};
          std::vector<std::string> argv{
              "--spool",  spool.string(),   "--mode",     modes[static_cast<int>(mode)],
              "--refuse", refusedRecipient, "--security", kinds[static_cast<int>(security.kind)]};
          if (security.certificate != nullptr)
            argv.insert(argv.end(), {"--cert", security.certificate->certificate().string(),
                                     "--key", security.certificate->key().string(), "--login",
                                     security.login, "--password", security.password});
          return argv;
        }) {}
  explicit SmtpSink(const SinkSecurity& security) : SmtpSink(Mode::Accept, {}, security) {}

  // The messages taken so far, in the order received. Folders starting with "." are still
  // being written.
  std::vector<SinkMessage> messages() const {
    std::vector<std::filesystem::path> folders;
    for (const auto& entry : std::filesystem::directory_iterator(folder()))
      if (entry.path().filename().string().front() != '.') folders.push_back(entry.path());
    std::sort(folders.begin(), folders.end());
    std::vector<SinkMessage> out;
    for (const auto& message : folders)
      out.push_back({readFile(message / "from"), readLines(message / "to"),
                     readFile(message / "data"), readFile(message / "subject"),
                     readFile(message / "body"), readLines(message / "headers"),
                     readLines(message / "defects"), readFile(message / "login")});
    return out;
  }
};

}  // namespace quillfen::test
