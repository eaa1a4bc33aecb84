#include "process/process_services.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <cstdlib>
#include <string>

namespace quillfen {
namespace {

// In a child of its own, since the state lasts for the process. 0 keeps the process out of core
// dumps (and its /proc files from other users).
TEST(ProcessServicesDeathTest, KeepingSecretsMakesTheProcessNonDumpable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        HostProcessServices(false).keepSecretsOutOfCoreDumps();
        std::_Exit(::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Outside the packaged service (no INVOCATION_ID, or another unit's control group) the advice
// on ReadWritePaths= would mislead.
TEST(ProcessServicesTest, OnlyThePackagedServiceCountsAsIt) {
  const char* old = std::getenv("INVOCATION_ID");
  const std::string saved = old ? old : "";
  setenv("INVOCATION_ID", "0123456789abcdef0123456789abcdef", 1);
  EXPECT_FALSE(HostProcessServices(false).runsUnderPackagedUnit()) << "a test is no service";
  old ? setenv("INVOCATION_ID", saved.c_str(), 1) : unsetenv("INVOCATION_ID");
}

}  // namespace
}  // namespace quillfen
