#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "transfer/transfer_control.h"

namespace quillfen {

class EventPump;
class MainForm;

// The synchronous FTP client over the transfer control Inet1 of frmMain. Execute waits until
// the control is idle, processing the front end's events meanwhile; every state change of the
// control is logged in EventList and re-announced through StateChanged. Only one Inet may live
// at a time: destroying it unloads frmMain.
class Inet {
 public:
  using StateChangedHandler = std::function<void(std::int16_t State)>;

  // Loads frmMain, binds its control and sets direct FTP access on port 21 with no request
  // time limit.
  Inet(MainForm& host, EventPump& events);
  // Never throws: releasing the control and unloading frmMain are attempted and their
  // failures ignored.
  ~Inet();
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;

  TransferData OpenURL(const std::string& URL, std::int16_t datatype = 0);
  void Execute(const std::string& URL = {}, const std::string& Operation = {},
               const std::string& Data = {}, const std::string& requestHeaders = {});
  std::string GetHeader(const std::string& headername = {});
  TransferData GetChunk(std::int32_t size, std::int32_t datatype = 0);
  void Cancel();

  const std::string& EventList() const { return eventList_; }
  std::string UserName();
  void UserName(const std::string& vData);
  std::string URL();
  void URL(const std::string& vData);
  const std::string& Tag() const { return tag_; }
  void Tag(const std::string& vData) { tag_ = vData; }
  bool StillExecuting();
  RequestOutcome Outcome();
  std::string ResponseInfo();
  std::int32_t ResponseCode();
  std::int32_t RequestTimeout();
  void RequestTimeout(std::int32_t vData);
  std::int32_t RemotePort();
  void RemotePort(std::int32_t vData);  // Error(kOverflow) outside -32768..32767
  std::string RemoteHost();
  void RemoteHost(const std::string& vData);
  std::string Proxy();
  void Proxy(const std::string& vData);
  std::int16_t Protocol();  // Error(kOverflow) when the control's value does not fit
  void Protocol(std::int16_t vData);
  std::string Password();
  void Password(const std::string& vData);
  std::int16_t Index() const { return index_; }
  void Index(std::int16_t vData) { index_ = vData; }
  std::int32_t hInternet();
  std::string Document();
  void Document(const std::string& vData);
  std::int16_t AccessType();  // Error(kOverflow) when the control's value does not fit
  void AccessType(std::int16_t vData);
  std::string KeyFile();
  void KeyFile(const std::string& vData);
  std::string Trust();
  void Trust(const std::string& vData);

  // The listener of this object's own StateChanged event, raised after the line is logged.
  void OnStateChanged(StateChangedHandler handler) { stateChanged_ = std::move(handler); }

 private:
  void controlStateChanged(std::int16_t state);
  void waitUntilIdle();

  static const std::array<const char*, 13> StateNames;

  MainForm& host_;
  EventPump& events_;
  TransferControl* oInet_;
  std::string eventList_;
  std::int16_t index_ = 0;
  std::string tag_;
  StateChangedHandler stateChanged_;
};

}  // namespace quillfen
