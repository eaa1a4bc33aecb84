#include "curl/tls_trust.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/posix_file.h"
#include "curl/curl_error.h"
#include "curl/system_store.h"

namespace quillfen {

namespace {

constexpr std::string_view kPinPrefix = "sha256//";

std::string quoted(std::string_view key, std::string_view value) {
  return std::string(key) + " '" + std::string(value) + "'";
}

// A certificate file is small; a larger one is no certificate file.
constexpr std::size_t kLongestCertificateFile = std::size_t{4} << 20;

struct BioFree {
  void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};

// Only a regular file: a FIFO would hold the load, a folder reads as nothing.
void checkCertificateFile(std::string_view key, const std::string& path, int number) {
  std::optional<std::string> pem;
  try {
    pem = readRegularFile(path, kLongestCertificateFile, "Cannot read");
  } catch (const Error& error) {
    if (error.systemError() == 0) throw Error(number, quoted(key, path) + ": not a regular file");
    throw Error(number, quoted(key, path) + ": the file cannot be read (" +
                            std::strerror(error.systemError()) + ")");
  }
  if (!pem) {
    throw Error(number,
                quoted(key, path) + ": the file cannot be read (" + std::strerror(ENOENT) + ")");
  }
  const std::unique_ptr<BIO, BioFree> text(
      BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size())));
  X509* certificate = pem->size() > kLongestCertificateFile || !text
                          ? nullptr
                          : PEM_read_bio_X509(text.get(), nullptr, nullptr, nullptr);
  if (certificate == nullptr) {
    throw Error(number, quoted(key, path) + ": the file holds no PEM certificate");
  }
  X509_free(certificate);
}

// "sha256//" + base64(SHA-256(DER of the SubjectPublicKeyInfo)), the form libcurl's
// CURLOPT_PINNEDPUBLICKEY takes; empty when the certificate has no readable key.
std::string publicKeyPin(X509* certificate) {
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  if (length <= 0) return {};
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int digestLength = 0;
  const bool hashed = EVP_Digest(der, static_cast<std::size_t>(length), digest.data(),
                                 &digestLength, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  if (!hashed) return {};
  std::array<unsigned char, 4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1> text{};
  EVP_EncodeBlock(text.data(), digest.data(), static_cast<int>(digestLength));
  return std::string(kPinPrefix) + reinterpret_cast<const char*>(text.data());
}

// Where the SSL_CTX of a connection keeps its PresentedKey for the verify callback.
int presentedKeyIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Called by OpenSSL for each certificate of the chain it checks, whether or not libcurl asked
// it to verify: notes the server's own certificate and leaves the verdict as it is.
int noteServerKey(int preverified, X509_STORE_CTX* store) {
  const auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (ssl == nullptr || leaf == nullptr) return preverified;
  auto* presented =
      static_cast<PresentedKey*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), presentedKeyIndex()));
  if (presented != nullptr) presented->pin = publicKeyPin(leaf);
  return preverified;
}

// libcurl sets the verification mode before it hands the context over; only the callback is
// added here.
CURLcode attachKeyNote(CURL*, void* context, void* user) {
  auto* ctx = static_cast<SSL_CTX*>(context);
  if (presentedKeyIndex() < 0 || SSL_CTX_set_ex_data(ctx, presentedKeyIndex(), user) != 1)
    return CURLE_OUT_OF_MEMORY;
  SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), noteServerKey);
  return CURLE_OK;
}

}  // namespace

ServerTrust readTlsTrust(std::string_view key, std::string_view value, int number) {
  ServerTrust trust = tlsTrustOf(key, value, number);
  checkTlsTrust(key, trust, number);
  return trust;
}

void checkTlsTrust(std::string_view key, const ServerTrust& trust, int number) {
  if (trust.kind == ServerTrust::Kind::File) checkCertificateFile(key, trust.value, number);
}

void applyTlsTrust(CURL* easy, const ServerTrust& trust, PresentedKey& presented, int number) {
  const auto set = [easy, number](CURLoption option, auto value) {
    setOption(easy, option, value, number);
  };
  const bool checkChain = trust.kind != ServerTrust::Kind::Pins;
  set(CURLOPT_SSL_VERIFYPEER, checkChain ? 1L : 0L);
  set(CURLOPT_SSL_VERIFYHOST, checkChain ? 2L : 0L);
  if (trust.kind == ServerTrust::Kind::SystemStore) {
    set(CURLOPT_SSL_OPTIONS, systemStoreSslOptions());
  }
  if (trust.kind == ServerTrust::Kind::File) {
    set(CURLOPT_CAINFO, trust.value.c_str());
    // The system's folder of certificates would otherwise be trusted besides the file.
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  if (trust.kind == ServerTrust::Kind::Pins) {
    set(CURLOPT_PINNEDPUBLICKEY, trust.value.c_str());
  }
  presented.pin.clear();
  set(CURLOPT_SSL_CTX_FUNCTION, attachKeyNote);
  set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&presented));
}

bool isUntrustedServer(CURLcode code) {
  return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH;
}

std::string untrustedServerText(std::string_view key, const PresentedKey& presented,
                                std::string_view detail) {
  std::string text = "The server's certificate is not trusted (" + std::string(detail) + ")";
  if (presented.pin.empty()) return text;
  return text + "; the key it presented has the pin " + presented.pin + ": set " +
         std::string(key) + " to that pin to trust it";
}

}  // namespace quillfen
