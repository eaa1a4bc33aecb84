#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "transfer/transfer_control.h"

namespace quillfen {

class EventPump;
class MainForm;

// What GetChunk hands back: text for datatype 0, bytes for datatype 1.
using TransferData = std::variant<std::string, std::vector<unsigned char>>;

// The synchronous FTP client over the transfer control Inet1 of frmMain. Execute waits until
// the control is idle, processing the front end's events meanwhile; every state change of the
// control is logged in EventList and re-announced through StateChanged. Only one Inet may live
// at a time: destroying it unloads frmMain.
class Inet {
 public:
  using StateChangedHandler = std::function<void(std::int16_t State)>;

  // Loads frmMain and binds its control, whose settings start with no address and no request
  // time limit.
  Inet(MainForm& host, EventPump& events);
  // Never throws: releasing the control and unloading frmMain are attempted and their
  // failures ignored.
  ~Inet();
  Inet(const Inet&) = delete;
  Inet& operator=(const Inet&) = delete;

  // `Operation` is "DIR" or "GET" with their names (parseFtpOperation).
  void Execute(const std::string& URL, const std::string& Operation);
  void Execute(const std::string& URL, const FtpOperation& operation);
  // The last listing as text in pieces of at most `size` characters (formatListing), whole
  // characters each; an empty piece once it is all handed out.
  TransferData GetChunk(std::int32_t size, std::int32_t datatype = 0);
  // The last listing's entries, as the control gave them.
  const std::vector<RemoteEntry>& Listing();
  void Cancel();
  // The file's exact time from the server (TransferControl).
  std::optional<std::time_t> ExactModifiedTime(const std::string& URL, const std::string& remote);

  const std::string& EventList() const { return eventList_; }
  std::string UserName();
  void UserName(const std::string& vData);
  // The address as shown (FtpAddress::shown); set from text (parseFtpAddress, Error for one
  // it cannot use) or as read when the settings loaded.
  std::string URL();
  void URL(const std::string& vData);
  void Source(const FtpAddress& address);
  bool StillExecuting();
  RequestOutcome Outcome();
  std::string ResponseInfo();
  std::int32_t ResponseCode();
  std::string Password();
  void Password(const std::string& vData);
  std::string KeyFile();
  void KeyFile(const std::string& vData);
  ServerTrust Trust();
  void Trust(const ServerTrust& trust);

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
  std::optional<std::string> chunkText_;  // the listing as GetChunk hands it out, once asked
  std::size_t chunkOffset_ = 0;
  StateChangedHandler stateChanged_;
};

}  // namespace quillfen
