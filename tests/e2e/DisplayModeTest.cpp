// The display mode asked for on the command line comes back however the
// game ends: the game runs as its own process on an X display of the test's
// own, switches it to 800 x 600, and is ended by a real signal.  SIGTERM,
// SIGINT and SIGHUP end it in order and then by that same signal; a crash
// (SIGSEGV) or SIGKILL leave the restore to its guardian process.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>

#include <QProcess>

#include "OwnDisplaySupport.h"
#include "Pump.h"

namespace {
constexpr int ModeWaitMs = 10000;
constexpr int EndWaitMs = 10000;
const std::string Native = "1280x1024", Asked = "800x600";

class DisplayModeEnd : public testing::TestWithParam<int> {};

TEST_P(DisplayModeEnd, TheModeComesBackHoweverTheGameEnds) {
  const int number = GetParam();
  TOwnDisplay display(800, 600);
  ASSERT_FALSE(display.Name().isEmpty()) << "Xvfb did not start";
  QProcess game;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("DISPLAY", display.Name());
  environment.insert("QT_QPA_PLATFORM", "xcb");
  game.setProcessEnvironment(environment);
  game.setWorkingDirectory(VAROZUVOD_GAME_DIR);
  game.setChildProcessModifier([] {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);  // the crash leaves no core file behind
  });
  game.start(VAROZUVOD_EXE, {"800", "600"});
  ASSERT_TRUE(PumpUntil([&] { return display.CurrentMode() == Asked; }, ModeWaitMs)) << display.CurrentMode();

  ::kill(static_cast<pid_t>(game.processId()), number);
  ASSERT_TRUE(game.waitForFinished(EndWaitMs));
  EXPECT_TRUE(PumpUntil([&] { return display.CurrentMode() == Native; }, ModeWaitMs))
      << display.CurrentMode();
  // Whoever started the game sees the status of the signal that ended it.
  EXPECT_EQ(game.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(game.exitCode(), number) << strsignal(game.exitCode());
}

INSTANTIATE_TEST_SUITE_P(Signals, DisplayModeEnd, testing::Values(SIGTERM, SIGINT, SIGHUP, SIGSEGV, SIGKILL),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });
}  // namespace
