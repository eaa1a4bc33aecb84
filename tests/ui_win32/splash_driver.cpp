// Presses the Cancel button of the progress window that a running quillfen.exe shows, as a
// click would (BM_CLICK), for the tests of the Windows program. Waits up to 30 s for the window
// to show; exit code 0 when the click was sent, 1 when no window showed.
#include <windows.h>

namespace {

constexpr int kCancelButton = 106;  // FrmSplash::kCancelButton, a child of Frame1 (100)
constexpr int kFrame1 = 100;

HWND visibleSplash() {
  HWND window = ::FindWindowW(L"QuillfenSplash", nullptr);
  return window != nullptr && ::IsWindowVisible(window) ? window : nullptr;
}

}  // namespace

int main() {
  for (int tries = 0; tries < 300; ++tries) {
    if (HWND window = visibleSplash()) {
      HWND button = ::GetDlgItem(::GetDlgItem(window, kFrame1), kCancelButton);
      return ::PostMessageW(button, BM_CLICK, 0, 0) != 0 ? 0 : 1;
    }
    ::Sleep(100);
  }
  return 1;
}
