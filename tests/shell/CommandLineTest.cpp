// The command line of the search for local games: --find and its options,
// and the discovery options of --serve, with what they refuse.
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

}  // namespace
