// The command line of the search for local games: --find and its options,
// the discovery options and the limits of --serve, with what they refuse.
#include <gtest/gtest.h>

#include "shell/CommandLine.h"

namespace {

TEST(CommandLine, FindTakesOneAddressSecondsAndAPortAndRefusesTheRest) {
  TCommandLine line = ParseCommandLine({"--find"});
  ASSERT_EQ(line.Kind, TCommandKind::Find);
  EXPECT_TRUE(line.Find.Targets.empty());
  EXPECT_EQ(line.Find.Seconds, 2);
  EXPECT_EQ(line.Find.DiscoveryPort, 2048);

  line = ParseCommandLine(
      {"--find", "--broadcast", "127.255.255.255", "--seconds", "5", "--discovery-port", "4100"});
  ASSERT_EQ(line.Kind, TCommandKind::Find) << line.Error;
  EXPECT_EQ(line.Find.Targets, std::vector<uint32_t>{0x7FFFFFFFu});
  EXPECT_EQ(line.Find.Seconds, 5);
  EXPECT_EQ(line.Find.DiscoveryPort, 4100);

  for (std::vector<std::string> refused : {std::vector<std::string>{"--find", "--broadcast"},
                                           {"--find", "--broadcast", "not an address.invalid"},
                                           {"--find", "--seconds", "-1"},
                                           {"--find", "--seconds", "two"},
                                           {"--find", "--discovery-port", "65536"},
                                           {"--find", "--port", "2048"}}) {
    line = ParseCommandLine(refused);
    EXPECT_EQ(line.Kind, TCommandKind::Error) << refused.back();
    EXPECT_FALSE(line.Error.empty());
  }
}

TEST(CommandLine, ServeAnswersDiscoveryOnPort2048UnlessToldOtherwise) {
  TCommandLine line = ParseCommandLine({"--serve", "--port", "0"});
  ASSERT_EQ(line.Kind, TCommandKind::Serve);
  EXPECT_TRUE(line.Serve.Discovery);
  EXPECT_EQ(line.Serve.DiscoveryPort, 2048);

  line = ParseCommandLine({"--serve", "--no-discovery", "--discovery-port", "4100"});
  ASSERT_EQ(line.Kind, TCommandKind::Serve) << line.Error;
  EXPECT_FALSE(line.Serve.Discovery);
  EXPECT_EQ(line.Serve.DiscoveryPort, 4100);
  EXPECT_EQ(ParseCommandLine({"--serve", "--discovery-port", "x"}).Kind, TCommandKind::Error);
}

// The router is asked for the ports only when the host says so.
TEST(CommandLine, ServeOpensTheRouterPortOnlyWithUpnp) {
  EXPECT_FALSE(ParseCommandLine({"--serve"}).Serve.Upnp);
  TCommandLine line = ParseCommandLine({"--serve", "--web", "--upnp"});
  ASSERT_EQ(line.Kind, TCommandKind::Serve) << line.Error;
  EXPECT_TRUE(line.Serve.Upnp);
  EXPECT_EQ(ParseCommandLine({"--join", "127.0.0.1", "--upnp"}).Kind, TCommandKind::Error);
}

// The host's limits are off unless asked for, so a game among friends plays
// as without them.
TEST(CommandLine, ServeLimitsAreOffByDefaultAndRefuseValuesOutOfRange) {
  TCommandLine line = ParseCommandLine({"--serve"});
  ASSERT_EQ(line.Kind, TCommandKind::Serve);
  EXPECT_EQ(line.Serve.MaxPlayers, 0);
  EXPECT_EQ(line.Serve.MaxPerAddress, 0);
  EXPECT_EQ(line.Serve.ChatLimit, 0);

  line =
      ParseCommandLine({"--serve", "--max-players", "64", "--max-per-address", "4", "--chat-limit", "1000"});
  ASSERT_EQ(line.Kind, TCommandKind::Serve) << line.Error;
  EXPECT_EQ(line.Serve.MaxPlayers, 64);
  EXPECT_EQ(line.Serve.MaxPerAddress, 4);
  EXPECT_EQ(line.Serve.ChatLimit, 1000);

  for (std::vector<std::string> refused : {std::vector<std::string>{"--serve", "--max-players", "-1"},
                                           {"--serve", "--max-per-address", "x"},
                                           {"--serve", "--chat-limit", "1001"},
                                           {"--serve", "--chat-limit"}}) {
    line = ParseCommandLine(refused);
    EXPECT_EQ(line.Kind, TCommandKind::Error) << refused.back();
    EXPECT_FALSE(line.Error.empty());
  }
}

}  // namespace

