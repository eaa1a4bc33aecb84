#include <sys/socket.h>
#include <unistd.h>

#include "curl/curl_socket.h"

namespace quillfen {

void shutDownConnection(curl_socket_t socket) {
  ::shutdown(socket, SHUT_RDWR);
}

int closeConnection(curl_socket_t socket) {
  return ::close(socket);
}

}  // namespace quillfen
