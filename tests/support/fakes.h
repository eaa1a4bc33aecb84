#pragma once

#include <charconv>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process/clock.h"
#include "process/event_pump.h"
#include "process/locale_format.h"
#include "process/process_services.h"
#include "process/sleeper.h"
#include "run/services.h"
#include "transfer/main_form.h"
#include "transfer/transfer_control.h"
#include "ui/message_boxes.h"
#include "ui/splash_window.h"

namespace quillfen::test {

// Every call made on the fakes below, in order, as one readable log ("sleep 500",
// "status Creating folders...", "events", ...), shared so that tests can check interleaving.
using CallLog = std::vector<std::string>;

class FakeClock final : public Clock {
 public:
  explicit FakeClock(DateTime start = {{2003, 10, 5}, 2, 15, 3}) : now_(start) {}
  DateTime now() const override { return now_; }
  void set(DateTime when) { now_ = when; }

 private:
  DateTime now_;
};

class FakeSleeper final : public Sleeper {
 public:
  explicit FakeSleeper(CallLog& log) : log_(log) {}
  void sleep(int milliseconds) override {
    log_.push_back("sleep " + std::to_string(milliseconds));
    if (onSleep) onSleep(milliseconds);
  }
  std::function<void(int)> onSleep;  // e.g. advance a fake clock

 private:
  CallLog& log_;
};

class FakeEventPump final : public EventPump {
 public:
  explicit FakeEventPump(CallLog& log) : log_(log) {}
  void processEvents() override;  // logs "events", runs onProcess, then the posted tasks
  void post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
  std::function<void()> onProcess;  // a user action handled at this pass (a Cancel click)
  int passes = 0;

 private:
  CallLog& log_;
  std::deque<std::function<void()>> posted_;
};

// A transfer control that plays a server: `onExecute` sees each operation and sets the reply
// (`data` for GetChunk, `code`, `info`, `state`); the next StillExecuting posts `state` once.
class FakeTransferControl final : public TransferControl {
 public:
  explicit FakeTransferControl(EventPump& pump) : pump_(pump) {}
  void Execute(const std::string&, const ExecuteArguments& arguments) override {
    if (onExecute) onExecute(arguments.empty() ? "" : arguments.front().value_or(""));
  }
  bool StillExecuting() override {
    if (!state) return false;
    pump_.post([this, posted = *state] { listener_(posted); });
    state.reset();
    return true;
  }
  TransferData GetChunk(std::int32_t size, std::int32_t) override {
    const std::string piece = data.substr(0, static_cast<std::size_t>(size));
    data.erase(0, piece.size());
    return piece;
  }
  std::int32_t ResponseCode() override { return code; }
  std::string ResponseInfo() override { return info; }
  std::string URL() override { return {}; }
  void URL(const std::string&) override {}
  void SubscribeStateChanged(StateListener listener) override { listener_ = std::move(listener); }

  std::function<void(const std::string& operation)> onExecute;
  std::string data;
  std::int32_t code = 226;
  std::string info = "226 Transfer complete.";
  std::optional<std::int16_t> state;

  TransferData OpenURL(const std::string&, std::int16_t) override { return std::string(); }
  std::string GetHeader(const std::optional<std::string>&) override { return {}; }
  void Cancel() override {}
  std::int32_t AccessType() override { return 0; }
  void AccessType(std::int32_t) override {}
  std::int32_t Protocol() override { return 0; }
  void Protocol(std::int32_t) override {}
  std::int16_t RemotePort() override { return 0; }
  void RemotePort(std::int16_t) override {}
  std::int32_t RequestTimeout() override { return 0; }
  void RequestTimeout(std::int32_t) override {}
  std::string UserName() override { return {}; }
  void UserName(const std::string&) override {}
  std::string Password() override { return {}; }
  void Password(const std::string&) override {}
  std::string RemoteHost() override { return {}; }
  void RemoteHost(const std::string&) override {}
  std::string Proxy() override { return {}; }
  void Proxy(const std::string&) override {}
  std::int32_t hInternet() override { return 0; }
  std::string Document() override { return {}; }
  void Document(const std::string&) override {}

 private:
  EventPump& pump_;
  StateListener listener_;
};

// Logs "load", "status <text>", "max <n>", "value <n>", "bar shown", ... in call order.
class FakeSplashWindow final : public SplashWindow {
 public:
  explicit FakeSplashWindow(CallLog& log) : log_(log) {}
  void load() override {
    log_.push_back("load");
    cancel = 0;
  }
  void show() override { log_.push_back("show"); }
  void hide() override { log_.push_back("hide"); }
  void unload() override { log_.push_back("unload"); }
  void setStatusCaption(const std::string& text) override {
    log_.push_back("status " + (status = text));
  }
  void setProgressMin(float value) override { log_.push_back("min " + number(value)); }
  void setProgressMax(float value) override { log_.push_back("max " + number(max = value)); }
  void setProgressValue(float value) override {
    values.push_back(value);
    log_.push_back("value " + number(value));
  }
  void setProgressVisible(bool shown) override {
    log_.push_back(shown ? "bar shown" : "bar hidden");
  }
  int cancelValue() override { return cancel; }
  void clickCancel() {  // what the Cancel button does
    cancel = 1;
    setStatusCaption("Aborting...");
  }

  int cancel = 0;
  std::string status;
  float max = 0;
  std::vector<float> values;  // every Value written

 private:
  static std::string number(float value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
  }
  CallLog& log_;
};

class FakeMessageBoxes final : public MessageBoxes {
 public:
  explicit FakeMessageBoxes(CallLog& log) : log_(log) {}
  void information(const std::string& title, const std::string& text) override {
    log_.push_back("info [" + title + "] " + text);
  }
  void error(const std::string& title, const std::string& text) override {
    log_.push_back("error [" + title + "] " + text);
  }

 private:
  CallLog& log_;
};

class FakeProcessServices final : public ProcessServices {
 public:
  FakeProcessServices(CallLog& log, std::string folder) : log_(log), folder_(std::move(folder)) {}
  std::string executableFolder() const override { return folder_; }
  void openForEditing(const std::string& path) override { log_.push_back("edit " + path); }

 private:
  CallLog& log_;
  std::string folder_;
};

// A complete set of fakes wired into Services. The file system, transfer control and mail
// component factories are left for the test to set.
struct FakeEnvironment {
  explicit FakeEnvironment(std::string exeFolder);

  CallLog log;
  FakeClock clock;
  FakeSleeper sleeper{log};
  FakeEventPump events{log};
  FakeSplashWindow window{log};
  FakeMessageBoxes messages{log};
  FakeProcessServices process;
  LocaleFormat format = LocaleFormat::posix();
  MainForm::ControlFactory createControl;  // used by frmMain; set by the test
  MainForm frmMain;
  Services services;
};

}  // namespace quillfen::test
