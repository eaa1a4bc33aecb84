#include "transfer/inet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "support/fakes.h"

namespace quillfen::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Property;

class InetTest : public ::testing::Test {
 protected:
  InetTest() {
    env_.createControl = [this] {
      ++controlsMade_;
      auto control = std::make_unique<FakeTransferControl>(env_.events);
      control_ = control.get();
      return control;
    };
    inet_.emplace(env_.frmMain, env_.events);
  }

  FakeEnvironment env_{"/opt/quillfen"};
  int controlsMade_ = 0;
  FakeTransferControl* control_ = nullptr;
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
  control_->onExecute = [&](const std::string&) { logAtExecute = inet_->EventList(); };
  inet_->Execute("host", "DIR");  // idle at once
  EXPECT_EQ(logAtExecute, "");
  EXPECT_EQ(control_->reads, 5);
  EXPECT_EQ(env_.events.passes, 3);

  control_->onExecute = [](const std::string&) { throw Error(errc::kTransferBusy, "busy"); };
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

TEST_F(InetTest, RemotePortOverflowsInSixteenBitsAndTagAndIndexStayInInet) {
  const auto overflows = ::testing::Throws<Error>(Property(&Error::number, errc::kOverflow));
  for (std::int32_t port : {65535, 32768, -32769}) {
    EXPECT_THAT([&] { inet_->RemotePort(port); }, overflows) << port;
    EXPECT_EQ(control_->remotePort, 21) << port;
  }
  inet_->RemotePort(-32768);
  EXPECT_EQ(inet_->RemotePort(), -32768);
  control_->calls.clear();
  inet_->Tag("run 7");
  inet_->Index(-3);
  EXPECT_EQ(inet_->Tag(), "run 7");
  EXPECT_EQ(inet_->Index(), -3);
  EXPECT_THAT(control_->calls, ::testing::IsEmpty());
}

}  // namespace
}  // namespace quillfen::test
