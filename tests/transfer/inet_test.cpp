#include "transfer/inet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "process/event_pump.h"
#include "transfer/main_form.h"

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;

class CountingPump final : public EventPump {
 public:
  void processEvents() override {
    ++passes;
    std::deque<std::function<void()>> ready;
    ready.swap(queue_);
    for (auto& task : ready) task();
  }
  void post(std::function<void()> task) override { queue_.push_back(std::move(task)); }
  int passes = 0;

 private:
  std::deque<std::function<void()>> queue_;
};

// Records every member call that reaches the control, with the values written.
class RecordingControl final : public TransferControl {
 public:
  explicit RecordingControl(EventPump& pump) : pump_(pump) {}

  std::vector<std::string> calls;
  std::string executedUrl;
  ExecuteArguments executedArguments;
  std::optional<std::optional<std::string>> headerArgument;
  int busyReads = 0;  // how many StillExecuting reads answer true
  int stillExecutingReads = 0;
  std::vector<std::int16_t> statesDuringWait;  // posted one per busy read
  std::function<void()> onExecute;
  bool failRelease = false;

  void notify(std::int16_t state) {
    pump_.post([this, state] {
      if (listener_) listener_(state);
    });
  }

  TransferData OpenURL(const std::string& URL, std::int16_t datatype) override {
    calls.push_back("OpenURL " + URL + " " + std::to_string(datatype));
    return std::string("page");
  }
  void Execute(const std::string& URL, const ExecuteArguments& arguments) override {
    calls.push_back("Execute");
    if (onExecute) onExecute();
    executedUrl = URL;
    executedArguments = arguments;
  }
  std::string GetHeader(const std::optional<std::string>& headername) override {
    headerArgument = headername;
    return "header";
  }
  TransferData GetChunk(std::int32_t size, std::int32_t datatype) override {
    calls.push_back("GetChunk " + std::to_string(size) + " " + std::to_string(datatype));
    return std::string("chunk");
  }
  void Cancel() override { calls.push_back("Cancel"); }
  bool StillExecuting() override {
    ++stillExecutingReads;
    if (busyReads == 0) return false;
    --busyReads;
    if (!statesDuringWait.empty()) {
      notify(statesDuringWait.front());
      statesDuringWait.erase(statesDuringWait.begin());
    }
    return true;
  }
  std::int32_t ResponseCode() override { return 226; }
  std::string ResponseInfo() override { return "226 Transfer complete."; }

  std::int32_t AccessType() override { return accessType; }
  void AccessType(std::int32_t vData) override { record("AccessType", accessType = vData); }
  std::int32_t Protocol() override { return protocol; }
  void Protocol(std::int32_t vData) override { record("Protocol", protocol = vData); }
  std::int16_t RemotePort() override { return remotePort; }
  void RemotePort(std::int16_t vData) override { record("RemotePort", remotePort = vData); }
  std::int32_t RequestTimeout() override { return requestTimeout; }
  void RequestTimeout(std::int32_t vData) override {
    record("RequestTimeout", requestTimeout = vData);
  }
  std::string URL() override { return url; }
  void URL(const std::string& vData) override { calls.push_back("URL " + (url = vData)); }
  std::string UserName() override { return {}; }
  void UserName(const std::string&) override { calls.push_back("UserName"); }
  std::string Password() override { return {}; }
  void Password(const std::string&) override { calls.push_back("Password"); }
  std::string RemoteHost() override { return {}; }
  void RemoteHost(const std::string&) override { calls.push_back("RemoteHost"); }
  std::string Proxy() override { return {}; }
  void Proxy(const std::string&) override { calls.push_back("Proxy"); }
  std::int32_t hInternet() override { return 0; }
  std::string Document() override { return {}; }
  void Document(const std::string&) override { calls.push_back("Document"); }

  void SubscribeStateChanged(StateListener listener) override {
    if (!listener && failRelease) throw std::runtime_error("release failed");
    calls.push_back(listener ? "subscribe" : "unsubscribe");
    listener_ = std::move(listener);
  }

  std::int32_t accessType = 0, protocol = 0, requestTimeout = -1;
  std::int16_t remotePort = 0;
  std::string url;

 private:
  void record(const char* property, std::int32_t value) {
    calls.push_back(std::string(property) + " " + std::to_string(value));
  }

  EventPump& pump_;
  StateListener listener_;
};

class InetTest : public ::testing::Test {
 protected:
  InetTest()
      : frmMain_([this] {
          ++controlsMade_;
          auto control = std::make_unique<RecordingControl>(pump_);
          control_ = control.get();
          return control;
        }) {}

