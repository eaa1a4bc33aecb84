#include "run/send_notification.h"

namespace quillfen {

// Mailing arrives with the mail subsystem.
void SendNotification(RunModule&, Services&) {}

}  // namespace quillfen
