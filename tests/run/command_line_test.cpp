#include "run/command_line.h"

#include <gtest/gtest.h>

namespace quillfen {
namespace {

// What each command line asks for. A line that is refused starts nothing, so a slip (an option
// in the file's place, a second file) must never come out as a run.
TEST(CommandLineTest, NamesTheSettingsFileOnceAndAtMostOneMode) {
  const struct {
    std::vector<std::string> arguments;
    const char* mode;
    const char* settingsFile;
    const char* refusal;
  } cases[] = {
      {{}, "", "", ""},
      {{"-c", "jobs/web.ini"}, "", "jobs/web.ini", ""},
      {{"--check", "--config", "/etc/quillfen/web.ini"}, "--check", "/etc/quillfen/web.ini", ""},
      {{"-c", "a.ini", "/config"}, "/config", "a.ini", ""},
      {{"--dry-run", "-c", "a.ini"}, "--dry-run", "a.ini", ""},
      {{"-c"}, "", "", "-c needs the name of a settings file after it"},
      {{"-c", "--check"}, "", "", "-c needs the name of a settings file after it"},
      {{"--config", ""}, "", "", "--config needs the name of a settings file after it"},
      {{"-c", "a.ini", "--config", "b.ini"}, "", "", "--config: the settings file is named twice"},
      {{"--check", "/config"}, "", "", "unknown argument '--check /config'"},
      {{"-c", "a.ini", "--dry"}, "", "a.ini", "unknown argument '--dry'"},
      {{""}, "", "", "unknown argument ''"},
  };
  for (const auto& c : cases) {
    const CommandLine line = ParseCommandLine(c.arguments);
    const std::string title = c.arguments.empty() ? "(none)" : c.arguments.front();
    EXPECT_EQ(line.refusal, c.refusal) << title;
    if (!line.refusal.empty()) continue;
    EXPECT_EQ(line.mode, c.mode) << title;
    EXPECT_EQ(line.settingsFile, c.settingsFile) << title;
  }
}

}  // namespace
}  // namespace quillfen
