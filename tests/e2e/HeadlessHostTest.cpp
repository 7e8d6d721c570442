// The headless host as its own process, started from the run folder: raw
// clients log in and chat, standard output follows the connection list, the
// web port offers the files the build laid out, and a signal ends it with
// exit status 0 and every connection closed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "Pump.h"
#include "platform/Datagrams.h"
#include "support/HostProcess.h"
#include "support/RawPeers.h"

namespace {

constexpr uint32_t MsgPassword = 1, MsgError = 2, MsgJoin = 3, MsgPlayer = 4, MsgChat = 5, MsgChatAck = 6,
                   MsgLeave = 7;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The soft and hard limits on open files of a running process.
std::pair<uint64_t, uint64_t> DescriptorLimits(qint64 pid) {
  std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(limits, line))
    if (line.starts_with("Max open files")) {
      std::istringstream values(line.substr(std::strlen("Max open files")));
      uint64_t soft = 0, hard = 0;
      values >> soft >> hard;
      return {soft, hard};
    }
  return {0, 0};
}

// The next frame of that id, skipping the others.
bool NextOf(TRawClient& client, uint32_t id, TRawFrame& frame) {
  while (client.NextFrame(frame))
    if (frame.Id == id) return true;
  return false;
}

std::string Fetch(uint16_t port, const std::string& route) {
  TRawClient browser(port);
  browser.Send("GET " + route + " HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(browser.WaitClosed(10000)) << route;
  std::size_t body = browser.Received.find("\r\n\r\n");
  return body == std::string::npos ? "" : browser.Received.substr(body + 4);
}

TEST(HeadlessHost, PlayersChatAndDownloadThenSigtermClosesEverythingWithExitZero) {
  THostProcess host({"--port", "0", "--password", "sésame", "--web", "--web-port", "0"});
  uint16_t port = host.Port("jeu"), web = host.Port("web");
  ASSERT_TRUE(port && web) << host.Output().toStdString();
  EXPECT_TRUE(host.Output().startsWith("Serveur ZUL Vantor - ")) << host.Output().toStdString();
  // The first line gives the address to hand to the others, not loopback
  // unless the machine has nothing else, and the game port.
  QString first = host.Output().section('\n', 0, 0);
  QString lan = QString::fromStdString(AddressText(LanAddresses().front()));
  EXPECT_TRUE(first.contains(QString("(%1:%2").arg(lan).arg(port))) << first.toStdString();
  EXPECT_EQ(lan.startsWith("127.") ? 0 : first.count("(127."), 0) << first.toStdString();

  TRawClient alice(port), bob(port);
  TRawFrame frame;
  for (auto [client, name] : {std::pair{&alice, "Alice"}, std::pair{&bob, "Bob"}}) {
    client->Send(Frame(MsgPassword, "s\xE9same") + Frame(MsgJoin, name));  // 1252, as clients send it
    ASSERT_TRUE(NextOf(*client, MsgJoin, frame)) << name;
  }
  do {
    ASSERT_TRUE(NextOf(alice, MsgPlayer, frame));
  } while (!frame.Payload.ends_with("Bob"));
  alice.SendFrame(MsgChat, "bonjour \xE0 tous");
  ASSERT_TRUE(NextOf(bob, MsgChat, frame));
  EXPECT_TRUE(frame.Payload.ends_with("bonjour \xE0 tous"));
  ASSERT_TRUE(NextOf(alice, MsgChatAck, frame));
  // Rows in UTF-8: added as guest, named, showing the chat line.
  QString row = "127\\.0\\.0\\.1/\\d+\t";
  EXPECT_FALSE(host.WaitLine("^(\\+\t" + row + "guest\tconnexion\t00:00:00)$").isEmpty());
  EXPECT_FALSE(host.WaitLine("^(=\t" + row + "Alice\tbonjour à tous\t\\d\\d:\\d\\d:\\d\\d)$").isEmpty())
      << host.Output().toStdString();

  const std::string folder = VAROZUVOD_GAME_DIR "/";
  std::string exe = ReadWholeFile(folder + "VAROzuvod.exe");
  EXPECT_TRUE(!exe.empty() && exe == ReadWholeFile(VAROZUVOD_EXE));
  EXPECT_TRUE(Fetch(web, "/client1") == exe);
  for (auto [route, archive] : {std::pair{"/data", "DATA.ZIP"}, std::pair{"/client", "VAROzuvod.ZIP"}}) {
    std::string zip = ReadWholeFile(folder + archive);
    EXPECT_TRUE(zip.starts_with("PK")) << archive;
    EXPECT_TRUE(Fetch(web, route) == zip) << archive;
  }

  host.Signal(SIGTERM);
  for (TRawClient* client : {&alice, &bob}) {
    EXPECT_TRUE(client->WaitClosed(5000));
    while (client->NextFrame(frame, 0)) EXPECT_NE(frame.Id, MsgLeave);
    client->Close();
  }
  EXPECT_TRUE(host.EndedWithZero());
  EXPECT_EQ(host.Output().count(QRegularExpression("^-\t" + row, QRegularExpression::MultilineOption)), 2);
}

// A chat line may hold any byte, and a name any byte but control bytes: the
// listing must still give one row per line, four columns, with the control
// bytes escaped.
TEST(HeadlessHost, ControlBytesInNamesAndLinesPrintEscapedOneRowPerLine) {
  THostProcess host({"--port", "0"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0);
  TRawClient player(port);
  TRawFrame frame;
  const char name[] = "A\0B\r\nC\tD\x1B[2J\\\x7F\x81\xE9";
  player.SendFrame(MsgJoin, std::string(name, sizeof name - 1));
  ASSERT_TRUE(NextOf(player, MsgJoin, frame));
  player.SendFrame(MsgChat, std::string("x\ny\0z", 5));
  ASSERT_TRUE(NextOf(player, MsgChatAck, frame));
  player.Close();
  QString row = "127\\.0\\.0\\.1/\\d+\t";
  EXPECT_FALSE(host.WaitLine("^(-\t" + row + ".*)$").isEmpty()) << host.Output().toStdString();
  host.Signal(SIGTERM);
  ASSERT_TRUE(host.EndedWithZero());

  // The host drops a name's control bytes; a chat line keeps them, escaped.
  QString escapedName = QRegularExpression::escape("ABCD[2J\\\\\\x81é");
  QString escapedLine = QRegularExpression::escape("x\\x0Ay\\x00z");
  const QString& output = host.Output();
  EXPECT_TRUE(output.contains(
      QRegularExpression("^=\t" + row + escapedName + "\t" + escapedLine + "\t\\d\\d:\\d\\d:\\d\\d$",
                         QRegularExpression::MultilineOption)))
      << output.toStdString();
  // Every line from the first row on is a whole row (the caption and the
  // ports come before).
  QStringList lines = output.split('\n', Qt::SkipEmptyParts);
  qsizetype first = lines.indexOf(QRegularExpression("^\\+\t.*"));
  ASSERT_GE(first, 0) << output.toStdString();
  ASSERT_GE(lines.size() - first, 4) << output.toStdString();
  for (const QString& line : lines.mid(first)) {
    EXPECT_TRUE(QRegularExpression("^[+=-]\t").match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(line.count('\t'), 4) << line.toStdString();
  }
}

// The limits as options of the command line: connections past either
// limit are told why and closed, chat past its limit is dropped and shows
// as muted.
TEST(HeadlessHost, LimitOptionsTurnConnectionsAwayAndMuteAFlooder) {
  THostProcess host({"--port", "0", "--max-players", "2", "--max-per-address", "1", "--chat-limit", "2"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0);
  TRawClient alice(port), sameAddress(port);
  TRawFrame frame;
  ASSERT_TRUE(sameAddress.NextFrame(frame));
  EXPECT_EQ(frame.Id, MsgError);
  EXPECT_EQ(frame.Payload, "Trop de connexions depuis votre adresse");
  EXPECT_TRUE(sameAddress.WaitClosed());
  TRawClient bob(port, 0, "127.0.0.2"), third(port, 0, "127.0.0.3");
  ASSERT_TRUE(third.NextFrame(frame));
  EXPECT_EQ(frame.Payload, "Serveur complet");
  EXPECT_TRUE(third.WaitClosed());

  alice.SendFrame(MsgJoin, "Alice");
  bob.SendFrame(MsgJoin, "Bob");
  ASSERT_TRUE(NextOf(bob, MsgJoin, frame));
  for (const char* line : {"un", "deux", "trois"}) alice.SendFrame(MsgChat, line);
  int heard = 0;
  while (bob.NextFrame(frame, 300)) heard += frame.Id == MsgChat;
  EXPECT_EQ(heard, 2);
  EXPECT_FALSE(host.WaitLine("^(=\t127\\.0\\.0\\.1/\\d+\tAlice\tMuet : trop de messages\t.*)$").isEmpty())
      << host.Output().toStdString();
}

TEST(HeadlessHost, GamePortInUseIsReportedAndSigintEndsTheFirstHost) {
  THostProcess first({"--port", "0"});
  uint16_t port = first.Port("jeu");
  ASSERT_NE(port, 0);
  THostProcess second({"--port", QString::number(port), "--web", "--web-port", "0"});
  ASSERT_TRUE(second.Process.waitForFinished(10000));
  EXPECT_NE(second.Process.exitCode(), 0);
  QString errors = QString::fromUtf8(second.Process.readAllStandardError());
  EXPECT_TRUE(errors.contains("Impossible de démarrer le serveur (WINSOCK error #10048)"))
      << errors.toStdString();
  EXPECT_FALSE(second.Output().contains("web : port"));
  first.Signal(SIGINT);
  EXPECT_TRUE(first.EndedWithZero());
}

// A host that has ended has no process id any more: stopping or signalling
// it again reaches nobody (a signal to id 0 would go to this program's
// whole process group, the test runner with it).
TEST(HeadlessHost, AHostThatHasEndedIsStoppedAndSignalledWithoutHarm) {
  static volatile sig_atomic_t terminations = 0;
  struct sigaction counting = {};
  struct sigaction previous = {};
  counting.sa_handler = [](int) { terminations = terminations + 1; };
  ASSERT_EQ(::sigaction(SIGTERM, &counting, &previous), 0);
  THostProcess refused({"--nonsense"});
  ASSERT_TRUE(refused.Process.waitForFinished(10000));
  EXPECT_EQ(refused.Process.exitCode(), 2);
  refused.Stop();
  refused.Signal(SIGTERM);
  PumpFor(100);
  ::sigaction(SIGTERM, &previous, nullptr);
  EXPECT_EQ(terminations, 0);
}

// A host started with a low soft descriptor limit (as a service or a login
// session often is) raises it to the hard limit before it serves, so that
// hundreds of players fit; it has nothing to say about it when it can, and
// says so when --max-players asks for more than the hard limit holds.
TEST(HeadlessHost, RaisesItsSoftDescriptorLimitToTheHardOne) {
  // Without discovery: another host on this machine may hold its port, and
  // would make this one say so on standard error.
  THostProcess host({"--port", "0", "--no-discovery"}, {"prlimit", "--nofile=256:2048", "--"});
  ASSERT_NE(host.Port("jeu"), 0) << host.Output().toStdString();
  EXPECT_EQ(DescriptorLimits(host.Process.processId()), (std::pair<uint64_t, uint64_t>{2048, 2048}));
  host.Signal(SIGTERM);
  EXPECT_TRUE(host.EndedWithZero());
  EXPECT_EQ(QString::fromUtf8(host.Process.readAllStandardError()).toStdString(), "");

  // Asked for more players than the hard limit can hold, it says so in
  // French and serves all the same; a count that fits is not mentioned.
  for (auto [players, hard, said] :
       {std::tuple{"1000", "128",
                   "Limite de descripteurs trop basse pour 1000 joueurs : 128 (il en faut 1064)\n"},
        std::tuple{"1000", "1064", ""}}) {
    SCOPED_TRACE(hard);
    THostProcess asked({"--port", "0", "--no-discovery", "--max-players", players},
                       {"prlimit", QString("--nofile=64:") + hard, "--"});
    ASSERT_NE(asked.Port("jeu"), 0) << asked.Output().toStdString();
    asked.Signal(SIGTERM);
    EXPECT_TRUE(asked.EndedWithZero());
    EXPECT_EQ(QString::fromUtf8(asked.Process.readAllStandardError()).toStdString(), said);
  }
}

// The descriptors of a process: how many it has open below a limit, and the
// limit that leaves it exactly `free` more.
int OpenBelow(pid_t pid, int limit) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    count += std::stoi(entry.path().filename().string()) < limit;
  return count;
}
int LimitLeaving(pid_t pid, int free) {
  int limit = free;
  while (limit - OpenBelow(pid, limit) < free) ++limit;
  return limit;
}

// User plus system CPU time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long user = 0, system = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) user = std::stol(field);
    if (index == 15) system = std::stol(field);
  }
  return user + system;
}

// Sends 3 and waits for the answer 3; false when the host closes instead
// or the time runs out.
bool LogsIn(TRawClient& client, const std::string& name, int timeoutMs = 5000) {
  client.SendFrame(MsgJoin, name);
  constexpr int StepMs = 50;
  TRawFrame frame;
  for (int waited = 0; waited < timeoutMs && !client.PeerClosed; waited += StepMs)
    while (client.NextFrame(frame, StepMs))
      if (frame.Id == MsgJoin) return true;
  return false;
}

// With its descriptor limit reached, the host turns newcomers away without
// a trace (no session, no row), without polling its port in a loop, keeps
// serving the players it has, admits again once descriptors are free, and
// still ends on SIGTERM.
TEST(HeadlessHost, OutOfDescriptorsItStaysIdleServesItsPlayersAndAdmitsOnceFreed) {
  THostProcess host({"--port", "0"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  auto pid = static_cast<pid_t>(host.Process.processId());
  TRawClient alice(port);
  ASSERT_TRUE(LogsIn(alice, "Alice"));

  // Room for exactly three more connections, then six newcomers: three fit,
  // the others meet a full table (and fit the listening backlog, so that
  // none of them waits on its connect).
  constexpr int FreeDescriptors = 3, Newcomers = 6;
  rlimit limit{};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit), 0);
  limit.rlim_cur = static_cast<rlim_t>(LimitLeaving(pid, FreeDescriptors));
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr), 0);
  std::vector<std::unique_ptr<TRawClient>> newcomers;
  for (int i = 0; i < Newcomers; ++i) newcomers.push_back(std::make_unique<TRawClient>(port));
  int admitted = 0;
  for (int i = 0; i < Newcomers; ++i) admitted += LogsIn(*newcomers[i], "n" + std::to_string(i), 1500);
  EXPECT_EQ(admitted, FreeDescriptors);

  // A second of the host's life now: it must be nowhere near busy.
  long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  long before = CpuTicks(pid);
  PumpFor(1000);
  long spent = CpuTicks(pid) - before;
  EXPECT_LT(spent, ticksPerSecond / 4) << "the host kept a core busy while out of descriptors";
  EXPECT_FALSE(host.Output().contains("4294967295")) << host.Output().left(2000).toStdString();
  EXPECT_EQ(host.Output().count(QRegularExpression("^\\+\t", QRegularExpression::MultilineOption)),
            1 + FreeDescriptors);

  // The players present are still served.
  TRawFrame frame;
  alice.SendFrame(MsgChat, "toujours là");
  EXPECT_TRUE(NextOf(alice, MsgChatAck, frame));

  // Descriptors come back as newcomers leave; the next one gets in.
  newcomers.clear();
  QRegularExpression removed("^-\t", QRegularExpression::MultilineOption);
  EXPECT_TRUE(PumpUntil([&] { return host.Output().count(removed) == FreeDescriptors; }, 5000))
      << host.Output().right(2000).toStdString();
  TRawClient late(port);
  EXPECT_TRUE(LogsIn(late, "Late"));

  host.Signal(SIGTERM);
  EXPECT_TRUE(host.EndedWithZero());
}

