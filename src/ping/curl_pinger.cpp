#include "ping/curl_pinger.h"

#include <curl/curl.h>

#include "common/error.h"
#include "curl/curl_error.h"
#include "curl/curl_global.h"

namespace quillfen {

namespace {

// A failed setting is reported like any other failed ping; the number is never shown.
constexpr int kUnused = errc::kInvalidArgument;
constexpr long kMostRedirects = 3;

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

void configure(CURL* easy, const std::string& url, std::chrono::milliseconds limit,
               char* errorText) {
  const auto set = [easy](CURLoption option, auto value) {
    setOption(easy, option, value, kUnused);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMostRedirects);
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
  set(CURLOPT_NOSIGNAL, 1L);
  // An answer of 400 or more is a failed ping, not a body to read.
  set(CURLOPT_FAILONERROR, 1L);
  set(CURLOPT_WRITEFUNCTION, discardBody);
  set(CURLOPT_ERRORBUFFER, errorText);
}

}  // namespace

CurlPinger::CurlPinger(std::chrono::milliseconds limit) : limit_(limit) {}

std::optional<std::string> CurlPinger::ping(const std::string& url) {
  try {
    ensureCurlInitialised();
    const EasyHandle easy = newEasyHandle(kUnused);
    char errorText[CURL_ERROR_SIZE] = "";
    configure(easy.get(), url, limit_, errorText);
    const CURLcode code = curl_easy_perform(easy.get());
    if (code == CURLE_OK) return std::nullopt;
    return curlText(code, errorText);
  } catch (const Error& failure) {
    return failure.description();
  }
}

}  // namespace quillfen