  CountingPump pump_;
  int controlsMade_ = 0;
  RecordingControl* control_ = nullptr;
  MainForm frmMain_;
};

TEST_F(InetTest, ConstructionBindsTheControlAndSetsDirectFtpOnPort21) {
  Inet inet(frmMain_, pump_);
  EXPECT_THAT(control_->calls, ElementsAre("subscribe", "AccessType 1", "Protocol 2",
                                           "RemotePort 21", "RequestTimeout 0"));
  EXPECT_EQ(inet.AccessType(), 1);
  EXPECT_EQ(inet.Protocol(), 2);
  EXPECT_EQ(inet.RemotePort(), 21);
  EXPECT_EQ(inet.RequestTimeout(), 0);
  EXPECT_EQ(inet.Tag(), "");
  EXPECT_EQ(inet.Index(), 0);
}

struct PresenceCase {
  const char* key;
  std::string operation, data, headers;
  ExecuteArguments passed;
};

class InetPresenceKeyTest : public InetTest, public ::testing::WithParamInterface<PresenceCase> {};

TEST_P(InetPresenceKeyTest, PassesOnlyTheFilledArgumentsWithMarkersBeforeThem) {
  const PresenceCase& c = GetParam();
  Inet inet(frmMain_, pump_);
  inet.Execute("ftp.example.org", c.operation, c.data, c.headers);
  EXPECT_EQ(control_->executedUrl, "ftp.example.org");
  EXPECT_EQ(control_->executedArguments, c.passed) << "key " << c.key;
}

const auto kOmitted = std::nullopt;
INSTANTIATE_TEST_SUITE_P(
    AllKeys, InetPresenceKeyTest,
    ::testing::Values(PresenceCase{"000", "", "", "", {}},
                      PresenceCase{"001", "", "", "H", {kOmitted, kOmitted, "H"}},
                      PresenceCase{"010", "", "D", "", {kOmitted, "D"}},
                      PresenceCase{"011", "", "D", "H", {kOmitted, "D", "H"}},
                      PresenceCase{"100", "DIR", "", "", {"DIR"}},
                      PresenceCase{"101", "DIR", "", "H", {"DIR", kOmitted, "H"}},
                      PresenceCase{"110", "DIR", "D", "", {"DIR", "D"}},
                      PresenceCase{"111", "DIR", "D", "H", {"DIR", "D", "H"}}),
    [](const auto& info) { return std::string("Key") + info.param.key; });

TEST_F(InetTest, AnEmptyUrlIsStillPassed) {
  Inet inet(frmMain_, pump_);
  control_->executedUrl = "not called";
  inet.Execute("", "DIR");
  EXPECT_EQ(control_->executedUrl, "");
  EXPECT_EQ(control_->executedArguments, ExecuteArguments{"DIR"});
}

TEST_F(InetTest, IdleControlIsReadOnceAndNoEventsAreProcessed) {
  Inet inet(frmMain_, pump_);
  inet.Execute("host", "DIR");
  EXPECT_EQ(control_->stillExecutingReads, 1);
  EXPECT_EQ(pump_.passes, 0);
}

TEST_F(InetTest, WaitProcessesEventsUntilTheControlIsIdle) {
  Inet inet(frmMain_, pump_);
  control_->busyReads = 3;
  control_->statesDuringWait = {5, 6, 12};
  inet.Execute("host", "DIR");
  EXPECT_EQ(control_->stillExecutingReads, 4);
  EXPECT_EQ(pump_.passes, 3);
  EXPECT_EQ(inet.EventList(), "icRequesting\r\nicRequestSent\r\nicResponseCompleted\r\n");
}

TEST_F(InetTest, EventListIsClearedBeforeTheControlIsCalled) {
  Inet inet(frmMain_, pump_);
  control_->busyReads = 1;
  control_->statesDuringWait = {11};
  inet.Execute("host", "DIR");
  ASSERT_EQ(inet.EventList(), "icError\r\n");

  std::string seenAtExecute = "not called";
  control_->onExecute = [&] {
    seenAtExecute = inet.EventList();
    throw Error(errc::kTransferBusy, "busy");
  };
  EXPECT_THROW(inet.Execute("host", "DIR"), Error);
  EXPECT_EQ(seenAtExecute, "");
  EXPECT_EQ(inet.EventList(), "");
  EXPECT_EQ(control_->stillExecutingReads, 2) << "no wait after a failed Execute";
}

