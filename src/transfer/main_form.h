#pragma once

#include <functional>
#include <memory>

namespace quillfen {

class TransferControl;

// frmMain: the hidden, process-wide host of the transfer control Inet1. Referring to the
// control while the form is not loaded loads it with a fresh control; Unload discards both.
class MainForm {
 public:
  using ControlFactory = std::function<std::unique_ptr<TransferControl>()>;
  explicit MainForm(ControlFactory createControl);
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  TransferControl& Inet1();  // loads the form when needed
  // A control of its own beside Inet1, made as Inet1 is, for transfers that run alongside it.
  std::unique_ptr<TransferControl> NewControl() const { return createControl_(); }
  void Unload();
  bool IsLoaded() const { return control_ != nullptr; }

 private:
  ControlFactory createControl_;
  std::unique_ptr<TransferControl> control_;
};

}  // namespace quillfen
