#include "config/configuration.h"

namespace quillfen {

// Reading Config.ini arrives with the configuration subsystem.
bool LoadConfiguration(const std::string&, ProcessServices&, MessageBoxes&, BackupSettings&,
                       ConfigurationRefusal* refusal) {
  if (refusal != nullptr) *refusal = ConfigurationRefusal::Invalid;
  return false;
}

}  // namespace quillfen
