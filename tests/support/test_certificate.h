#pragma once

#include <stdio.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"

namespace quillfen::test {

// A self-signed certificate for "localhost" and 127.0.0.1 with its private key, made by the
// openssl tool in a folder of its own, and the libcurl pin of its public key.
class TestCertificate {
 public:
  TestCertificate() {
    run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
        key().string() + "' -out '" + certificate().string() + "' 2>/dev/null");
    pin_ = "sha256//" + run("openssl x509 -in '" + certificate().string() +
                            "' -pubkey -noout | openssl pkey -pubin -outform der"
                            " | openssl dgst -sha256 -binary | openssl enc -base64");
    while (!pin_.empty() && pin_.back() == '\n') pin_.pop_back();
  }

  std::filesystem::path certificate() const { return folder_.path() / "cert.pem"; }
  std::filesystem::path key() const { return folder_.path() / "key.pem"; }
  const std::string& pin() const { return pin_; }

 private:
  // The command's output; throws when it fails.
  static std::string run(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run: " + command);
    std::string output;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output.append(buffer, n);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    return output;
  }

  TempDir folder_;
  std::string pin_;
};

}  // namespace quillfen::test
