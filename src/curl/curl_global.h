#pragma once

namespace quillfen {

// libcurl's process-wide initialisation, done once before the first handle is made. Every
// curl-based component calls this in its constructor.
void ensureCurlInitialised();

}  // namespace quillfen
