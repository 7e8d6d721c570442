// The download server over loopback, in a run folder of its own: the page,
// the routes, files byte for byte, requests in pieces, and downloads that
// run side by side.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "HostFixture.h"
#include "host/WebSessions.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"
#include "support/LoopbackHosts.h"

namespace {

namespace fs = std::filesystem;

// Bytes that change from one position to the next, so a lost piece shows.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = static_cast<uint32_t>(size);
  for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  return bytes;
}

std::string FileHeader(std::size_t size, const std::string& name) {
  return "HTTP/1.0 200 OK\r\nContent-type: application/octet-stream\r\nContent-length: " +
         std::to_string(size) + "\r\nContent-Disposition: attachment; filename=" + name + "\r\n\r\n";
}

const std::string Head =
    "Content-type: text/html\r\n\r\n"
    "<html><head><title>VAROzuvod v1.0</title></head><body bgcolor=#c0c0c0>\r\n";
const std::string PageStart = "HTTP/1.0 200 OK\r\n" + Head;

class WebSessionsTest : public THostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Previous = QDir::currentPath();
    QDir::setCurrent(Folder.path());
    fs::create_directory("data");
    Settings.Web = true;
    StartHost();
  }
  void TearDown() override {
    Host.reset();
    QDir::setCurrent(Previous);
  }

  static void WriteFile(const std::string& path, const std::string& bytes, std::size_t size = 0) {
    std::ofstream(path, std::ios::binary) << bytes;
    if (size) fs::resize_file(path, size);
  }
  uint16_t WebPort() const { return Host->WebServer()->Port(); }
  // Everything until the host closes; a wait first lets the connection's
  // first write event pass.
  std::string Fetch(const std::string& request, int waitMs = 0) {
    TRawClient browser(WebPort());
    PumpFor(waitMs);
    browser.Send(request);
    EXPECT_TRUE(browser.WaitClosed()) << request;
    return browser.Received;
  }

  QTemporaryDir Folder;
  QString Previous;
};

