#pragma once

namespace quillfen {

// The CURLOPT_SSL_OPTIONS that make libcurl trust the system's certificate store. Linux:
// none, OpenSSL's default store is Debian's. Windows: CURLSSLOPT_NATIVE_CA, the store of
// Windows itself, since OpenSSL has none of its own there.
long systemStoreSslOptions();

}  // namespace quillfen