// --mute and --volume go with the game and with --join, wherever they stand
// among its words, and never reach the words the client window reads first.
namespace {

TEST(CommandLine, SoundOptionsGoWithTheGameAndJoinAndStayOutOfTheGamesWords) {
  TCommandLine line = ParseCommandLine({"--mute", "debug", "--volume", "35"});
  ASSERT_EQ(line.Kind, TCommandKind::Game) << line.Error;
  EXPECT_TRUE(line.Sound.Muted);
  EXPECT_EQ(line.Sound.Volume, 35);
  EXPECT_EQ(line.GameArguments, std::vector<std::string>{"debug"});

  line = ParseCommandLine({"--join", "127.0.0.1:2050", "--volume", "0", "--name", "Ann", "debug"});
  ASSERT_EQ(line.Kind, TCommandKind::Join) << line.Error;
  EXPECT_FALSE(line.Sound.Muted);
  EXPECT_EQ(line.Sound.Volume, 0);
  EXPECT_EQ(line.GameArguments, std::vector<std::string>{"debug"});
  EXPECT_EQ(ParseCommandLine({"debug"}).Sound.Volume, TSoundSettings::MaxVolume);

  for (std::vector<std::string> refused : {std::vector<std::string>{"--volume"},
                                           {"--volume", "101"},
                                           {"--volume", "-1"},
                                           {"--volume", "loud"},
                                           {"--join", "h", "--volume"},
                                           {"--serve", "--mute"}})
    EXPECT_EQ(ParseCommandLine(refused).Kind, TCommandKind::Error) << refused.back();

  const QStringList words{"varozuvod", "--mute", "debug", "--volume", "20", "800", "600"};
  EXPECT_EQ(WithoutSoundOptions(words), (QStringList{"varozuvod", "debug", "800", "600"}));
}

}  // namespace

// --fps goes with the game and with --join, within 10 to 120, and the frame
// timer's period follows it (to the nearest millisecond).
namespace {

TEST(CommandLine, FrameRateGoesWithTheGameAndJoinWithinItsRangeAndSetsThePeriod) {
  TCommandLine line = ParseCommandLine({"debug", "--fps", "60", "800", "600"});
  ASSERT_EQ(line.Kind, TCommandKind::Game) << line.Error;
  EXPECT_EQ(line.FrameRate, 60);
  EXPECT_EQ(line.GameArguments, (std::vector<std::string>{"debug", "800", "600"}));
  line = ParseCommandLine({"--join", "127.0.0.1", "--fps", "120", "--mute"});
  ASSERT_EQ(line.Kind, TCommandKind::Join) << line.Error;
  EXPECT_EQ(line.FrameRate, 120);
  EXPECT_TRUE(line.Sound.Muted);
  EXPECT_EQ(ParseCommandLine({"debug"}).FrameRate, 25);

  for (std::vector<std::string> refused : {std::vector<std::string>{"--fps"},
                                           {"--fps", "9"},
                                           {"--fps", "121"},
                                           {"--fps", "fast"},
                                           {"--join", "h", "--fps", "0"},
                                           {"--serve", "--fps", "60"}})
    EXPECT_EQ(ParseCommandLine(refused).Kind, TCommandKind::Error) << refused.back();

  const QStringList words{"varozuvod", "--fps", "60", "debug", "--volume", "20"};
  EXPECT_EQ(WithoutSoundOptions(words), (QStringList{"varozuvod", "debug"}));
  EXPECT_EQ(FramePeriodMs(25), 40);
  EXPECT_EQ(FramePeriodMs(60), 17);
  EXPECT_EQ(FramePeriodMs(10), 100);
  EXPECT_EQ(FramePeriodMs(120), 8);
}

}  // namespace
