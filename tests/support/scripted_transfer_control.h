#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "process/event_pump.h"
#include "transfer/transfer_control.h"

namespace quillfen::test {

// A transfer control that records every call reaching it and plays a script: after Execute,
// each StillExecuting read answers true and posts the next of `states` until none is left.
class ScriptedTransferControl final : public TransferControl {
 public:
  explicit ScriptedTransferControl(EventPump& pump) : pump_(pump) {}

  std::vector<std::string> calls;  // "RemotePort 21", "Execute host", "GetChunk 256 0", ...
  ExecuteArguments arguments;      // of the last Execute
  std::function<void(const std::string& operation)> onExecute;  // may set the script or throw
  std::vector<std::int16_t> states;
  std::string data;  // what GetChunk hands out, piece by piece
  std::int32_t code = 226;
  std::string info = "226 Transfer complete.";
  int reads = 0;  // StillExecuting reads
  bool failRelease = false;
  std::int32_t accessType = 0, protocol = 0, requestTimeout = -1;
  std::int16_t remotePort = 0;
  std::string url;

  void notify(std::int16_t state) {
    pump_.post([this, state] {
      if (listener_) listener_(state);
    });
  }

  void Execute(const std::string& URL, const ExecuteArguments& args) override {
    calls.push_back("Execute " + URL);
    arguments = args;
    if (onExecute) onExecute(args.empty() ? "" : args.front().value_or(""));
  }
  bool StillExecuting() override {
    ++reads;
    if (states.empty()) return false;
    notify(states.front());
    states.erase(states.begin());
    return true;
  }
  TransferData GetChunk(std::int32_t size, std::int32_t type) override {
    calls.push_back("GetChunk " + std::to_string(size) + " " + std::to_string(type));
    const std::string piece = data.substr(0, static_cast<std::size_t>(size));
    data.erase(0, piece.size());
    return piece;
  }
  TransferData OpenURL(const std::string& URL, std::int16_t type) override {
    calls.push_back("OpenURL " + URL + " " + std::to_string(type));
    return std::string("page");
  }
  std::string GetHeader(const std::optional<std::string>& name) override {
    calls.push_back("GetHeader " + name.value_or("(omitted)"));
    return {};
  }
  void Cancel() override { calls.push_back("Cancel"); }
  std::int32_t ResponseCode() override { return code; }
  std::string ResponseInfo() override { return info; }
  void SubscribeStateChanged(StateListener listener) override {
    if (!listener && failRelease) throw std::runtime_error("release failed");
    calls.push_back(listener ? "subscribe" : "unsubscribe");
    listener_ = std::move(listener);
  }

  std::int32_t AccessType() override { return accessType; }
  void AccessType(std::int32_t v) override { record("AccessType", accessType = v); }
  std::int32_t Protocol() override { return protocol; }
  void Protocol(std::int32_t v) override { record("Protocol", protocol = v); }
  std::int16_t RemotePort() override { return remotePort; }
  void RemotePort(std::int16_t v) override { record("RemotePort", remotePort = v); }
  std::int32_t RequestTimeout() override { return requestTimeout; }
  void RequestTimeout(std::int32_t v) override { record("RequestTimeout", requestTimeout = v); }
  std::string URL() override { return url; }
  void URL(const std::string& v) override { record("URL", url = v); }
  std::string UserName() override { return {}; }
  void UserName(const std::string& v) override { record("UserName", v); }
  std::string Password() override { return {}; }
  void Password(const std::string& v) override { record("Password", v); }
  std::string RemoteHost() override { return {}; }
  void RemoteHost(const std::string& v) override { record("RemoteHost", v); }
  std::string Proxy() override { return {}; }
  void Proxy(const std::string& v) override { record("Proxy", v); }
  std::int32_t hInternet() override { return 0; }
  std::string Document() override { return {}; }
  void Document(const std::string& v) override { record("Document", v); }

 private:
  void record(const char* property, std::int32_t value) { record(property, std::to_string(value)); }
  void record(const char* property, const std::string& value) {
    calls.push_back(std::string(property) + " " + value);
  }

  EventPump& pump_;
  StateListener listener_;
};

}  // namespace quillfen::test
