#pragma once

#include "common/date.h"

namespace quillfen {

// The local wall clock. Injected so that every date rule can be tested on any day.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual DateTime now() const = 0;
};

class SystemClock final : public Clock {
 public:
  DateTime now() const override;
};

}  // namespace quillfen
