#pragma once

#include <memory>

#include "ui/front_end.h"

namespace quillfen {

// The window front end, or null when no display can be opened. Qt is asked for the platform it
// would pick on its own, with the offscreen platform behind it as a fallback that always
// starts: landing on the fallback means there is no display, and the caller takes the console.
// Qt's complaints about the display are kept quiet while trying. A platform the user names in
// QT_QPA_PLATFORM is used as given, and the variable is left as it was found.
std::unique_ptr<FrontEnd> makeQtFrontEnd(int& argc, char** argv);

}  // namespace quillfen
