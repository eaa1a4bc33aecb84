#pragma once

namespace quillfen {

// The internet transfer control (Inet1). Placeholder until the transfer subsystem lands.
class TransferControl {
 public:
  virtual ~TransferControl() = default;
};

}  // namespace quillfen
