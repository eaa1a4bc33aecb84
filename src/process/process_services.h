#pragma once

#include <string>

namespace quillfen {

// Services of the running process that the program asks the host for.
class ProcessServices {
 public:
  virtual ~ProcessServices() = default;
  // The folder holding the running executable, without a trailing "/".
  virtual std::string executableFolder() const = 0;
  // Hands `path` to the user for editing and returns without waiting.
  virtual void openForEditing(const std::string& path) = 0;
};

// The real services: /proc/self/exe for the folder; for editing, the file behind a link, opened
// with the desktop's default application for text files (xdg-open, detached) when there is a
// display, else with the user's editor when standard input and error are a terminal (waited
// for), else named on standard error.
class PosixProcessServices final : public ProcessServices {
 public:
  explicit PosixProcessServices(bool hasDisplay) : hasDisplay_(hasDisplay) {}
  std::string executableFolder() const override;
  void openForEditing(const std::string& path) override;

 private:
  bool hasDisplay_;
};

}  // namespace quillfen
