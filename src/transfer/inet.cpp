#include "transfer/inet.h"

#include <algorithm>
#include <chrono>

#include "process/event_pump.h"
#include "transfer/main_form.h"

namespace quillfen {

namespace {

constexpr std::chrono::milliseconds kLongestEventWait{250};

// Cuts text between UTF-8 sequences, so that every text chunk is whole characters.
std::size_t textCut(std::string_view text, std::size_t wanted) {
  if (wanted >= text.size()) return text.size();
  std::size_t cut = wanted;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  if (cut > 0) return cut;
  cut = wanted;  // a single character longer than the chunk: hand it out whole
  while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
  return cut;
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

void Inet::Execute(const std::string& URL, const std::string& Operation) {
  Execute(URL, parseFtpOperation(Operation));
}

void Inet::Execute(const std::string& URL, const FtpOperation& operation) {
  eventList_.clear();
  chunkText_.reset();
  chunkOffset_ = 0;
  oInet_->Execute(URL, operation);
  waitUntilIdle();
}

// No limit of its own: the control bounds its requests. Each pass waits until an event is
// pending (a socket of the transfer, a click), so the loop does not spin a core, and the bound
// on each wait keeps it looking at the control at least that often.
void Inet::waitUntilIdle() {
  while (oInet_->StillExecuting()) events_.processEventsWaiting(kLongestEventWait);
}

TransferData Inet::GetChunk(std::int32_t size, std::int32_t datatype) {
  if (!chunkText_) chunkText_ = formatListing(oInet_->Listing());
  const std::string_view rest = std::string_view(*chunkText_).substr(chunkOffset_);
  const std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
  const std::size_t taken = datatype == 0 ? textCut(rest, wanted) : std::min(wanted, rest.size());
  chunkOffset_ += taken;
  if (datatype == 0) return std::string(rest.substr(0, taken));
  return std::vector<unsigned char>(rest.begin(), rest.begin() + static_cast<long>(taken));
}

const std::vector<RemoteEntry>& Inet::Listing() {
  return oInet_->Listing();
}

std::optional<std::time_t> Inet::ExactModifiedTime(const std::string& URL,
                                                   const std::string& remote) {
  eventList_.clear();
  return oInet_->ExactModifiedTime(URL, remote);
}

void Inet::Cancel() {
  oInet_->Cancel();
}

std::string Inet::UserName() {
  return oInet_->Settings().userName;
}
void Inet::UserName(const std::string& vData) {
  oInet_->Settings().userName = vData;
}
std::string Inet::URL() {
  return oInet_->Settings().address.shown;
}
void Inet::URL(const std::string& vData) {
  oInet_->Settings().address = parseFtpAddress(vData);
}
void Inet::Source(const FtpAddress& address) {
  oInet_->Settings().address = address;
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
std::string Inet::Password() {
  return oInet_->Settings().password;
}
void Inet::Password(const std::string& vData) {
  oInet_->Settings().password = vData;
}
std::string Inet::KeyFile() {
  return oInet_->Settings().keyFile;
}
void Inet::KeyFile(const std::string& vData) {
  oInet_->Settings().keyFile = vData;
}
ServerTrust Inet::Trust() {
  return oInet_->Settings().trust;
}
void Inet::Trust(const ServerTrust& trust) {
  oInet_->Settings().trust = trust;
}

}  // namespace quillfen
