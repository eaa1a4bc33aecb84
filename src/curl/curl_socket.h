#pragma once

#include <curl/curl.h>

namespace quillfen {

// Ends both directions of a connection libcurl opened, so that any wait of libcurl's on it
// returns at once; libcurl still closes the socket itself.
void shutDownConnection(curl_socket_t socket);

// Closes a socket libcurl opened, as its own close would; 0 when that worked.
int closeConnection(curl_socket_t socket);

}  // namespace quillfen
