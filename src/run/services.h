#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quillfen {

class CancelFlag;
class CommandRunner;
class Clock;
class EventPump;
class FileSystem;
class LocaleFormat;
class MainForm;
class MessageBoxes;
class Pinger;
class ProcessServices;
class Sleeper;
class SmtpComponent;
class SplashWindow;

// The environment of a run: every platform piece the run touches, injected so that each rule
// can be tested on any host without waiting.
struct Services {
  const Clock& clock;
  Sleeper& sleeper;
  EventPump& events;
  SplashWindow& frmSplash;
  CancelFlag& cancel;  // frmSplash's ckbCancel
  MessageBoxes& messages;
  ProcessServices& process;
  const LocaleFormat& format;
  MainForm& frmMain;  // the hidden host of the transfer control
  std::function<std::unique_ptr<FileSystem>()> createFileSystem;
  // May throw: a mail component that cannot be created.
  std::function<std::unique_ptr<SmtpComponent>()> createMailComponent;
  // Shows the finished report to a user at a terminal; may be empty.
  std::function<void(const std::string& report)> showReport;
  // The pings to PingUrl; may be empty: no pings.
  std::function<std::unique_ptr<Pinger>()> createPinger;
  CommandRunner& commands;  // runs the hooks of Config.ini
};

}  // namespace quillfen
