#pragma once

#include <memory>

#include "ui/front_end.h"

namespace quillfen {

// The front end for this process, from QUILLFEN_UI and the display: the Qt window when a
// display can be opened, the console otherwise; an unopenable display falls back to the
// console. `argc` and `argv` go to Qt, which removes its own options from them, and must
// outlive the returned object. Call once, before anything else shows a message. The build
// picks one of two definitions: with the window, or console only.
std::unique_ptr<FrontEnd> makeFrontEnd(int& argc, char** argv);

}  // namespace quillfen
