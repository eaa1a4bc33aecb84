#pragma once

#include <memory>

#include "ui/front_end.h"

namespace quillfen {

// The native window front end: frmSplash and the system's message boxes, served by the console
// event pump, whose waits dispatch the window's messages.
std::unique_ptr<FrontEnd> makeWin32FrontEnd();

}  // namespace quillfen
