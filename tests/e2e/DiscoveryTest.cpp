// Discovery of the games on the local network between real processes:
// headless hosts answer queries sent to the loopback broadcast address
// 127.255.255.255 (never any other broadcast), `varozuvod --find` lists
// them, and a probe of the test's own checks the answers byte for byte, the
// silence towards malformed datagrams and the answer limit.  Each test
// program uses a discovery port of its own, so that tests running side by
// side never count against each other's limit; answers are also told apart
// by the game port of the host that sent them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Pump.h"
#include "platform/Datagrams.h"
#include "support/FreePorts.h"
#include "support/HostProcess.h"
#include "support/RawPeers.h"

namespace {

constexpr uint32_t LoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255
constexpr uint32_t MsgPassword = 1, MsgJoin = 3, MsgLeave = 7;

// This program's discovery port, for its hosts to share.
const uint16_t TestDiscoveryPort = FreeUdpPort();

std::string MachineName() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  return std::string(name).substr(0, 63);
}

// The options of a headless host on an ephemeral game port that answers
// finders on this program's discovery port (or another).
QStringList Hosting(QStringList options, uint16_t discoveryPort = TestDiscoveryPort) {
  return QStringList{"--port", "0"} + options +
         QStringList{"--discovery-port", QString::number(discoveryPort)};
}

// Waits until the host answers finders.
bool Discoverable(THostProcess& host) { return host.WaitLine("^(découverte : port UDP \\d+)$") != ""; }

// The answer a host with that game port, player count and password flag
// must send, built with the tests' own packing.
std::string ExpectedAnswer(uint16_t port, uint32_t players, bool password) {
  return "VZD!" + Packed(2) + Packed(port) + Packed(players) + Packed(password ? 1 : 0) + MachineName();
}

// The size of the finder's queries: the longest answer's (magic 4, version
// 1, port 3, players 5, flag 1, name 63).
constexpr std::size_t QueryBytes = 77;

// A query as the finder sends it: magic, version 2, no cookie (zeros), zeros
// up to 77 bytes.
std::string Query(std::size_t size = QueryBytes) {
  std::string query = "VZD?" + Packed(2);
  query.resize(size, '\0');
  return query;
}

