#pragma once

#include <curl/curl.h>

namespace quillfen {

// Ends both directions of a connection libcurl opened, so that any wait of libcurl's on it
// returns at once; libcurl still closes the socket itself.
void shutDownConnection(curl_socket_t socket);

}  // namespace quillfen
