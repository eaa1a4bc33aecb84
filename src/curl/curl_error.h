#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>

#include "common/error.h"

// The one place where libcurl's handles are owned and its result codes become the program's
// Error. Every libcurl user names the error number of its own range (errc::kTransferInternal,
// errc::kMailTransportOther, ...); the wording of libcurl's part is the same everywhere.
namespace quillfen {

// Owners of libcurl handles. A null handle is never cleaned up.
struct CurlEasyCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct CurlMultiCleanup {
  void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
struct CurlSlistCleanup {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, CurlEasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, CurlMultiCleanup>;
using SlistHandle = std::unique_ptr<curl_slist, CurlSlistCleanup>;

// New handles. libcurl fails here only when it runs out of memory or could not start; that
// raises Error(number, "libcurl cannot create a handle").
EasyHandle newEasyHandle(int number);
MultiHandle newMultiHandle(int number);
// Appends a copy of `text` to `list`; raises Error(number, ...) when libcurl cannot, leaving
// `list` as it was.
void appendToSlist(SlistHandle& list, const std::string& text, int number);

// libcurl's own text of a failure: the error buffer (CURLOPT_ERRORBUFFER) when it holds
// anything, curl_easy_strerror otherwise.
std::string curlText(CURLcode code, const char* errorBuffer = nullptr);
// "<what>: <libcurl's text>".
std::string curlFailureText(std::string_view what, CURLcode code,
                            const char* errorBuffer = nullptr);
Error curlError(int number, std::string_view what, CURLcode code,
                const char* errorBuffer = nullptr);
Error curlMultiError(int number, std::string_view what, CURLMcode code);

// Raises Error(number, "libcurl refused the setting CURLOPT_<NAME>: <libcurl's text>") unless
// `result`, what curl_easy_setopt(..., option, ...) returned, is CURLE_OK.
void checkSetopt(CURLcode result, CURLoption option, int number);

// curl_easy_setopt with checkSetopt: setOption(easy, CURLOPT_URL, url.c_str(), number).
template <typename Value>
void setOption(CURL* easy, CURLoption option, Value value, int number) {
  checkSetopt(curl_easy_setopt(easy, option, value), option, number);
}

// The mail range's transport code (36002-36006, 36099) for an SMTP exchange that libcurl ended
// with `code` without the server refusing anything.
int mailErrorNumber(CURLcode code);
// Error(mailErrorNumber(code), "<what went wrong> (<where>): <detail>"), `where` naming the
// server as "host:port" and `detail` being libcurl's own text of the failure.
Error mailTransportError(CURLcode code, std::string_view where, std::string_view detail);

}  // namespace quillfen
