#include "ui_win32/frm_splash.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/windows_calls.h"
#include "splash_stages.h"
#include "ui/splash_layout.h"
#include "ui/splash_layout_table.h"
#include "ui_win32/desktop.h"
#include "ui_win32/win32_message_boxes.h"
#include "ui_win32/win32_splash_window.h"

namespace quillfen {
namespace {

// The controls of test::kFixedBoxes96 and test::kSizedLabels96, in the tables' order.
constexpr FrmSplash::Control kFixedControls[] = {FrmSplash::kFrame1,  FrmSplash::kLogo,
                                                 FrmSplash::kWarning, FrmSplash::kCancelButton,
                                                 FrmSplash::kStatus,  FrmSplash::kProgressBar};
constexpr FrmSplash::Control kSizedControls[] = {FrmSplash::kCompanyProduct,
                                                 FrmSplash::kProductName, FrmSplash::kVersion};

// Where `control` sits in its parent's client area.
RECT boxInParent(HWND control) {
  RECT box;
  ::GetWindowRect(control, &box);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(control), reinterpret_cast<POINT*>(&box), 2);
  return box;
}

void dispatchPendingMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

std::string textOf(HWND control) {
  wchar_t text[512] = {};
  ::GetWindowTextW(control, text, 512);
  return utf8Text(text);
}

// Every stage of a run at 96 dots per inch; at twice the resolution every box is twice as large,
// each label still on its anchor.
struct LayoutCase {
  int dpi;
  splash_stages::Stage stage;
};

std::vector<LayoutCase> layoutCases() {
  std::vector<LayoutCase> cases;
  for (const splash_stages::Stage& stage : splash_stages::kStages) cases.push_back({96, stage});
  cases.push_back({192, splash_stages::kStages[0]});
  return cases;
}

void PrintTo(const LayoutCase& layout, std::ostream* out) {
  *out << layout.stage.file << " at " << layout.dpi << " dpi";
}

class SplashLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(SplashLayoutTest, ControlsSitInTheirBoxes) {
  const int dpi = GetParam().dpi, scale = dpi / splash::kStandardDpi;
  Win32SplashWindow window([](HWND) { return false; });
  window.load();
  window.setProgressMin(1);
  window.setProgressMax(12);
  splash_stages::enter(window, GetParam().stage);
  const FrmSplash& form = *window.form();
  if (dpi != splash::kStandardDpi) {
    RECT suggested{0, 0, 0, 0};
    ::SendMessageW(form.window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
  }
  RECT client;
  ::GetClientRect(form.window(), &client);
  EXPECT_EQ(client.right, test::kClientArea96.width * scale);
  EXPECT_EQ(client.bottom, test::kClientArea96.height * scale);
  for (int i = 0; const test::SplashBox& box : test::kFixedBoxes96) {
    const RECT placed = boxInParent(form.control(kFixedControls[i++]));
    EXPECT_EQ(placed.left, box.left * scale) << box.control;
    EXPECT_EQ(placed.top, box.top * scale) << box.control;
    EXPECT_EQ(placed.right - placed.left, box.width * scale) << box.control;
    EXPECT_EQ(placed.bottom - placed.top, box.height * scale) << box.control;
  }
  for (int i = 0; const test::SizedLabel& label : test::kSizedLabels96) {
    const RECT placed = boxInParent(form.control(kSizedControls[i++]));
    const int width = placed.right - placed.left;
    EXPECT_GT(width, 0) << label.control;
    EXPECT_EQ(placed.top, label.top * scale) << label.control;
    EXPECT_EQ(label.rightAligned ? placed.right : placed.left + width / 2,
              label.centreOrRight * scale)
        << label.control;
  }
}

INSTANTIATE_TEST_SUITE_P(Stage, SplashLayoutTest, testing::ValuesIn(layoutCases()),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                           std::string stage = info.param.stage.file;
                           std::replace(stage.begin(), stage.end(), '-', '_');
                           return "At" + std::to_string(info.param.dpi) + "Dpi_" + stage;
                         });

class SplashTest : public testing::Test {
 public:
  // The run's opening: load, range 1 to 100, show.
  void show() {
    window.load();
    window.setProgressMin(1);
    window.setProgressMax(100);
    window.show();
    dispatchPendingMessages();
  }
  HWND control(FrmSplash::Control id) { return window.form()->control(id); }
  // A key as the keyboard delivers it to the control with the focus (Cancel, which the window
  // focuses when shown, while a fresh X server has not made the window active yet); the pump
  // makes the character from it.
  void press(WPARAM key) {
    HWND focus = ::GetFocus() != nullptr ? ::GetFocus() : control(FrmSplash::kCancelButton);
    ::PostMessageW(focus, WM_KEYDOWN, key, 0);
    ::PostMessageW(focus, WM_KEYUP, key, 0);
    dispatchPendingMessages();
  }
  // A left click at a point of Frame1, to whichever window takes the click there.
  void clickFramePoint(POINT point) {
    ::ClientToScreen(control(FrmSplash::kFrame1), &point);
    HWND target = ::WindowFromPoint(point);
    ::ScreenToClient(target, &point);
    const LPARAM at = MAKELPARAM(point.x, point.y);
    ::PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(target, WM_LBUTTONUP, 0, at);
    dispatchPendingMessages();
  }

