#pragma once

#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {

// A self-signed certificate for "localhost" and 127.0.0.1 with its private key, made by the
// openssl tool in a folder of its own, and the libcurl pin of its public key.
class TestCertificate {
 public:
  TestCertificate() {
    runTool({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
             "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key().string(),
             "-out", certificate().string()});
    pin_ = "sha256//" + runTool({"/bin/sh", "-c",
                                 "openssl x509 -in \"$0\" -pubkey -noout | openssl pkey -pubin "
                                 "-outform der | openssl dgst -sha256 -binary | openssl base64",
                                 certificate().string()});
  }

  std::filesystem::path certificate() const { return folder_.path() / "cert.pem"; }
  std::filesystem::path key() const { return folder_.path() / "key.pem"; }
  const std::string& pin() const { return pin_; }

 private:
  TempDir folder_;
  std::string pin_;
};

}  // namespace quillfen::test
