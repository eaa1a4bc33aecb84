#include "curl/curl_global.h"

#include <curl/curl.h>

#include <mutex>

#include "common/error.h"
#include "curl/curl_error.h"

namespace quillfen {

void ensureCurlInitialised() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK) {
    throw curlError(errc::kTransferFirst, "libcurl cannot start", result);
  }
}

}  // namespace quillfen
