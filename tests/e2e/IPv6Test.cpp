// The game over IPv6 with every process real: bots join a headless host
// given as [::1]:PORT and its listing names them by the IPv6 loopback; and,
// inside a network namespace of the test's own whose loopback holds
// addresses of two /64 networks, --max-per-address counts the players of
// one /64 as one address.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>

#include <QProcess>
#include <QRegularExpression>
#include <cstdlib>

#include "Pump.h"
#include "support/HostProcess.h"
#include "support/LoopbackHosts.h"
#include "support/RawPeers.h"

namespace {

constexpr uint32_t MsgPassword = 1, MsgError = 2, MsgJoin = 3;

// The host's first answer to a newcomer that logs in: 3 when admitted, 2
// with the reason when turned away.
TRawFrame Answer(TRawClient& client, const std::string& name) {
  client.SendFrame(MsgJoin, name);
  TRawFrame frame;
  while (client.NextFrame(frame))
    if (frame.Id == MsgJoin || frame.Id == MsgError) return frame;
  return {};
}

TEST(IPv6, BotsJoinAHostGivenAsTheIPv6LoopbackAndTheListingNamesThem) {
  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  THostProcess host({"--port", "0", "--no-discovery"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  QProcess bots;
  bots.setWorkingDirectory(VAROZUVOD_GAME_DIR);
  bots.start(VAROZUVOD_EXE, {"--bots", QString("[::1]:%1").arg(port), "--count", "3", "--chat", "600",
                             "--walk", "--seconds", "1"});
  ASSERT_TRUE(bots.waitForFinished(30000));
  QString report = QString::fromUtf8(bots.readAllStandardOutput());
  EXPECT_EQ(bots.exitCode(), 0) << report.toStdString() << bots.readAllStandardError().toStdString();
  // Rows as the listing prints them: added, named, gone; never IPv4.
  for (const char* bot : {"bot1", "bot2", "bot3"})
    EXPECT_TRUE(host.WaitFor(QString("^=\t::1/\\d+\t%1\t").arg(bot))) << host.Output().toStdString();
  QRegularExpression gone("^-\t::1/\\d+\tbot\\d\t", QRegularExpression::MultilineOption);
  EXPECT_TRUE(
      PumpUntil([&] { return host.Process.waitForReadyRead(10), host.Output().count(gone) == 3; }, 5000))
      << host.Output().toStdString();
  EXPECT_FALSE(host.Output().contains("127.0.0.1/")) << host.Output().toStdString();
}

// Runs the command in this process's network namespace; true when it ended
// with status 0.
bool RunCommand(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The test's own network: a namespace with nothing but its loopback, which
// holds two addresses of the /64 2001:db8:1:2:: and one of 2001:db8:1:3::.
// Empty, or why it could not be made.
std::string MakeTwoSlash64s() {
  if (::unshare(CLONE_NEWNET) != 0) return "no network namespace of our own (not root)";
  if (!RunCommand("ip link set lo up") || !RunCommand("ip -6 addr add 2001:db8:1:2::10/64 dev lo nodad") ||
      !RunCommand("ip -6 addr add 2001:db8:1:2::11/64 dev lo nodad") ||
      !RunCommand("ip -6 addr add 2001:db8:1:3::10/64 dev lo nodad"))
    return "the namespace's loopback takes no IPv6 address (ip missing?)";
  return "";
}

TEST(IPv6, MaxPerAddressCountsThePlayersOfOneSlash64AsOneAddress) {
  const std::string unmade = MakeTwoSlash64s();
  if (!unmade.empty()) GTEST_SKIP() << unmade;
  THostProcess host({"--port", "0", "--no-discovery", "--max-per-address", "1"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  const char* hostAddress = "2001:db8:1:2::10";
  TRawClient first(port, 0, "2001:db8:1:2::10", hostAddress);
  TRawFrame frame = Answer(first, "first");
  EXPECT_EQ(frame.Id, MsgJoin) << frame.Payload;
  // Another address of the same /64: the same home.
  TRawClient neighbour(port, 0, "2001:db8:1:2::11", hostAddress);
  frame = Answer(neighbour, "neighbour");
  EXPECT_EQ(frame.Id, MsgError);
  EXPECT_EQ(frame.Payload, "Trop de connexions depuis votre adresse");
  // Another /64, and IPv4: others.
  TRawClient elsewhere(port, 0, "2001:db8:1:3::10", hostAddress);
  frame = Answer(elsewhere, "elsewhere");
  EXPECT_EQ(frame.Id, MsgJoin) << frame.Payload;
  TRawClient four(port);
  frame = Answer(four, "four");
  EXPECT_EQ(frame.Id, MsgJoin) << frame.Payload;
  EXPECT_TRUE(host.WaitFor("^=\t2001:db8:1:3::10/\\d+\telsewhere\t")) << host.Output().toStdString();
}

// Password guessing is held back by /64 too: five refusals from one address
// turn away the next connection from its neighbour, not from another /64.
TEST(IPv6, GuessingHoldsBackTheWholeSlash64) {
  const std::string unmade = MakeTwoSlash64s();
  if (!unmade.empty()) GTEST_SKIP() << unmade;
  THostProcess host({"--port", "0", "--no-discovery", "--password", "secret"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  const char* hostAddress = "2001:db8:1:2::10";
  auto guess = [&](const char* from) {
    TRawClient guesser(port, 0, from, hostAddress);
    guesser.SendFrame(MsgPassword, "guess");
    return Answer(guesser, "guesser");
  };
  for (int i = 0; i < 5; ++i) EXPECT_EQ(guess("2001:db8:1:2::10").Payload, "Mot de passe invalide") << i;
  EXPECT_EQ(guess("2001:db8:1:2::11").Payload,
            "Trop d'essais : r\xE9"
            "essayez dans une minute");
  EXPECT_EQ(guess("2001:db8:1:3::10").Payload, "Mot de passe invalide") << "another home guesses on";
}

}  // namespace
