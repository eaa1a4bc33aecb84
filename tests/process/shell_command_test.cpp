#include "process/shell_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/temp_dir.h"

namespace quillfen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using End = CommandOutcome::End;

struct ShellCase {
  const char* name;
  std::string commandLine;  // "$T" is a folder of the test's own
  std::chrono::milliseconds limit;
  End end;
  int exitCode;
  std::string outputEnd;  // what the output ends with
  bool stop = false;      // stopped (keepGoing false) once the background's pid is written
};

void PrintTo(const ShellCase& c, std::ostream* out) {
  *out << c.name;
}

// Whether `pid` is gone (or a zombie nobody reaps yet), looked at for up to five seconds.
bool endsSoon(pid_t pid) {
  for (int i = 0; i < 100; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    if (!(stat >> pidText >> name >> state) || state == "Z") return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

class HostShellTest : public ::testing::TestWithParam<ShellCase> {
 protected:
  // The report's temporary file goes to a folder of the test's own, which must be left empty.
  HostShellTest() { ::setenv("TMPDIR", tmp.str().c_str(), 1); }
  ~HostShellTest() override { ::unsetenv("TMPDIR"); }
  test::TempDir folder, tmp;
};

TEST_P(HostShellTest, EndsAsItsCommandDoesAndKeepsTheEndOfItsOutput) {
  const ShellCase& c = GetParam();
  // A descriptor of this process that the command must not get.
  const int leaked = ::open("/dev/null", O_RDONLY);
  ShellCommand command;
  command.commandLine =
      "T=" + folder.str() + "; L=" + std::to_string(leaked) + "; " + c.commandLine;
  command.variables = {{"QUILLFEN_JOB", "web.ini"}, {"HOME", "/replaced"}};
  command.fileVariable = "QUILLFEN_REPORT";
  command.fileText = "the report";
  command.limit = c.limit;
  if (c.stop) command.keepGoing = [this] { return !fs::exists(folder.path() / "pid"); };

  const CommandOutcome outcome = HostCommandRunner().run(command);
  ::close(leaked);

  EXPECT_EQ(outcome.end, c.end);
  if (c.end == End::Exited) {
    EXPECT_EQ(outcome.exitCode, c.exitCode);
  }
  EXPECT_TRUE(outcome.output.ends_with(c.outputEnd)) << outcome.output.substr(0, 200);
  EXPECT_LE(outcome.output.size(), kCommandOutputKept);
  EXPECT_TRUE(fs::is_empty(tmp.path())) << "the report's file was left behind";
  // What the command left in the background: gone after a time-out, to be ended here otherwise.
  if (!fs::exists(folder.path() / "pid")) return;
  const pid_t background = std::stoi(test::readFile(folder.path() / "pid"));
  if (c.end != End::Exited) {
    EXPECT_TRUE(endsSoon(background));
  }
  ::kill(background, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HostShellTest,
    ::testing::Values(
        ShellCase{"ExitCodeAndBothStreams", "echo out; echo err >&2; exit 3", 20s, End::Exited, 3,
                  "out\nerr\n"},
        ShellCase{"VariablesAndAPrivateReportFile",
                  "printf '%s|%s|%s|' \"$QUILLFEN_JOB\" \"$HOME\" \"$(cat \"$QUILLFEN_REPORT\")\"; "
                  "ls -l \"$QUILLFEN_REPORT\" | cut -c1-10",
                  20s, End::Exited, 0, "web.ini|/replaced|the report|-rw-------\n"},
        ShellCase{"NoInputAndNoDescriptorOfTheProgram",
                  "cat; [ -e /proc/self/fd/$L ] && echo inherited || echo closed", 20s, End::Exited,
                  0, "closed\n"},
        ShellCase{"LongOutputKeepsItsEnd", "seq 1 200000", 20s, End::Exited, 0, "199999\n200000\n"},
        ShellCase{"TimedOutEndsTheWholeGroup", "sleep 60 & echo $! > $T/pid; echo began; wait",
                  300ms, End::TimedOut, 0, "began\n"},
        ShellCase{"AStopEndsTheWholeGroupAtOnce", "sleep 60 & echo $! > $T/pid; wait", 20s,
                  End::Stopped, 0, "", true},
        ShellCase{"WhatItLeftRunningDoesNotHoldTheRun", "sleep 60 & echo $! > $T/pid; echo began",
                  20s, End::Exited, 0, "began\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillfen
