#include "transfer/inet.h"

#include "transfer/main_form.h"

namespace quillfen {

Inet::Inet(MainForm& host) : host_(host) { host_.Inet1(); }

Inet::~Inet() { host_.Unload(); }

}  // namespace quillfen
