#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "filestore/file_system.h"
#include "process/cancel_flag.h"
#include "process/clock.h"
#include "process/event_pump.h"
#include "process/locale_format.h"
#include "process/message_boxes.h"
#include "process/process_services.h"
#include "process/shell_command.h"
#include "process/sleeper.h"
#include "process/splash_window.h"
#include "run/services.h"
#include "transfer/main_form.h"
#include "transfer/transfer_control.h"

namespace quillfen::test {

// What the fakes below were asked to show, in order ("load", "status Creating folders...",
// "error [Quillfen] ...", "edit <path>"), shared so that tests can check the order.
using CallLog = std::vector<std::string>;

struct FakeClock final : Clock {
  DateTime now() const override { return current; }
  DateTime current{{2003, 10, 5}, 2, 15, 3};
};

struct FakeSleeper final : Sleeper {  // returns at once
  void sleep(int) override {}
};

// Each pass runs `onProcess` (a user action such as a Cancel click), then the posted tasks.
struct FakeEventPump final : EventPump {
  void processEvents() override {
    ++passes;
    if (onProcess) onProcess();
    for (std::deque<std::function<void()>> ready(std::move(posted)); auto& task : ready) task();
  }
  void processEventsWaiting(std::chrono::milliseconds) override { processEvents(); }
  void post(std::function<void()> task) override { posted.push_back(std::move(task)); }
  std::unique_ptr<IoWatch> watchIo(IoHandlers) override { throw std::logic_error("no sockets"); }
  std::function<void()> onProcess;
  int passes = 0;
  std::deque<std::function<void()>> posted;
};

// A transfer control that plays a server: `onExecute` sees each request and may set the reply
// (`listing`, `code`, `info`, `states`); each StillExecuting read then posts the next of
// `states` until none is left.
struct FakeTransferControl final : TransferControl {
  explicit FakeTransferControl(EventPump& pump) : pump_(pump) {}

  std::function<void(const FtpOperation& operation)> onExecute;
  std::vector<RemoteEntry> listing;
  std::string info;
  std::int32_t code = 226;
  std::deque<std::int16_t> states;

  void Execute(const std::string&, const FtpOperation& operation) override {
    if (onExecute) onExecute(operation);
  }
  RequestOutcome Outcome() override {
    return code / 100 == 2 ? RequestOutcome::Completed : RequestOutcome::Failed;
  }
  bool StillExecuting() override {
    if (states.empty()) return false;
    pump_.post([this, state = states.front()] { listener_(state); });
    states.pop_front();
    return true;
  }
  const std::vector<RemoteEntry>& Listing() override { return listing; }
  std::optional<std::time_t> ExactModifiedTime(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void Cancel() override {}
  std::int32_t ResponseCode() override { return code; }
  std::string ResponseInfo() override { return info; }
  void SubscribeStateChanged(StateListener listener) override { listener_ = std::move(listener); }
  EventPump& pump_;
  StateListener listener_;
};

// Logs "load" and "status <text>"; keeps every value written to the bar.
struct FakeSplashWindow final : SplashWindow, CancelFlag {
  explicit FakeSplashWindow(CallLog& log) : log(log) {}
  void load() override { log.push_back("load"), cancel = 0; }
  void show() override {}
  void hide() override {}
  void unload() override {}
  void setStatusCaption(const std::string& text) override {
    log.push_back("status " + (status = text));
  }
  void setProgressMin(float) override {}
  void setProgressMax(float) override {}
  void setProgressValue(float value) override { values.push_back(value); }
  void setProgressVisible(bool) override {}
  int cancelValue() override { return cancel; }
  bool isSet() override { return cancel == 1; }
  void onSet(std::function<void()> reaction) override { onCancel = std::move(reaction); }
  void clickCancel() {  // what the Cancel button does
    cancel = 1;
    setStatusCaption("Aborting...");
    if (onCancel) onCancel();
  }

  CallLog& log;
  std::function<void()> onCancel;
  int cancel = 0;
  std::string status;
  std::vector<float> values;  // every Value written
};

struct FakeMessageBoxes final : MessageBoxes {
  explicit FakeMessageBoxes(CallLog& log) : log(log) {}
  void information(const std::string& title, const std::string& text) override {
    log.push_back("info [" + title + "] " + text);
  }
  void error(const std::string& title, const std::string& text) override {
    log.push_back("error [" + title + "] " + text);
  }
  CallLog& log;
};

struct FakeProcessServices final : ProcessServices {
  FakeProcessServices(CallLog& log, std::string folder) : log(log), folder(std::move(folder)) {}
  std::string executableFolder() const override { return folder; }
  std::string namedSettingsFile() const override { return settingsFile; }
  std::string hostName() const override { return "testhost"; }
  void openForEditing(const std::string& path) override { log.push_back("edit " + path); }
  void keepSecretsOutOfCoreDumps() override { log.push_back("not dumpable"); }
  bool runsUnderPackagedUnit() const override { return underPackagedUnit; }
  CallLog& log;
  std::string folder;
  std::string settingsFile;  // -c FILE; empty: Config.ini in `folder`
  bool underPackagedUnit = false;
};

// A shell that runs nothing: each command is kept, and `onRun` (when set) gives its outcome;
// otherwise it exits with 0.
struct FakeCommandRunner final : CommandRunner {
  CommandOutcome run(const ShellCommand& command) override {
    commands.push_back(command);
    return onRun ? onRun(command) : CommandOutcome{CommandOutcome::End::Exited, 0, {}};
  }
  std::vector<ShellCommand> commands;
  std::function<CommandOutcome(const ShellCommand&)> onRun;
};

// A complete set of fakes wired into Services. The file system, transfer control and mail
// component factories are left for the test to set.
struct FakeEnvironment {
  explicit FakeEnvironment(std::string exeFolder) : process(log, std::move(exeFolder)) {}

  CallLog log;
  FakeClock clock;
  FakeSleeper sleeper;
  FakeEventPump events;
  FakeSplashWindow window{log};
  FakeMessageBoxes messages{log};
  FakeProcessServices process;
  FakeCommandRunner commands;
  LocaleFormat format = LocaleFormat::posix();
  MainForm::ControlFactory createControl;  // used by frmMain; set by the test
  MainForm frmMain{[this] { return createControl(); }};
  Services services{clock,  sleeper, events,  window,  window,  messages, process,
                    format, frmMain, nullptr, nullptr, nullptr, nullptr,  commands};

  // The same fakes around a real event pump and transfer host, with the system's file system: for
  // runs against real servers.
  Services servicesOver(EventPump& pump, MainForm& host) {
    return {clock,    sleeper, pump,    window,  window,
            messages, process, format,  host,    makeHostFileSystem,
            nullptr,  nullptr, nullptr, commands};
  }
};

}  // namespace quillfen::test
