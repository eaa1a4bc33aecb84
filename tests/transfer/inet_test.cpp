#include "transfer/inet.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace quillfen::test {
namespace {

class InetTest : public ::testing::Test {
 protected:
  InetTest() {
    env_.createControl = [this] {
      auto control = std::make_unique<FakeTransferControl>(env_.events);
      control_ = control.get();
      return control;
    };
    inet_.emplace(env_.frmMain, env_.events);
  }

  FakeEnvironment env_{"/opt/quillfen"};
  FakeTransferControl* control_ = nullptr;
  std::optional<Inet> inet_;
};

TEST_F(InetTest, ExecutePassesTheFilledArgumentsWithAMarkerForEachGapBeforeOne) {
  const auto o = std::nullopt;
  const ExecuteArguments passed[] = {{},      {o, o, "H"},     {o, "D"},     {o, "D", "H"},
                                     {"DIR"}, {"DIR", o, "H"}, {"DIR", "D"}, {"DIR", "D", "H"}};
  for (int given = 0; given < 8; ++given) {  // bits: operation, data, headers
    inet_->Execute("h", given & 4 ? "DIR" : "", given & 2 ? "D" : "", given & 1 ? "H" : "");
    EXPECT_EQ(control_->arguments, passed[given]) << given;
  }
}

// Execute empties the log, then waits while every state is logged by name, unknown numbers
// included, before it is announced unchanged.
TEST_F(InetTest, ExecuteLogsEveryStateByNameInOrderBeforeAnnouncingIt) {
  control_->states = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1};
  std::istringstream names(
      "icNone icResolvingHost icHostResolved icConnecting icConnected icRequesting icRequestSent "
      "icReceivingResponse icResponseReceived icDisconnecting icDisconnected icError "
      "icResponseCompleted icUnknown icUnknown");
  std::vector<std::string> expected, logged;
  std::vector<std::int16_t> announced;
  for (std::string log, name; names >> name;) expected.push_back(log += name + "\r\n");
  control_->notify(5);  // a line from before the request
  env_.events.processEvents();
  inet_->OnStateChanged([&](std::int16_t state) {
    announced.push_back(state);
    logged.push_back(inet_->EventList());
  });
  const std::deque<std::int16_t> states = control_->states;
  inet_->Execute("host", "DIR");
  EXPECT_EQ(announced, std::vector(states.begin(), states.end()));
  EXPECT_EQ(logged, expected);
}

}  // namespace
}  // namespace quillfen::test
