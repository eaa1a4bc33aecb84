#include "transfer/main_form.h"

#include "transfer/transfer_control.h"

namespace quillfen {

MainForm::MainForm(ControlFactory createControl) : createControl_(std::move(createControl)) {}

MainForm::~MainForm() = default;

TransferControl& MainForm::Inet1() {
  if (!control_) control_ = createControl_();
  return *control_;
}

void MainForm::Unload() {
  control_.reset();
}

}  // namespace quillfen