  bool answer = false;  // to the close question
  int asked = 0;
  Win32SplashWindow window{[this](HWND) {
    ++asked;
    return answer;
  }};
};

// Character keys and clicks on the bare frame ask; answered No, nothing changes, except that
// Space or Enter on the focused Cancel button then goes on to press it (once).
TEST_F(SplashTest, WhatAsksTheCloseQuestion) {
  struct Trigger {
    const char* what;
    int asked, cancelAfterNo;
    WPARAM key;  // 0: a click at `point` of Frame1
    POINT point;
  };
  const Trigger triggers[] = {
      {"letter", 1, 0, 'Q', {}},      {"Escape", 1, 0, VK_ESCAPE, {}},
      {"Tab", 0, 0, VK_TAB, {}},      {"Space", 1, 1, VK_SPACE, {}},
      {"Enter", 1, 1, VK_RETURN, {}}, {"bare frame", 1, 0, 0, {300, 230}},
      {"logo", 0, 0, 0, {80, 120}},   {"legal notice", 0, 0, 0, {300, 182}}};
  for (const Trigger& t : triggers) {
    window.unload();
    show();
    window.setProgressVisible(true);
    asked = 0;
    t.key ? press(t.key) : clickFramePoint(t.point);
    EXPECT_EQ(asked, t.asked) << t.what;
    EXPECT_EQ(window.cancelValue(), t.cancelAfterNo) << t.what;
    EXPECT_TRUE(window.form()->isVisible()) << t.what;
  }
}

// Cancel twice sets the flag and the text; Yes then unloads the window, and the next access
// loads a fresh hidden one with the flag at 0 and the bar hidden.
TEST_F(SplashTest, CancelTwiceThenYesUnloadsTheWindow) {
  show();
  ::SendMessageW(control(FrmSplash::kCancelButton), BM_CLICK, 0, 0);
  EXPECT_EQ(window.cancelValue(), 1);
  window.setStatusCaption("Downloading files...");
  ::SendMessageW(control(FrmSplash::kCancelButton), BM_CLICK, 0, 0);
  EXPECT_EQ(textOf(control(FrmSplash::kStatus)), "Aborting...");
  EXPECT_EQ(asked, 0);

  answer = true;
  const HWND closed = window.form()->window();
  press('Q');
  EXPECT_EQ(window.form(), nullptr);
  EXPECT_EQ(window.cancelValue(), 0);  // the unread cancel is lost with the window
  EXPECT_FALSE(::IsWindow(closed));
  EXPECT_FALSE(window.form()->isVisible());
  EXPECT_FALSE(::IsWindowVisible(control(FrmSplash::kProgressBar)));
}

// What a message box showed, read by a timer inside its own modal loop, which then answers it.
struct SeenBox {
  std::string title, text;
  std::vector<int> buttons;
  int defaultButton = 0;
  HICON icon = nullptr;
} seen;

BOOL CALLBACK readAndAnswerBox(HWND box, LPARAM) {
  wchar_t name[16] = {};
  ::GetClassNameW(box, name, 16);
  if (std::wstring(name) != L"#32770") return TRUE;
  seen.title = textOf(box);
  seen.text = textOf(::GetDlgItem(box, 0xFFFF));
  for (int button : {IDOK, IDCANCEL, IDYES, IDNO}) {
    if (::GetDlgItem(box, button) != nullptr) seen.buttons.push_back(button);
  }
  for (int button : seen.buttons) {
    const LONG_PTR style = ::GetWindowLongPtrW(::GetDlgItem(box, button), GWL_STYLE);
    if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = button;
  }
  ::EnumChildWindows(
      box,
      [](HWND child, LPARAM) -> BOOL {
        const auto icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
        if (icon != nullptr && ::IsWindowVisible(child)) seen.icon = icon;
        return TRUE;
      },
      0);
  ::PostMessageW(box, WM_COMMAND, seen.buttons.back(), 0);
  return FALSE;
}

struct LogLines final : SystemLog {
  void record(Severity, const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

struct BoxCase {
  const char* name;
  void (*show)(MessageBoxes& boxes);
  const char* title;
  const char* text;
  std::vector<int> buttons;  // the first the default
  LPCWSTR icon;              // null: none
};
void PrintTo(const BoxCase& c, std::ostream* out) {
  *out << c.name;
}

void askToClose(MessageBoxes&) {
  askToCloseWithMessageBox(nullptr);
}
void inform(MessageBoxes& boxes) {
  boxes.information("Configuration", "Enter a path.");
}
void fail(MessageBoxes& boxes) {
  boxes.error("Quillfen", "Error 5: denied");
}

const BoxCase kBoxes[] = {
    {"CloseQuestion", askToClose, "Quillfen", splash::kCloseQuestion, {IDYES, IDNO}, nullptr},
    {"Information", inform, "Configuration", "Enter a path.", {IDOK}, IDI_INFORMATION},
    {"Error", fail, "Quillfen", "Error 5: denied", {IDOK}, IDI_ERROR}};

class MessageBoxTest : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxTest, ShowsItsTextButtonsAndIcon) {
  const BoxCase& box = GetParam();
  ASSERT_TRUE(isDesktopVisible());  // the X server of scripts/test-windows
  seen = {};
  std::ostringstream err;
  LogLines log;
  Win32MessageBoxes boxes(err, log);
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), readAndAnswerBox, 0);
  });
  box.show(boxes);
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(seen.title, box.title);
  EXPECT_EQ(seen.text, box.text);
  EXPECT_EQ(seen.buttons, box.buttons);
  EXPECT_EQ(seen.defaultButton, box.buttons.front());
  EXPECT_EQ(seen.icon, box.icon ? ::LoadIconW(nullptr, box.icon) : nullptr);
  EXPECT_EQ(err.str(), "");
}

INSTANTIATE_TEST_SUITE_P(Boxes, MessageBoxTest, testing::ValuesIn(kBoxes),
                         [](const testing::TestParamInfo<BoxCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace quillfen