TEST_F(WebSessionsTest, PageListsTheFilesWhateverTheirCaseAndCountsEveryRow) {
  WriteFile("varozuvod.zip", "", 1023);
  WriteFile("VAROZUVOD.EXE", "", 1024);
  WriteFile("data/tris.md2", "", 1024 * 1024 - 1);
  WriteFile("data/KNIGHT.PCX", "", 1024 * 1024);
  auto player = Connect();
  TRawClient idle(WebPort());

  std::string page = Fetch("GET / HTTP/1.0\r\nHost: here\r\n\r\n");
  ASSERT_EQ(page.substr(0, PageStart.size()), PageStart);
  std::vector<std::string> lines;
  for (std::size_t at = PageStart.size(), end; (end = page.find("\r\n", at)) != std::string::npos;
       at = end + 2)
    lines.push_back(page.substr(at, end - at));
  ASSERT_EQ(lines.size(), 33u) << page;
  // The character set first, then the written lines, one further down.
  EXPECT_EQ(lines[0], "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">");
  lines.erase(lines.begin());
  EXPECT_EQ(lines[1], std::string("<hr>Ce site Web vous permet de télécharger :"_cp));
  EXPECT_EQ(lines[3], "<tr><td><a href=\"/client\">VAROzuvod.ZIP</td><td>");
  EXPECT_EQ(lines[5], std::string("<td>Le client VAROzuvod (zippé)</td></tr>"_cp));
  EXPECT_EQ(lines[15], "<tr><td><a href=\"/data3\">DATA/Weapon.md2</td><td>");
  // Size, then a date where the file exists.
  const char* sizes[] = {"1023 octets", "1 Ko", "1023 Ko", "1 Mo", "n/a", "n/a"};
  for (int file = 0; file < 6; ++file) {
    const std::string& cells = lines[4 + 3 * file];
    EXPECT_EQ(cells.substr(0, cells.find("</td><td>")), sizes[file]);
    EXPECT_TRUE(cells.ends_with("</td>") && cells.size() > (file < 4 ? 30u : 0u)) << cells;
  }
  EXPECT_EQ(lines[19], "n/a</td><td>n/a</td>");
  EXPECT_EQ(lines[27], " /DATA/Weapon.pcx");
  // The player, the idle browser and this request.
  EXPECT_EQ(lines[29], "<hr><i>il y a actuellement 3 connexion(s) sur ce serveur.</i>");
  // How to join, at the address the browser reached.
  EXPECT_EQ(
      lines[30],
      std::string("<p>Pour jouer : lancez VAROzuvod et rejoignez la partie à l'adresse 127.0.0.1, port "_cp) +
          std::to_string(Host->GameServer()->Port()) + ".</p>");
  EXPECT_TRUE(page.ends_with("</body></html>\r\n"));
}

// The join line gives the address the browser reached: an IPv6 one in
// brackets with the port, as a player types it (it read "0.0.0.0" before);
// once the router gave a public address, a second line gives it too.
TEST_F(WebSessionsTest, JoinLinesGiveIPv6InBracketsAndThePublicAddressOnceThereIsOne) {
  const std::string port = std::to_string(Host->GameServer()->Port());
  const std::string internet = "<p>Depuis Internet";
  std::string page = Fetch("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.find(internet), std::string::npos) << "no public address yet";
  Host->WebTraffic()->PublicAddress = "203.0.113.7";
  Host->WebTraffic()->PublicGamePort = 40123;
  page = Fetch("GET / HTTP/1.0\r\n\r\n");
  EXPECT_NE(page.find(std::string("<p>Depuis Internet : rejoignez la partie à l'adresse 203.0.113.7, port "
                                  "40123.</p>\r\n"_cp)),
            std::string::npos)
      << page;

  if (!HasIPv6Loopback()) GTEST_SKIP() << NoIPv6Loopback;
  TRawClient browser(WebPort(), 0, "::1");
  browser.Send("GET / HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(browser.WaitClosed());
  EXPECT_NE(browser.Received.find(std::string("rejoignez la partie à l'adresse [::1]:"_cp) + port + ".</p>"),
            std::string::npos)
      << browser.Received;
}

TEST_F(WebSessionsTest, RoutesMatchWholeNamesAndFilesEndRightAfterTheirLastByte) {
  std::string exe = Pattern(1500), archive = Pattern(3000), exact = Pattern(2 * TWebSession::FilePieceBytes);
  WriteFile("VAROzuvod.exe", exe);
  WriteFile("Data.zip", archive);
  WriteFile("data/Knight.pcx", exact);
  WriteFile("data/weapon.pcx", "");

  EXPECT_EQ(Fetch("GET /client1 HTTP/1.0\r\n\r\n"), FileHeader(1500, "VAROZUVOD.EXE") + exe);
  EXPECT_EQ(Fetch("GET /data HTTP/1.0\r\n\r\n"), FileHeader(3000, "DATA.ZIP") + archive);
  EXPECT_EQ(Fetch("GET /data2 HTTP/1.0\r\n\r\n"), FileHeader(exact.size(), "KNIGHT.PCX") + exact);
  // An empty file sends its header even after the first write event passed.
  EXPECT_EQ(Fetch("GET /data4 HTTP/1.0\r\n\r\n", 100), FileHeader(0, "WEAPON.PCX"));
  EXPECT_EQ(Fetch("GET /clientX HTTP/1.0\r\n\r\n").substr(0, PageStart.size()), PageStart);
  EXPECT_EQ(Fetch("GET /client\r\n\r\n").substr(0, PageStart.size()), PageStart);
  EXPECT_EQ(Fetch("POST / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(Fetch("GET /data1 HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 404 OK\r\n" + Head + "Fichier DATA\\TRIS.MD2 introuvable.\r\n</body></html>\r\n");
  EXPECT_EQ(Fetch(std::string(TWebSession::MaxRequestLineBytes + 100, 'G')), "");

  // A request line in three pieces is answered once, after its CR LF.
  TRawClient browser(WebPort());
  for (const char* piece : {"GET /cli", "ent1 HTTP/1.0\r"}) {
    browser.Send(piece);
    EXPECT_FALSE(browser.WaitBytes(1, 100));
  }
  browser.Send("\nHost: here\r\n\r\n");
  ASSERT_TRUE(browser.WaitClosed());
  EXPECT_EQ(browser.Received, FileHeader(1500, "VAROZUVOD.EXE") + exe);
  EXPECT_EQ(List.Count(), 0);
}

// A reader that takes nothing fills the socket buffers, so the host sends
// the rest on write events; header lines arriving meanwhile do not stop it.
TEST_F(WebSessionsTest, SlowDownloadSurvivesLateHeadersWhileCurlFetchesAnother) {
  // The slow download is larger than a game connection may hold unsent: a
  // download goes out piece by piece as the socket takes it, so that cap
  // never ends it.
  std::string model = Pattern(MaxUnsentBytes + 300 * 1024), weapon = Pattern(500 * 1024);
  WriteFile("data/tris.md2", model);
  WriteFile("data/weapon.md2", weapon);
  constexpr int SmallBufferBytes = 4096;
  TRawClient slow(WebPort(), SmallBufferBytes);
  ASSERT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 1; }));
  auto* download = static_cast<TWebSession*>(Host->WebServer()->Connections()[0]);
  ws::SetSendBufferSize(download->Handle(), SmallBufferBytes);
  slow.Send("GET /data1 HTTP/1.0\r\n");
  ASSERT_TRUE(PumpUntil([&] { return !download->IO().OutBuffer().empty(); }));
  slow.Send("User-Agent: slow\r\n\r\n");

  QString curl = QStandardPaths::findExecutable("curl");
  ASSERT_FALSE(curl.isEmpty()) << "curl is needed";
  QProcess fetch;
  fetch.start(curl, {"-s", "-S", "-o", "weapon.out", QString("http://127.0.0.1:%1/data3").arg(WebPort())});
  ASSERT_TRUE(PumpUntil([&] { return fetch.state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardError().toStdString();
  std::ifstream out("weapon.out", std::ios::binary);
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(out), {}) == weapon);

  ASSERT_TRUE(slow.WaitClosed(20000));
  EXPECT_TRUE(slow.Received == FileHeader(model.size(), "TRIS.MD2") + model) << slow.Received.size();
}

// A browser that resets its connection in the middle of a download, just
// after sending a few more bytes: the host's next send meets the reset while
// those bytes still wait to be read.  The connection must still end, its
// row, socket and file with it, however the two sides' events fall.
TEST_F(WebSessionsTest, DownloadEndsWhenItsBrowserResetsWithBytesStillUnread) {
  WriteFile("data/tris.md2", Pattern(2 * 1024 * 1024));
  constexpr int SmallBufferBytes = 4096;
  TMessageCapture errors;
  for (int round = 0; round < 3; ++round) {
    TRawClient browser(WebPort(), SmallBufferBytes);
    ASSERT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 1; }));
    auto* download = static_cast<TWebSession*>(Host->WebServer()->Connections()[0]);
    ws::SetSendBufferSize(download->Handle(), SmallBufferBytes);
    browser.Send("GET /data1 HTTP/1.0\r\n");
    ASSERT_TRUE(PumpUntil([&] { return !download->IO().OutBuffer().empty(); }));
    ASSERT_TRUE(browser.WaitBytes(1000));
    browser.Send("Host: here\r\n");
    PumpFor(50);
    browser.Send("User-Agent: gone\r\n\r\n");
    browser.Reset();
    EXPECT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 0; }))
        << "round " << round << ": the download outlived its browser";
    EXPECT_EQ(List.Count(), 0);
    if (HasFailure()) break;
  }
}