// A UDP socket of the test that sends to the loopback broadcast address on
// the test's discovery port and reads what comes back.
class TProbe {
 public:
  TProbe() {
    FHandle = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(FHandle, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  ~TProbe() { ::close(FHandle); }
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;

  void Send(const std::string& bytes) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(TestDiscoveryPort);
    target.sin_addr.s_addr = htonl(LoopbackBroadcast);
    ::sendto(FHandle, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
  }
  // Waits for the next answer from the host with that game port; answers
  // of other hosts are dropped.
  bool NextFrom(uint16_t gamePort, std::string& answer, int timeoutMs = 3000) {
    return PumpUntil([&] { return Take(gamePort, answer); }, timeoutMs);
  }
  // The answers of that host arriving within ms (to show that no more come).
  int CountFrom(uint16_t gamePort, int ms) {
    PumpFor(ms);
    int count = 0;
    for (std::string answer; Take(gamePort, answer);) ++count;
    return count;
  }

 private:
  bool Take(uint16_t gamePort, std::string& answer) {
    char buffer[2048];
    for (;;) {
      ssize_t got = ::recv(FHandle, buffer, sizeof buffer, 0);
      if (got < 0) return false;
      std::string bytes(buffer, static_cast<std::size_t>(got));
      // Magic, version 2, then the packed game port.
      std::string head = "VZD!" + Packed(2) + Packed(gamePort);
      if (bytes.starts_with(head)) {
        answer = bytes;
        return true;
      }
    }
  }

  int FHandle = -1;
};

// Runs varozuvod --find on the loopback broadcast address; its lines.
QStringList Find(QStringList extra = {}) {
  QProcess find;
  find.setWorkingDirectory(VAROZUVOD_GAME_DIR);
  find.start(VAROZUVOD_EXE, QStringList{"--find", "--broadcast", "127.255.255.255", "--discovery-port",
                                        QString::number(TestDiscoveryPort), "--seconds", "1"} +
                                extra);
  EXPECT_TRUE(find.waitForFinished(10000));
  EXPECT_EQ(find.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(find.exitCode(), 0) << find.readAllStandardError().toStdString();
  QString out = QString::fromUtf8(find.readAllStandardOutput());
  return out.split('\n', Qt::SkipEmptyParts);
}

// How a game of this machine is listed: by its first LAN address.
QString LanAddress() { return QString::fromStdString(AddressText(LanAddresses().front())); }

// The --find line of the game on that port, empty when it was not listed.
QString LineOf(const QStringList& lines, uint16_t port) {
  QString prefix = QString("%1:%2\t").arg(LanAddress()).arg(port);
  QString found;
  for (const QString& line : lines)
    if (line.startsWith(prefix)) {
      EXPECT_TRUE(found.isEmpty()) << "listed twice: " << line.toStdString();
      found = line;
    }
  return found;
}

TEST(Discovery, TwoHostsOnOneMachineAreBothFoundAndAStoppedOneIsNoLongerListed) {
  THostProcess open(Hosting({})), guarded(Hosting({"--password", "sésame"}));
  const uint16_t openPort = open.Port("jeu");
  const uint16_t guardedPort = guarded.Port("jeu");
  ASSERT_TRUE(openPort && guardedPort);
  ASSERT_TRUE(Discoverable(open) && Discoverable(guarded)) << guarded.Output().toStdString();

  QStringList lines = Find();
  QString name = QString::fromLocal8Bit(MachineName().c_str());
  // Found by the loopback broadcast, listed by the machine's LAN address.
  EXPECT_EQ(LineOf(lines, openPort), QString("%1:%2\t0\topen\t%3").arg(LanAddress()).arg(openPort).arg(name))
      << lines.join('\n').toStdString();
  EXPECT_EQ(LineOf(lines, guardedPort),
            QString("%1:%2\t0\tpassword\t%3").arg(LanAddress()).arg(guardedPort).arg(name));
  for (const QString& line : lines)
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+:\\d+\t\\d+\t(password|open)\t.*$")
                    .match(line)
                    .hasMatch())
        << line.toStdString();

  guarded.Stop();
  lines = Find();
  EXPECT_FALSE(LineOf(lines, openPort).isEmpty()) << lines.join('\n').toStdString();
  EXPECT_TRUE(LineOf(lines, guardedPort).isEmpty()) << lines.join('\n').toStdString();
}

TEST(Discovery, AnswersCountThePlayersLoggedInRightAfterEachLoginAndDeparture) {
  THostProcess host(Hosting({"--password", "pass"}));
  const uint16_t port = host.Port("jeu");
  ASSERT_TRUE(Discoverable(host));
  TProbe probe;
  auto players = [&](uint32_t expected) {
    std::string answer;
    probe.Send(Query());
    if (!probe.NextFrom(port, answer)) return std::string("no answer");
    return answer == ExpectedAnswer(port, expected, true) ? std::string("ok") : "answer " + answer;
  };
  EXPECT_EQ(players(0), "ok");

  TRawFrame frame;
  // The next frame of that id (and whose payload starts so), skipping others.
  auto next = [&](TRawClient& client, uint32_t id, const std::string& start = "") {
    while (client.NextFrame(frame))
      if (frame.Id == id && frame.Payload.starts_with(start)) return true;
    return false;
  };
  TRawClient alice(port), bob(port), carol(port), dave(port);
  alice.Send(Frame(MsgPassword, "pass") + Frame(MsgJoin, "Alice"));
  ASSERT_TRUE(next(alice, MsgJoin));
  const std::string aliceId = frame.Payload;
  EXPECT_EQ(players(1), "ok");
  // Connected without a name, and a wrong password: neither is a player.
  bob.Send(Frame(MsgPassword, "pass"));
  carol.Send(Frame(MsgPassword, "wrong") + Frame(MsgJoin, "Carol"));
  ASSERT_TRUE(carol.WaitClosed());
  EXPECT_EQ(players(1), "ok");
  dave.Send(Frame(MsgPassword, "pass") + Frame(MsgJoin, ""));
  ASSERT_TRUE(next(dave, MsgJoin));
  EXPECT_EQ(players(2), "ok");

  // Alice says goodbye (flag 0): she is gone for the others at once.
  alice.Send(Frame(MsgLeave, ""));
  ASSERT_TRUE(next(dave, MsgLeave, aliceId + '\0'));
  EXPECT_EQ(players(1), "ok");
  // Dave's connection drops without a word; Bob, who never logged in, hears
  // nothing of it (nor of anything else), so the count is watched instead.
  dave.Close();
  std::string counted;
  for (int tries = 0; tries < 20 && (counted = players(0)) != "ok"; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(counted, "ok");
  EXPECT_TRUE(bob.FramesWithin(100).empty() && bob.Received.empty())
      << "a connection without a login heard the game";
}

TEST(Discovery, MalformedAndOversizedDatagramsGoUnanswered) {
  THostProcess host(Hosting({}));
  const uint16_t port = host.Port("jeu");
  ASSERT_TRUE(Discoverable(host));
  TProbe junk, marker;
  const std::vector<std::string> malformed = {
      "",
      "VZD",
      "VZD?",
      "VZD?" + std::string(1, '\0'),                              // version 0
      "VZD?" + std::string(1, '\x81'),                            // version cut short
      "VZD?" + std::string(5, '\x80') + '\x01',                   // a six-byte number
      "VZD!" + Packed(1) + Packed(2048) + Packed(0) + Packed(0),  // an answer
      "vzd?" + Packed(2) + std::string(72, '\0'),
      "VZD?" + Packed(1) + std::string(11, '\0'),  // the first version's, too short
      Query(QueryBytes - 1),
      Query(513),  // longer than any query
      Query(60000),
  };
  for (const std::string& datagram : malformed) junk.Send(datagram);
  junk.Send(Query());
  // The host takes datagrams in order and answers the marker last: once the
  // marker's answer is in, every answer to the junk socket has arrived too.
  marker.Send(Query());
  std::string answer;
  ASSERT_TRUE(marker.NextFrom(port, answer));
  EXPECT_EQ(answer, ExpectedAnswer(port, 0, false));
  EXPECT_EQ(junk.CountFrom(port, 0), 1);

  // A first-version query padded to the size of the longest answer is
  // answered; no answer outgrows its query.
  junk.Send("VZD?" + Packed(1) + std::string(QueryBytes - 5, '\0'));
  ASSERT_TRUE(junk.NextFrom(port, answer));
  EXPECT_LE(answer.size(), QueryBytes);
  EXPECT_EQ(answer, ExpectedAnswer(port, 0, false));
}

// Queries from two thousand forged loopback addresses, again and again:
// the host answers them within its budget and then only with challenges,
// and a real finder, which follows its challenge, still finds the game.
TEST(Discovery, FindStillFindsTheGameUnderAFloodFromForgedAddresses) {
  THostProcess host(Hosting({}));
  const uint16_t port = host.Port("jeu");
  ASSERT_TRUE(Discoverable(host));
  std::atomic<bool> stop = false;
  std::atomic<int> sent = 0;
  std::thread flood([&] {
    constexpr int Senders = 2000;
    const std::string query = Query();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(TestDiscoveryPort);
    target.sin_addr.s_addr = htonl(0x7F000001);
    while (!stop) {
      for (int n = 0; n < Senders && !stop; ++n) {
        int handle = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(0x7F010000 + static_cast<uint32_t>(n / 250) * 256 + n % 250 + 1);
        if (::bind(handle, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
            ::sendto(handle, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&target),
                     sizeof target) > 0)
          ++sent;
        ::close(handle);
      }
      // A breath between rounds: more than the host answers, not more than
      // it can read.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  PumpFor(1000);
  QStringList lines = Find({"--seconds", "3"});
  stop = true;
  flood.join();
  EXPECT_GT(sent, 2000);
  EXPECT_FALSE(LineOf(lines, port).isEmpty())
      << sent << " forged queries; " << lines.join('\n').toStdString();
}

TEST(Discovery, TenAnswersASecondPerSenderAddressAndASenderUnderThatIsAlwaysAnswered) {
  THostProcess host(Hosting({}));
  const uint16_t port = host.Port("jeu");
  ASSERT_TRUE(Discoverable(host));
  TProbe hasty, patient;
  for (int i = 0; i < 25; ++i) hasty.Send(Query());
  std::string answer;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(hasty.NextFrom(port, answer)) << i;
  // Another socket of the same address shares its count.
  patient.Send(Query());
  EXPECT_EQ(hasty.CountFrom(port, 500) + patient.CountFrom(port, 0), 0);

  // Once the second is over, a sender asking no more than ten times a
  // second is answered every time.
  PumpFor(1100);
  for (int i = 0; i < 12; ++i) {
    patient.Send(Query());
    ASSERT_TRUE(patient.NextFrom(port, answer)) << i;
    PumpFor(110);
  }
}

TEST(Discovery, NoDiscoveryHostStaysUnlisted) {
  THostProcess silent(Hosting({"--no-discovery"})), seen(Hosting({}));
  const uint16_t silentPort = silent.Port("jeu");
  const uint16_t seenPort = seen.Port("jeu");
  ASSERT_TRUE(Discoverable(seen));
  ASSERT_TRUE(silentPort);
  EXPECT_FALSE(silent.Output().contains("découverte"));
  QStringList lines = Find();
  EXPECT_FALSE(LineOf(lines, seenPort).isEmpty()) << lines.join('\n').toStdString();
  EXPECT_TRUE(LineOf(lines, silentPort).isEmpty()) << lines.join('\n').toStdString();
}

TEST(Discovery, ATakenDiscoveryPortIsReportedAndTheGameRunsAllTheSame) {
  // A socket that does not share its port keeps every host out of it.
  int owner = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ASSERT_EQ(::bind(owner, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  ::getsockname(owner, reinterpret_cast<sockaddr*>(&address), &size);
  const uint16_t taken = ntohs(address.sin_port);

  THostProcess host(Hosting({}, taken));
  const uint16_t port = host.Port("jeu");
  ASSERT_TRUE(port);
  const QString expected =
      QString("Annonce de la partie impossible sur le port UDP %1 (WINSOCK error #10048)").arg(taken);
  QString errors;
  EXPECT_TRUE(PumpUntil([&] {
    host.Process.waitForReadyRead(10);
    errors += QString::fromUtf8(host.Process.readAllStandardError());
    return errors.contains(expected);
  })) << errors.toStdString();
  EXPECT_FALSE(host.Output().contains("découverte"));
  TRawClient alice(port);
  alice.SendFrame(MsgJoin, "Alice");
  TRawFrame frame;
  EXPECT_TRUE(alice.NextFrame(frame));
  EXPECT_EQ(frame.Id, MsgJoin);
  ::close(owner);
}

TEST(Discovery, FindWithNothingToFindPrintsNothingAndEndsWithZero) {
  // No host of this program runs now; hosts of other programs use other ports.
  EXPECT_TRUE(Find().isEmpty());
}

}  // namespace
