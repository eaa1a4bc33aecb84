#include <sys/socket.h>

#include "curl/curl_socket.h"

namespace quillfen {

void shutDownConnection(curl_socket_t socket) {
  ::shutdown(socket, SHUT_RDWR);
}

}  // namespace quillfen