// A client may end its sending side right after its request: the answer
// still goes out whole.  One that then resets is released at its next
// send, leaving nothing behind.
TEST_F(WebSessionsTest, HalfClosedClientGetsTheWholeFileAndAResetAfterwardsEndsTheSession) {
  std::string model = Pattern(3 * 1024 * 1024);
  WriteFile("data/tris.md2", model);
  constexpr int SmallBufferBytes = 4096;
  auto start = [&](TRawClient& client) {
    EXPECT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 1; }));
    ws::SetSendBufferSize(Host->WebServer()->Connections()[0]->Handle(), SmallBufferBytes);
    client.Send("GET /data1 HTTP/1.0\r\n\r\n");
    client.ShutdownSending();
  };
  TRawClient reader(WebPort(), SmallBufferBytes);
  start(reader);
  ASSERT_TRUE(reader.WaitClosed(20000));
  EXPECT_EQ(reader.Received.size(), FileHeader(model.size(), "TRIS.MD2").size() + model.size());
  EXPECT_TRUE(reader.Received == FileHeader(model.size(), "TRIS.MD2") + model);
  ASSERT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 0; }));

  TMessageCapture errors;
  TRawClient quitter(WebPort(), SmallBufferBytes);
  start(quitter);
  ASSERT_TRUE(quitter.WaitBytes(64 * 1024, 5000));
  auto* download = static_cast<TWebSession*>(Host->WebServer()->Connections()[0]);
  PumpFor(100);  // the close event of the half-close has come
  EXPECT_EQ(Host->WebServer()->Connections().Count(), 1);
  EXPECT_FALSE(download->IO().OutBuffer().empty());
  quitter.Reset();
  EXPECT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 0 && List.Count() == 0; }));
  EXPECT_EQ(errors.Texts.size(), 1u);
}

