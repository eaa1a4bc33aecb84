#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

// vsftpd on 127.0.0.1 serving `root` to anonymous users over TLS only, explicit (AUTH TLS) or
// implicit, with its default demand that every data connection reuse the TLS session of the
// control connection. It runs as the user of the test and stops with this object, or after
// 300 s by itself.
class VsftpdServer {
 public:
  VsftpdServer(const std::filesystem::path& root, const std::filesystem::path& certificate,
               const std::filesystem::path& key, bool implicitTls)
      : port_(freePort()),
        server_({"/usr/bin/timeout", "300", "/usr/sbin/vsftpd",
                 writeConfig(root, certificate, key, implicitTls).string()},
                true) {
    waitUntilListening();
  }
  ~VsftpdServer() { server_.signal(SIGTERM); }
  VsftpdServer(const VsftpdServer&) = delete;
  VsftpdServer& operator=(const VsftpdServer&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // From the server's own log: the logins accepted so far, one per control connection (the
  // probe that waits for the server to listen connects too, so connections are not counted).
  int logins() const { return count("OK LOGIN: "); }

 private:
  static int freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(probe);
      throw std::runtime_error("no free port for vsftpd");
    }
    ::close(probe);
    return ntohs(address.sin_port);
  }

  std::filesystem::path writeConfig(const std::filesystem::path& root,
                                    const std::filesystem::path& certificate,
                                    const std::filesystem::path& key, bool implicitTls) const {
    const std::filesystem::path config = files_.path() / "vsftpd.conf";
    std::ofstream(config)
        << "listen=YES\nlisten_address=127.0.0.1\nlisten_port=" << port_
        << "\nbackground=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
           "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=NO\n"
           "anon_root="
        << root.string()
        << "\nssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
           "force_anon_data_ssl=YES\nrequire_ssl_reuse=YES\nimplicit_ssl="
        << (implicitTls ? "YES" : "NO") << "\nrsa_cert_file=" << certificate.string()
        << "\nrsa_private_key_file=" << key.string()
        << "\npasv_enable=YES\npasv_address=127.0.0.1\nxferlog_enable=YES\n"
           "dual_log_enable=YES\nvsftpd_log_file="
        << (files_.path() / "log").string()
        << "\nxferlog_file=" << (files_.path() / "xferlog").string() << "\n";
    return config;
  }

  void waitUntilListening() {
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < until;) {
      const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(port_));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool listening =
          ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(probe);
      if (listening) return;
      if (!server_.running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("vsftpd does not listen: " + server_.errors());
  }

  int count(const std::string& event) const {
    const std::string text = readFile(files_.path() / "log");
    int found = 0;
    for (auto at = text.find(event); at != std::string::npos; at = text.find(event, at + 1))
      ++found;
    return found;
  }

  TempDir files_;
  int port_;
  ChildProcess server_;
};

}  // namespace quillfen::test
