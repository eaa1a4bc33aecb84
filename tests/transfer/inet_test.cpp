#include "transfer/inet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "support/fakes.h"
#include "support/scripted_transfer_control.h"

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;

class InetTest : public ::testing::Test {
 protected:
  InetTest() {
    env_.createControl = [this] {
      ++controlsMade_;
      auto control = std::make_unique<ScriptedTransferControl>(env_.events);
      control_ = control.get();
      return control;
    };
    inet_.emplace(env_.frmMain, env_.events);
  }

  FakeEnvironment env_{"/opt/quillfen"};
  int controlsMade_ = 0;
  ScriptedTransferControl* control_ = nullptr;
  std::optional<Inet> inet_;
};

TEST_F(InetTest, ConstructionSubscribesAndSetsDirectFtpOnPort21WithoutTimeLimit) {
  EXPECT_THAT(control_->calls, ElementsAre("subscribe", "AccessType 1", "Protocol 2",
                                           "RemotePort 21", "RequestTimeout 0"));
}

TEST_F(InetTest, ExecutePassesTheFilledArgumentsWithAMarkerForEachGapBeforeOne) {
  const auto o = std::nullopt;
  const struct {
    std::string url, operation, data, headers;
    ExecuteArguments passed;
  } cases[] = {{"h", "", "", "", {}},
               {"h", "", "", "H", {o, o, "H"}},
               {"h", "", "D", "", {o, "D"}},
               {"h", "", "D", "H", {o, "D", "H"}},
               {"h", "DIR", "", "", {"DIR"}},
               {"h", "DIR", "", "H", {"DIR", o, "H"}},
               {"h", "DIR", "D", "", {"DIR", "D"}},
               {"h", "DIR", "D", "H", {"DIR", "D", "H"}},
               {"", "DIR", "", "", {"DIR"}}};
  for (const auto& c : cases) {
    control_->calls.clear();
    inet_->Execute(c.url, c.operation, c.data, c.headers);
    const std::string key = c.url + "|" + c.operation + "|" + c.data + "|" + c.headers;
    EXPECT_THAT(control_->calls, ElementsAre("Execute " + c.url)) << key;
    EXPECT_EQ(control_->arguments, c.passed) << key;
  }
}

TEST_F(InetTest, ExecuteClearsTheLogFirstThenProcessesEventsUntilTheControlIsIdle) {
  control_->states = {5, 6, 12};
  inet_->Execute("host", "DIR");
  EXPECT_EQ(control_->reads, 4);
  EXPECT_EQ(env_.events.passes, 3);
  EXPECT_EQ(inet_->EventList(), "icRequesting\r\nicRequestSent\r\nicResponseCompleted\r\n");

  std::string logAtExecute = "not called";
  control_->onExecute = [&](const std::string&) { logAtExecute = inet_->EventList(); };
  inet_->Execute("host", "DIR");  // idle at once
  EXPECT_EQ(logAtExecute, "");
  EXPECT_EQ(control_->reads, 5);
  EXPECT_EQ(env_.events.passes, 3);
  EXPECT_EQ(inet_->EventList(), "");

  control_->onExecute = [](const std::string&) { throw Error(errc::kTransferBusy, "busy"); };
  EXPECT_THROW(inet_->Execute("host", "DIR"), Error);
  EXPECT_EQ(control_->reads, 5) << "no wait after a refused Execute";
}

TEST_F(InetTest, EveryStateIsLoggedByNameBeforeItIsAnnouncedUnchanged) {
  const std::vector<std::int16_t> states = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1};
  const char* names[] = {"icNone",
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
                         "icResponseCompleted",
                         "icUnknown",
                         "icUnknown"};
  std::vector<std::string> expectedLogs;
  std::string log;
  for (const char* name : names) expectedLogs.push_back(log += std::string(name) + "\r\n");
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

TEST_F(InetTest, SixteenBitPropertiesOverflowInsteadOfWrapping) {
  for (std::int32_t port : {65535, 32768, -32769}) {
    try {
      inet_->RemotePort(port);
      ADD_FAILURE() << port << " was accepted";
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), errc::kOverflow);
    }
    EXPECT_EQ(control_->remotePort, 21) << port;
  }
  inet_->RemotePort(-32768);
  EXPECT_EQ(inet_->RemotePort(), -32768);
  control_->protocol = 40000;
  control_->accessType = -40000;
  EXPECT_THROW(inet_->Protocol(), Error);
  EXPECT_THROW(inet_->AccessType(), Error);
}

TEST_F(InetTest, TagAndIndexStayInInetAndTheRestIsForwarded) {
  control_->calls.clear();
  inet_->Tag("run 7");
  inet_->Index(-3);
  EXPECT_EQ(inet_->Tag(), "run 7");
  EXPECT_EQ(inet_->Index(), -3);
  inet_->GetChunk(256);
  inet_->OpenURL("host/a");
  inet_->GetHeader();
  inet_->GetHeader("Date");
  inet_->Cancel();
  EXPECT_THAT(control_->calls, ElementsAre("GetChunk 256 0", "OpenURL host/a 0",
                                           "GetHeader (omitted)", "GetHeader Date", "Cancel"));
}

TEST_F(InetTest, DestructionSwallowsFailuresAndTheNextInetGetsAFreshHost) {
  control_->failRelease = true;
  inet_.reset();
  EXPECT_FALSE(env_.frmMain.IsLoaded());
  inet_.emplace(env_.frmMain, env_.events);
  EXPECT_EQ(controlsMade_, 2);
  EXPECT_EQ(control_->remotePort, 21);
}

}  // namespace
}  // namespace quillfen::test
