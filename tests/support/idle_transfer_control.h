#pragma once

#include "transfer/transfer_control.h"

namespace quillfen::test {

// A transfer control that keeps its properties and is never busy: for runs whose source is
// not FTP, which only construct and configure Inet.
class IdleTransferControl final : public TransferControl {
 public:
  TransferData OpenURL(const std::string&, std::int16_t) override { return std::string(); }
  void Execute(const std::string&, const ExecuteArguments&) override {}
  std::string GetHeader(const std::optional<std::string>&) override { return {}; }
  TransferData GetChunk(std::int32_t, std::int32_t) override { return std::string(); }
  void Cancel() override {}
  bool StillExecuting() override { return false; }
  std::int32_t ResponseCode() override { return 0; }
  std::string ResponseInfo() override { return {}; }
  std::int32_t AccessType() override { return accessType_; }
  void AccessType(std::int32_t vData) override { accessType_ = vData; }
  std::int32_t Protocol() override { return protocol_; }
  void Protocol(std::int32_t vData) override { protocol_ = vData; }
  std::int16_t RemotePort() override { return remotePort_; }
  void RemotePort(std::int16_t vData) override { remotePort_ = vData; }
  std::int32_t RequestTimeout() override { return requestTimeout_; }
  void RequestTimeout(std::int32_t vData) override { requestTimeout_ = vData; }
  std::string URL() override { return url_; }
  void URL(const std::string& vData) override { url_ = vData; }
  std::string UserName() override { return userName_; }
  void UserName(const std::string& vData) override { userName_ = vData; }
  std::string Password() override { return password_; }
  void Password(const std::string& vData) override { password_ = vData; }
  std::string RemoteHost() override { return remoteHost_; }
  void RemoteHost(const std::string& vData) override { remoteHost_ = vData; }
  std::string Proxy() override { return proxy_; }
  void Proxy(const std::string& vData) override { proxy_ = vData; }
  std::int32_t hInternet() override { return 0; }
  std::string Document() override { return document_; }
  void Document(const std::string& vData) override { document_ = vData; }
  void SubscribeStateChanged(StateListener) override {}

 private:
  std::int32_t accessType_ = 0, protocol_ = 0, requestTimeout_ = 0;
  std::int16_t remotePort_ = 0;
  std::string url_, userName_, password_, remoteHost_, proxy_, document_;
};

}  // namespace quillfen::test
