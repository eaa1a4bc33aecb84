#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace quillfen::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Outcome {
  int exitCode = -1;
  std::string text;  // standard output and error
};

Outcome run(std::vector<std::string> argv) {
  ChildProcess child(std::move(argv), true);
  child.closeInput();
  const int exitCode = child.wait(std::chrono::seconds(120));
  return {exitCode, child.output() + child.errors()};
}

// The console program installed with `cmake --install` into a temporary prefix: its
// lib/quillfen/Config.ini links to <prefix>/etc/quillfen/Config.ini, as the package's links to
// /etc/quillfen/Config.ini.
class InstalledProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runTool({QUILLFEN_CMAKE, "--install", QUILLFEN_BUILD_DIR, "--prefix", prefix.str(),
             "--component", "quillfen"});
    setenv("QUILLFEN_UI", "console", 1);
  }
  std::string program() const { return (prefix.path() / "bin/quillfen").string(); }
  fs::path configFile() const { return prefix.path() / "etc/quillfen/Config.ini"; }

  TempDir prefix;
};

TEST_F(InstalledProgramTest, FirstStartWritesTheTemplateBehindTheLinkForItsOwnerOnly) {
  const Outcome first = run({program()});
  EXPECT_EQ(first.exitCode, 2) << first.text;
  EXPECT_EQ(fs::status(configFile()).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  const Outcome edit = run({program(), "/config"});
  EXPECT_EQ(edit.exitCode, 0) << edit.text;
  EXPECT_THAT(edit.text, HasSubstr("edit the configuration file " + configFile().string()));
}

// Another user than the owner of the configuration folder (root installs, a user starts it).
TEST_F(InstalledProgramTest, AnotherUserIsToldHowToMakeAJobOfTheirOwn) {
  std::vector<std::string> argv{program()};
  if (geteuid() == 0) {
    // The unprivileged user must reach the program; the configuration folder stays root's.
    fs::permissions(prefix.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    argv.insert(argv.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  } else {
    fs::permissions(configFile().parent_path(), fs::perms::none);
  }

  const Outcome refused = run(argv);

  EXPECT_EQ(refused.exitCode, 2) << refused.text;
  EXPECT_THAT(refused.text, HasSubstr("cp " + (prefix.path() / "lib/quillfen/quillfen").string()));
}

}  // namespace
}  // namespace quillfen::test
