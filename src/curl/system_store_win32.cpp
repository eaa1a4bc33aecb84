#include <curl/curl.h>

#include "curl/system_store.h"

namespace quillfen {

long systemStoreSslOptions() {
  return CURLSSLOPT_NATIVE_CA;
}

}  // namespace quillfen
