#include <winsock2.h>

#include "curl/curl_socket.h"

namespace quillfen {

void shutDownConnection(curl_socket_t socket) {
  ::shutdown(socket, SD_BOTH);
}

int closeConnection(curl_socket_t socket) {
  return ::closesocket(socket);
}

}  // namespace quillfen
