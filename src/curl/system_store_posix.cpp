#include "curl/system_store.h"

namespace quillfen {

long systemStoreSslOptions() {
  return 0;
}

}  // namespace quillfen