// A connection that never finishes its request line and a download whose
// reader stopped are both ended by the clock; a reader that keeps taking
// bytes, however slowly, is not.
TEST_F(WebSessionsTest, SilentRequestsAndStalledDownloadsTimeOutWhileSlowReadersGoOn) {
  TTestClock clock;
  std::string model = Pattern(2 * 1024 * 1024);
  WriteFile("data/tris.md2", model);
  constexpr int SmallBufferBytes = 4096;
  const auto& connections = Host->WebServer()->Connections();
  TRawClient silent(WebPort()), halfLine(WebPort());
  halfLine.Send("GET / HT");
  TRawClient stalled(WebPort(), SmallBufferBytes), slow(WebPort(), SmallBufferBytes);
  ASSERT_TRUE(PumpUntil([&] { return connections.Count() == 4; }));
  for (int i = 2; i < 4; ++i) ws::SetSendBufferSize(connections[i]->Handle(), SmallBufferBytes);
  stalled.Send("GET /data1 HTTP/1.0\r\n\r\n");
  slow.Send("GET /data1 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(stalled.WaitBytes(1000) && slow.WaitBytes(1000));

  clock.Advance(TWebTraffic::RequestLineTimeoutMs - 1);
  PumpFor(TWebTraffic::SweepPeriodMs + 300);
  EXPECT_EQ(connections.Count(), 4);
  clock.Advance(1);
  EXPECT_TRUE(silent.WaitClosed(3000));
  EXPECT_TRUE(halfLine.WaitClosed(3000));
  EXPECT_EQ(silent.Received + halfLine.Received, "");
  EXPECT_EQ(connections.Count(), 2);

  // The slow reader takes a little more every half time-out (the clock
  // runs meanwhile, pass after pass); the other reader has stopped.
  auto readWhileTheClockRuns = [&](std::size_t count) {
    for (int pass = 0; pass < 2000 && slow.Received.size() < count && !slow.PeerClosed; ++pass) {
      clock.Advance(TWebTraffic::PassPeriodMs);
      slow.WaitBytes(slow.Received.size() + 1, 20);
    }
    return slow.Received.size() >= count;
  };
  std::size_t taken = slow.Received.size();
  for (int step = 0; step < 3; ++step) {
    clock.Advance(TWebTraffic::StalledDownloadTimeoutMs / 2);
    ASSERT_TRUE(readWhileTheClockRuns(taken + 64 * 1024)) << "step " << step;
    taken = slow.Received.size();
    PumpFor(TWebTraffic::SweepPeriodMs + 300);
  }
  EXPECT_EQ(connections.Count(), 1);
  EXPECT_FALSE(stalled.PeerClosed);
  EXPECT_TRUE(stalled.WaitClosed(5000));
  EXPECT_LT(stalled.Received.size(), model.size());
  readWhileTheClockRuns(model.size() + 1000);
  ASSERT_TRUE(slow.WaitClosed(5000));
  EXPECT_TRUE(slow.Received == FileHeader(model.size(), "TRIS.MD2") + model);
  EXPECT_EQ(List.Count(), 0);
}

// Past 64 web connections, or 8 from one address, a newcomer is closed at
// once without an answer; the game port takes its players all the same,
// and a place that frees up is taken again.
TEST_F(WebSessionsTest, WebConnectionsPastTheLimitsAreClosedAtOnceAndPlayersStillJoin) {
  const auto& connections = Host->WebServer()->Connections();
  std::vector<std::unique_ptr<TRawClient>> held;
  auto from = [](int n) { return "127.0.0." + std::to_string(n + 2); };
  // One at a time: the listening queue is short.
  for (int n = 0; n < TWebTraffic::MaxConnections; ++n) {
    held.push_back(std::make_unique<TRawClient>(WebPort(), 0, from(n / TWebTraffic::MaxPerAddress).c_str()));
    ASSERT_TRUE(PumpUntil([&] { return connections.Count() == n + 1; }));
  }

  TRawClient ninthOfAnAddress(WebPort(), 0, from(0).c_str());
  EXPECT_TRUE(ninthOfAnAddress.WaitClosed(2000));
  TRawClient pastAll(WebPort(), 0, "127.0.1.1");
  EXPECT_TRUE(pastAll.WaitClosed(2000));
  EXPECT_EQ(ninthOfAnAddress.Received + pastAll.Received, "");
  EXPECT_EQ(connections.Count(), TWebTraffic::MaxConnections);

  auto player = Connect();
  Join(*player, "Alice", 0);

  held[0].reset();
  ASSERT_TRUE(PumpUntil([&] { return connections.Count() == TWebTraffic::MaxConnections - 1; }));
  std::string page = Fetch("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.substr(0, PageStart.size()), PageStart);
}

// Downloads send only in the web traffic's passes, one pass a period at
// most, however fast their readers take the bytes and however many write
// events their sockets post: while the clock stands still, the readers
// together get at most one pass's shares; once it runs, every file
// arrives whole.
TEST_F(WebSessionsTest, DownloadsSendNoMoreThanOnePassAPeriodInAll) {
  TTestClock clock;
  std::string model = Pattern(2 * 1024 * 1024);
  WriteFile("data/tris.md2", model);
  constexpr int Readers = 4;
  constexpr std::size_t SmallBufferBytes = 4096;
  const auto& connections = Host->WebServer()->Connections();
  std::vector<std::unique_ptr<TRawClient>> readers;
  for (int n = 0; n < Readers; ++n) {
    readers.push_back(
        std::make_unique<TRawClient>(WebPort(), 0, ("127.0.0." + std::to_string(n + 2)).c_str()));
    ASSERT_TRUE(PumpUntil([&] { return connections.Count() == n + 1; }));
    // The host's side of two of them takes little at a time: their sends
    // would block and write events follow.
    if (n % 2) ws::SetSendBufferSize(connections[n]->Handle(), SmallBufferBytes);
  }
  for (auto& reader : readers) reader->Send("GET /data1 HTTP/1.0\r\n\r\n");
  const std::size_t header = FileHeader(model.size(), "TRIS.MD2").size();
  auto received = [&] {
    std::size_t total = 0;
    for (auto& reader : readers) {
      reader->WaitBytes(reader->Received.size() + 1, 10);
      total += reader->Received.size();
    }
    return total;
  };
  const std::size_t onePass =
      std::size_t(TWebTraffic::SharesPerPass) * TWebSession::PiecesPerPass * TWebSession::FilePieceBytes;
  for (int turn = 0; turn < 30; ++turn) PumpFor(10), received();
  EXPECT_GT(received(), Readers * header);
  EXPECT_LE(received(), Readers * header + onePass) << "more than one pass while the clock stood still";

  for (int pass = 0; pass < 5000 && connections.Count() > 0; ++pass) {
    clock.Advance(TWebTraffic::PassPeriodMs);
    received();
  }
  for (auto& reader : readers) {
    ASSERT_TRUE(reader->WaitClosed(5000));
    EXPECT_TRUE(reader->Received == FileHeader(model.size(), "TRIS.MD2") + model);
  }
}

// A file cut short while it goes out ends its download: the reader sees
// the end before the length its header gave, and the row leaves the list.
TEST_F(WebSessionsTest, FileCutShortWhileSentEndsItsDownloadAndItsRow) {
  std::string model = Pattern(2 * 1024 * 1024);
  WriteFile("data/tris.md2", model);
  constexpr int SmallBufferBytes = 4096;
  TMessageCapture errors;
  TRawClient reader(WebPort(), SmallBufferBytes);
  ASSERT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 1; }));
  auto* download = static_cast<TWebSession*>(Host->WebServer()->Connections()[0]);
  ws::SetSendBufferSize(download->Handle(), SmallBufferBytes);
  reader.Send("GET /data1 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(PumpUntil([&] { return !download->IO().OutBuffer().empty(); }));
  fs::resize_file("data/tris.md2", 100 * 1024);

  ASSERT_TRUE(reader.WaitClosed(10000));
  EXPECT_LT(reader.Received.size(), FileHeader(model.size(), "TRIS.MD2").size() + model.size());
  EXPECT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 0 && List.Count() == 0; }));
  EXPECT_EQ(errors.Texts, std::vector<std::string>{"Stream read error"});
}

// A Debian package in the run folder is linked from the page and served
// under its own name; without one, its route gives the page.
TEST_F(WebSessionsTest, ADebianPackageInTheFolderIsLinkedAndServed) {
  std::string page = Fetch("GET /debian HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.substr(0, PageStart.size()), PageStart);
  EXPECT_EQ(page.find(".deb"), std::string::npos);

  std::string package = Pattern(5000);
  WriteFile("varozuvod_1.0_amd64.deb", package);
  page = Fetch("GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(
      page.ends_with("<p><a href=\"/debian\">varozuvod_1.0_amd64.deb</a> : le paquet Debian du jeu.</p>\r\n"
                     "</body></html>\r\n"))
      << page;
  EXPECT_EQ(Fetch("GET /debian HTTP/1.0\r\n\r\n"),
            FileHeader(package.size(), "varozuvod_1.0_amd64.deb") + package);
}

}  // namespace
