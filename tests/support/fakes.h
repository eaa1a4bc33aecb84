#pragma once

#include <charconv>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/locale_format.h"
#include "process/message_boxes.h"
#include "process/process_services.h"
#include "process/sleeper.h"
#include "process/splash_window.h"
#include "run/services.h"
#include "transfer/main_form.h"
#include "transfer/transfer_control.h"

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
  void processEventsWaiting(std::chrono::milliseconds) override { processEvents(); }
  void post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
  std::unique_ptr<IoWatch> watchIo(IoHandlers) override;  // watches nothing
  std::function<void()> onProcess;  // a user action handled at this pass (a Cancel click)
  int passes = 0;

 private:
  CallLog& log_;
  std::deque<std::function<void()>> posted_;
};

// clang-format off
#define FAKE_PROPERTY(Get, Set, Name, field) \
  Get Name() override { return field; } void Name(Set v) override { record(#Name, field = v); }
// clang-format on

// A transfer control that plays a server and records every call reaching it ("RemotePort 21",
// "Execute host", "GetHeader Date", ...). `onExecute` sees each operation and may set the reply
// (`data` for GetChunk, `code`, `info`, `states`); after Execute each StillExecuting read answers
// true and posts the next of `states` until none is left.
class FakeTransferControl final : public TransferControl {
 public:
  explicit FakeTransferControl(EventPump& pump) : pump_(pump) {}

  std::vector<std::string> calls;
  ExecuteArguments arguments;  // of the last Execute
  std::function<void(const std::string& operation)> onExecute;
  std::string data;
  std::int32_t code = 226;
  std::string info = "226 Transfer complete.";
  std::deque<std::int16_t> states;
  int reads = 0;
  bool failRelease = false;
  std::int32_t accessType = 0, protocol = 0, requestTimeout = -1;
  std::int16_t remotePort = 0;
  std::string url, userName, password, remoteHost, proxy, document;

  void notify(std::int16_t state) {
    pump_.post([this, state] { listener_(state); });
  }
  void Execute(const std::string& URL, const ExecuteArguments& args) override {
    record("Execute", URL);
    arguments = args;
    if (onExecute) onExecute(args.empty() ? "" : args.front().value_or(""));
  }
  RequestOutcome Outcome() override {
    return code >= 200 && code <= 299 ? RequestOutcome::Completed : RequestOutcome::Failed;
  }
  bool StillExecuting() override {
    ++reads;
    if (states.empty()) return false;
    notify(states.front());
    states.pop_front();
    return true;
  }
  TransferData GetChunk(std::int32_t size, std::int32_t) override {
    const std::string piece = data.substr(0, static_cast<std::size_t>(size));
    data.erase(0, piece.size());
    return piece;
  }
  TransferData OpenURL(const std::string&, std::int16_t) override { return std::string(); }
  std::string GetHeader(const std::optional<std::string>& name) override {
    return record("GetHeader", name.value_or("(omitted)"));
  }
  void Cancel() override {}
  std::int32_t ResponseCode() override { return code; }
  std::string ResponseInfo() override { return info; }
  std::int32_t hInternet() override { return 0; }
  void SubscribeStateChanged(StateListener listener) override {
    if (!listener && failRelease) throw std::runtime_error("release failed");
    record(listener ? "subscribe" : "unsubscribe");
    listener_ = std::move(listener);
  }
  FAKE_PROPERTY(std::int32_t, std::int32_t, AccessType, accessType)
  FAKE_PROPERTY(std::int32_t, std::int32_t, Protocol, protocol)
  FAKE_PROPERTY(std::int16_t, std::int16_t, RemotePort, remotePort)
  FAKE_PROPERTY(std::int32_t, std::int32_t, RequestTimeout, requestTimeout)
  FAKE_PROPERTY(std::string, const std::string&, URL, url)
  FAKE_PROPERTY(std::string, const std::string&, UserName, userName)
  FAKE_PROPERTY(std::string, const std::string&, Password, password)
  FAKE_PROPERTY(std::string, const std::string&, RemoteHost, remoteHost)
  FAKE_PROPERTY(std::string, const std::string&, Proxy, proxy)
  FAKE_PROPERTY(std::string, const std::string&, Document, document)

 private:
  // Logs the call and gives the empty answer every recorded call returns.
  template <typename... Parts>
  std::string record(const char* what, const Parts&... parts) {
    std::ostringstream line;
    line << what;
    ((line << ' ' << parts), ...);
    calls.push_back(line.str());
    return {};
  }

  EventPump& pump_;
  StateListener listener_;
};

// Logs "load", "status <text>", "max <n>", "value <n>", "bar shown", ... in call order.
class FakeSplashWindow final : public SplashWindow, public CancelFlag {
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
  bool isSet() override { return cancel == 1; }
  void onSet(std::function<void()> reaction) override { onCancel = std::move(reaction); }
  void clickCancel() {  // what the Cancel button does
    cancel = 1;
    setStatusCaption("Aborting...");
    if (onCancel) onCancel();
  }
  std::function<void()> onCancel;

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