TEST_F(InetTest, EveryStateIsLoggedByNameThenReannounced) {
  Inet inet(frmMain_, pump_);
  std::vector<std::int16_t> announced;
  std::vector<std::string> lastLineAtAnnouncement;
  inet.OnStateChanged([&](std::int16_t state) {
    announced.push_back(state);
    const std::string& list = inet.EventList();
    const auto start = list.rfind("\r\n", list.size() - 3);
    lastLineAtAnnouncement.push_back(
        list.substr(start == std::string::npos ? 0 : start + 2, std::string::npos));
  });
  const std::vector<std::int16_t> states = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 13, -1};
  for (std::int16_t state : states) control_->notify(state);
  pump_.processEvents();

  EXPECT_EQ(inet.EventList(),
            "icNone\r\nicResolvingHost\r\nicHostResolved\r\nicConnecting\r\nicConnected\r\n"
            "icRequesting\r\nicRequestSent\r\nicReceivingResponse\r\nicResponseReceived\r\n"
            "icDisconnecting\r\nicDisconnected\r\nicError\r\nicResponseCompleted\r\n"
            "icResponseCompleted\r\nicUnknown\r\nicUnknown\r\n");
  EXPECT_EQ(announced, states);
  EXPECT_EQ(lastLineAtAnnouncement.front(), "icNone\r\n");
  EXPECT_EQ(lastLineAtAnnouncement.back(), "icUnknown\r\n");
}

TEST_F(InetTest, StatesAfterExecuteAreAppendedUntilTheNextOne) {
  Inet inet(frmMain_, pump_);
  inet.Execute("host", "DIR");
  control_->notify(12);
  inet.OpenURL("host/file");
  pump_.processEvents();
  EXPECT_EQ(inet.EventList(), "icResponseCompleted\r\n");
}

TEST_F(InetTest, RemotePortOutside16BitsOverflowsAndLeavesThePort) {
  Inet inet(frmMain_, pump_);
  for (std::int32_t port : {65535, 32768, -32769}) {
    try {
      inet.RemotePort(port);
      ADD_FAILURE() << port << " was accepted";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kOverflow);
    }
    EXPECT_EQ(control_->remotePort, 21);
  }
  inet.RemotePort(-32768);
  EXPECT_EQ(inet.RemotePort(), -32768);
  inet.RemotePort(21);
  EXPECT_EQ(inet.RemotePort(), 21);
}

TEST_F(InetTest, ProtocolAndAccessTypeReadsOverflowWhenTheControlsValueIsTooBig) {
  Inet inet(frmMain_, pump_);
  control_->protocol = 40000;
  control_->accessType = -40000;
  EXPECT_THROW(inet.Protocol(), Error);
  EXPECT_THROW(inet.AccessType(), Error);
  inet.Protocol(4);
  EXPECT_EQ(inet.Protocol(), 4);
}

TEST_F(InetTest, TagAndIndexNeverReachTheControl) {
  Inet inet(frmMain_, pump_);
  const auto callsBefore = control_->calls.size();
  inet.Tag("run 7");
  inet.Index(-3);
  EXPECT_EQ(inet.Tag(), "run 7");
  EXPECT_EQ(inet.Index(), -3);
  EXPECT_EQ(control_->calls.size(), callsBefore);
}

TEST_F(InetTest, ForwardsTheOtherOperationsUnchanged) {
  Inet inet(frmMain_, pump_);
  EXPECT_EQ(std::get<std::string>(inet.GetChunk(256)), "chunk");
  EXPECT_EQ(std::get<std::string>(inet.OpenURL("host/a", 1)), "page");
  inet.Cancel();
  EXPECT_THAT(control_->calls,
              ::testing::IsSupersetOf({"GetChunk 256 0", "OpenURL host/a 1", "Cancel"}));
  inet.GetHeader();
  EXPECT_EQ(control_->headerArgument,
            std::optional<std::optional<std::string>>(std::in_place, std::nullopt));
  inet.GetHeader("Date");
  EXPECT_EQ(control_->headerArgument, std::optional<std::optional<std::string>>("Date"));
}

TEST_F(InetTest, DestructionUnloadsTheHostAndTheNextInetGetsAFreshControl) {
  {
    Inet first(frmMain_, pump_);
    control_->failRelease = true;  // swallowed
  }
  EXPECT_FALSE(frmMain_.IsLoaded());
  Inet second(frmMain_, pump_);
  EXPECT_EQ(controlsMade_, 2);
  EXPECT_EQ(second.RemotePort(), 21);
}

}  // namespace
}  // namespace quillfen::test