// Strangers the host ends while they keep their side open hold their
// descriptors a while (the host waits for their end, so that they never
// see a reset); when they hold the last ones, a player who connects is let
// in all the same, not turned away.
TEST(HeadlessHost, StrangersLeftOnTheLastDescriptorsDoNotKeepAPlayerOut) {
  THostProcess host({"--port", "0"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  auto pid = static_cast<pid_t>(host.Process.processId());
  constexpr int Strangers = 4;
  rlimit limit{};
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &limit), 0);
  limit.rlim_cur = static_cast<rlim_t>(LimitLeaving(pid, Strangers));
  ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &limit, nullptr), 0);

  // A chat line before any login ends each of them; none closes its side.
  std::vector<std::unique_ptr<TRawClient>> strangers;
  for (int i = 0; i < Strangers; ++i) {
    strangers.push_back(std::make_unique<TRawClient>(port));
    strangers.back()->SendFrame(MsgChat, "avant");
  }
  QRegularExpression ended("^-\t.*Message #5 avant la connexion", QRegularExpression::MultilineOption);
  ASSERT_TRUE(PumpUntil([&] { return host.Output().count(ended) == Strangers; }, 3000))
      << host.Output().toStdString();

  auto player = std::make_unique<TRawClient>(port);
  EXPECT_TRUE(LogsIn(*player, "Alice", 2000)) << "turned away while the strangers held the descriptors";

  // Gone before the end, so that the host need not wait for their close.
  player.reset();
  strangers.clear();
  host.Signal(SIGTERM);
  EXPECT_TRUE(host.EndedWithZero());
}

}  // namespace
