#pragma once

namespace quillfen {

// The SMTP mail component. Placeholder until the mail subsystem lands.
class SmtpComponent {
 public:
  virtual ~SmtpComponent() = default;
};

}  // namespace quillfen
