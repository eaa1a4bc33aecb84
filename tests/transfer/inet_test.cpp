#include "transfer/inet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "support/fakes.h"

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Property;

// clang-format off
#define SCRIPTED_PROPERTY(Get, Set, Name, field) \
  Get Name() override { return field; } void Name(Set v) override { record(#Name, field = v); }
// clang-format on

// Records every call reaching it; after Execute, each StillExecuting read answers true and
// posts the next of `states` until none is left.
class ScriptedControl final : public TransferControl {
 public:
  explicit ScriptedControl(EventPump& pump) : pump_(pump) {}

  std::vector<std::string> calls;  // "RemotePort 21", "Execute host", "GetHeader Date", ...
  ExecuteArguments arguments;      // of the last Execute
  std::function<void()> onExecute;
  std::vector<std::int16_t> states;
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
    if (onExecute) onExecute();
  }
  bool StillExecuting() override {
    ++reads;
    if (states.empty()) return false;
    notify(states.front());
    states.erase(states.begin());
    return true;
  }
  TransferData GetChunk(std::int32_t, std::int32_t) override { return {}; }
  TransferData OpenURL(const std::string&, std::int16_t) override { return {}; }
  std::string GetHeader(const std::optional<std::string>& name) override {
    return record("GetHeader", name.value_or("(omitted)"));
  }
  void Cancel() override {}
  std::int32_t ResponseCode() override { return 226; }
  std::string ResponseInfo() override { return "226 Transfer complete."; }
  std::int32_t hInternet() override { return 0; }
  void SubscribeStateChanged(StateListener listener) override {
    if (!listener && failRelease) throw std::runtime_error("release failed");
    record(listener ? "subscribe" : "unsubscribe");
    listener_ = std::move(listener);
  }
  SCRIPTED_PROPERTY(std::int32_t, std::int32_t, AccessType, accessType)
  SCRIPTED_PROPERTY(std::int32_t, std::int32_t, Protocol, protocol)
  SCRIPTED_PROPERTY(std::int16_t, std::int16_t, RemotePort, remotePort)
  SCRIPTED_PROPERTY(std::int32_t, std::int32_t, RequestTimeout, requestTimeout)
  SCRIPTED_PROPERTY(std::string, const std::string&, URL, url)
  SCRIPTED_PROPERTY(std::string, const std::string&, UserName, userName)
  SCRIPTED_PROPERTY(std::string, const std::string&, Password, password)
  SCRIPTED_PROPERTY(std::string, const std::string&, RemoteHost, remoteHost)
  SCRIPTED_PROPERTY(std::string, const std::string&, Proxy, proxy)
  SCRIPTED_PROPERTY(std::string, const std::string&, Document, document)

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

class InetTest : public ::testing::Test {
 protected:
  InetTest() {
    env_.createControl = [this] {
      ++controlsMade_;
      auto control = std::make_unique<ScriptedControl>(env_.events);
      control_ = control.get();
      return control;
    };
    inet_.emplace(env_.frmMain, env_.events);
  }

  FakeEnvironment env_{"/opt/quillfen"};
  int controlsMade_ = 0;
  ScriptedControl* control_ = nullptr;
  std::optional<Inet> inet_;
};

TEST_F(InetTest, SetsDirectFtpOnPort21WithoutTimeLimitAndAFreshHostFollowsADestruction) {
  const auto construction =
      ElementsAre("subscribe", "AccessType 1", "Protocol 2", "RemotePort 21", "RequestTimeout 0");
  EXPECT_THAT(control_->calls, construction);
  control_->failRelease = true;
  inet_.reset();  // swallows the failure
  EXPECT_FALSE(env_.frmMain.IsLoaded());
  inet_.emplace(env_.frmMain, env_.events);
  EXPECT_EQ(controlsMade_, 2);
  EXPECT_THAT(control_->calls, construction);
}

TEST_F(InetTest, ExecutePassesTheFilledArgumentsWithAMarkerForEachGapBeforeOne) {
  const auto o = std::nullopt;
  const ExecuteArguments passed[] = {{},      {o, o, "H"},     {o, "D"},     {o, "D", "H"},
                                     {"DIR"}, {"DIR", o, "H"}, {"DIR", "D"}, {"DIR", "D", "H"}};
  for (int given = 0; given < 8; ++given) {  // bits: operation, data, headers
    inet_->Execute("h", given & 4 ? "DIR" : "", given & 2 ? "D" : "", given & 1 ? "H" : "");
    EXPECT_EQ(control_->arguments, passed[given]) << given;
  }
  inet_->Execute("", "DIR");
  EXPECT_EQ(control_->arguments, passed[4]);
  std::vector<std::string> executed(8, "Execute h");
  executed.push_back("Execute ");
  EXPECT_EQ(std::vector(control_->calls.end() - 9, control_->calls.end()), executed);
}

TEST_F(InetTest, ExecuteClearsTheLogFirstThenProcessesEventsUntilTheControlIsIdle) {
  control_->states = {5, 6, 12};
  inet_->Execute("host", "DIR");
  EXPECT_EQ(control_->reads, 4);
  EXPECT_EQ(env_.events.passes, 3);
  EXPECT_EQ(inet_->EventList(), "icRequesting\r\nicRequestSent\r\nicResponseCompleted\r\n");

  std::string logAtExecute = "not called";
  control_->onExecute = [&] { logAtExecute = inet_->EventList(); };
  inet_->Execute("host", "DIR");  // idle at once
  EXPECT_EQ(logAtExecute, "");
  EXPECT_EQ(control_->reads, 5);
  EXPECT_EQ(env_.events.passes, 3);

  control_->onExecute = [] { throw Error(errc::kTransferBusy, "busy"); };
  EXPECT_THROW(inet_->Execute("host", "DIR"), Error);
  EXPECT_EQ(control_->reads, 5) << "no wait after a refused Execute";
}

TEST_F(InetTest, EveryStateIsLoggedByNameBeforeItIsAnnouncedUnchanged) {
  const std::vector<std::int16_t> states = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1};
  std::istringstream names(
      "icNone icResolvingHost icHostResolved icConnecting icConnected icRequesting icRequestSent "
      "icReceivingResponse icResponseReceived icDisconnecting icDisconnected icError "
      "icResponseCompleted icUnknown icUnknown");
  std::vector<std::string> expectedLogs;
  std::string log;
  for (std::string name; names >> name;) expectedLogs.push_back(log += name + "\r\n");
  std::vector<std::int16_t> announced;
  std::vector<std::string> logsAtAnnouncement;
  inet_->OnStateChanged([&](std::int16_t state) {
    announced.push_back(state);
    logsAtAnnouncement.push_back(inet_->EventList());
  });
  for (std::int16_t state : states) control_->notify(state);
  env_.events.processEvents();
  EXPECT_EQ(announced, states);
  EXPECT_EQ(logsAtAnnouncement, expectedLogs);
}

TEST_F(InetTest, SixteenBitPropertiesOverflowTagAndIndexStayInInetAndHeaderNamesPass) {
  const auto overflows = ::testing::Throws<Error>(Property(&Error::number, errc::kOverflow));
  for (std::int32_t port : {65535, 32768, -32769}) {
    EXPECT_THAT([&] { inet_->RemotePort(port); }, overflows) << port;
    EXPECT_EQ(control_->remotePort, 21) << port;
  }
  inet_->RemotePort(-32768);
  EXPECT_EQ(inet_->RemotePort(), -32768);
  control_->protocol = 40000;
  control_->accessType = -40000;
  EXPECT_THAT([&] { inet_->Protocol(); }, overflows);
  EXPECT_THAT([&] { inet_->AccessType(); }, overflows);

  control_->calls.clear();
  inet_->Tag("run 7");
  inet_->Index(-3);
  EXPECT_EQ(inet_->Tag(), "run 7");
  EXPECT_EQ(inet_->Index(), -3);
  inet_->GetHeader();
  inet_->GetHeader("Date");
  EXPECT_THAT(control_->calls, ElementsAre("GetHeader (omitted)", "GetHeader Date"));
}

}  // namespace
}  // namespace quillfen::test
