#include "transfer/inet.h"

#include <chrono>
#include <limits>

#include "common/error.h"
#include "process/event_pump.h"
#include "transfer/main_form.h"

namespace quillfen {

namespace {

constexpr std::int32_t kDirectAccess = 1;
constexpr std::int32_t kFtpProtocol = 2;
constexpr std::int16_t kFtpPort = 21;
constexpr std::chrono::milliseconds kLongestEventWait{250};

std::int16_t narrowed(std::int32_t value, const char* property) {
  if (value < std::numeric_limits<std::int16_t>::min() ||
      value > std::numeric_limits<std::int16_t>::max()) {
    throw Error(errc::kOverflow, std::string("Overflow: ") + property + " " +
                                     std::to_string(value) + " does not fit 16 bits");
  }
  return static_cast<std::int16_t>(value);
}

// The filled optional arguments, with an omitted-argument marker for each empty one that
// stands before a filled one and nothing for the empty ones after the last filled one.
ExecuteArguments presentArguments(const std::string& operation, const std::string& data,
                                  const std::string& requestHeaders) {
  ExecuteArguments arguments;
  for (const std::string* argument : {&operation, &data, &requestHeaders}) {
    if (argument->empty()) {
      arguments.push_back(std::nullopt);
    } else {
      arguments.push_back(*argument);
    }
  }
  while (!arguments.empty() && !arguments.back()) arguments.pop_back();
  return arguments;
}

}  // namespace

const std::array<const char*, 13> Inet::StateNames = {"icNone",
                                                      "icResolvingHost",
                                                      "icHostResolved",
                                                      "icConnecting",
                                                      "icConnected",
                                                      "icRequesting",
                                                      "icRequestSent",
                                                      "icReceivingResponse",
                                                      "icResponseReceived",
                                                      "icDisconnecting",
                                                      "icDisconnected",
                                                      "icError",
                                                      "icResponseCompleted"};

Inet::Inet(MainForm& host, EventPump& events)
    : host_(host), events_(events), oInet_(&host.Inet1()) {
  oInet_->SubscribeStateChanged([this](std::int16_t state) { controlStateChanged(state); });
  try {
    oInet_->AccessType(kDirectAccess);
    oInet_->Protocol(kFtpProtocol);
    oInet_->RemotePort(kFtpPort);
    oInet_->RequestTimeout(0);
  } catch (...) {
    oInet_->SubscribeStateChanged(nullptr);
    throw;
  }
}

Inet::~Inet() {
  try {
    oInet_->SubscribeStateChanged(nullptr);
  } catch (...) {
    // A failed release must not keep frmMain loaded.
  }
  oInet_ = nullptr;
  try {
    host_.Unload();
  } catch (...) {
    // Destruction never fails: there is nobody left to tell.
  }
}

void Inet::controlStateChanged(std::int16_t state) {
  const bool known = state >= 0 && state < static_cast<std::int16_t>(StateNames.size());
  eventList_ += known ? StateNames[static_cast<std::size_t>(state)] : "icUnknown";
  eventList_ += "\r\n";
  if (stateChanged_) stateChanged_(state);
}

TransferData Inet::OpenURL(const std::string& URL, std::int16_t datatype) {
  return oInet_->OpenURL(URL, datatype);
}

void Inet::Execute(const std::string& URL, const std::string& Operation, const std::string& Data,
                   const std::string& requestHeaders) {
  eventList_.clear();
  oInet_->Execute(URL, presentArguments(Operation, Data, requestHeaders));
  waitUntilIdle();
}

// No limit of its own: the control bounds its requests. Each pass waits until an event is
// pending (a socket of the transfer, a click), so the loop does not spin a core, and the bound
// on each wait keeps it looking at the control at least that often.
void Inet::waitUntilIdle() {
  while (oInet_->StillExecuting()) events_.processEventsWaiting(kLongestEventWait);
}

std::string Inet::GetHeader(const std::string& headername) {
  if (headername.empty()) return oInet_->GetHeader(std::nullopt);
  return oInet_->GetHeader(headername);
}

TransferData Inet::GetChunk(std::int32_t size, std::int32_t datatype) {
  return oInet_->GetChunk(size, datatype);
}

void Inet::Cancel() {
  oInet_->Cancel();
}

std::string Inet::UserName() {
  return oInet_->UserName();
}
void Inet::UserName(const std::string& vData) {
  oInet_->UserName(vData);
}
std::string Inet::URL() {
  return oInet_->URL();
}
void Inet::URL(const std::string& vData) {
  oInet_->URL(vData);
}
bool Inet::StillExecuting() {
  return oInet_->StillExecuting();
}
RequestOutcome Inet::Outcome() {
  return oInet_->Outcome();
}
std::string Inet::ResponseInfo() {
  return oInet_->ResponseInfo();
}
std::int32_t Inet::ResponseCode() {
  return oInet_->ResponseCode();
}
std::int32_t Inet::RequestTimeout() {
  return oInet_->RequestTimeout();
}
void Inet::RequestTimeout(std::int32_t vData) {
  oInet_->RequestTimeout(vData);
}
std::int32_t Inet::RemotePort() {
  return oInet_->RemotePort();
}
void Inet::RemotePort(std::int32_t vData) {
  oInet_->RemotePort(narrowed(vData, "RemotePort"));
}
std::string Inet::RemoteHost() {
  return oInet_->RemoteHost();
}
void Inet::RemoteHost(const std::string& vData) {
  oInet_->RemoteHost(vData);
}
std::string Inet::Proxy() {
  return oInet_->Proxy();
}
void Inet::Proxy(const std::string& vData) {
  oInet_->Proxy(vData);
}
std::int16_t Inet::Protocol() {
  return narrowed(oInet_->Protocol(), "Protocol");
}
void Inet::Protocol(std::int16_t vData) {
  oInet_->Protocol(vData);
}
std::string Inet::Password() {
  return oInet_->Password();
}
void Inet::Password(const std::string& vData) {
  oInet_->Password(vData);
}
std::int32_t Inet::hInternet() {
  return oInet_->hInternet();
}
std::string Inet::Document() {
  return oInet_->Document();
}
void Inet::Document(const std::string& vData) {
  oInet_->Document(vData);
}
std::string Inet::KeyFile() {
  return oInet_->KeyFile();
}
void Inet::KeyFile(const std::string& vData) {
  oInet_->KeyFile(vData);
}
std::string Inet::Trust() {
  return oInet_->Trust();
}
void Inet::Trust(const std::string& vData) {
  oInet_->Trust(vData);
}
std::int16_t Inet::AccessType() {
  return narrowed(oInet_->AccessType(), "AccessType");
}
void Inet::AccessType(std::int16_t vData) {
  oInet_->AccessType(vData);
}

}  // namespace quillfen
