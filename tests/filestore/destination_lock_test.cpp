#include "filestore/destination_lock.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/error.h"
#include "support/temp_dir.h"

// The destination lock on Linux (flock) and on Windows (LockFileEx, whose locks keep others
// from reading the locked bytes).

namespace quillfen {
namespace {

TEST(DestinationLockTest, OneHolderAtATimeAndTheOtherLearnsItsProcess) {
  const test::TempDir folder;
  std::optional<DestinationLock> first(folder.str());
  try {
    DestinationLock second(folder.str());
    ADD_FAILURE() << "a second lock was granted";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::kDestinationInUse);
    EXPECT_EQ(error.description().find("process unknown"), std::string::npos)
        << "the holder's process number was not readable: " << error.description();
  }
  first.reset();
  EXPECT_NO_THROW(DestinationLock again(folder.str())) << "the lock outlived its holder";
  EXPECT_NO_THROW(DestinationLock(folder.str() + "/missing")) << "a missing folder is not locked";
}

}  // namespace
}  // namespace quillfen
