// The download server through real loopback connections, in a run folder
// of its own: the page, the routes, the files byte for byte, requests that
// arrive in pieces, and downloads that run side by side.
#include <sys/socket.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "HostFixture.h"
#include "host/WebSessions.h"
#include "platform/Text1252.h"

namespace {

namespace fs = std::filesystem;

// Bytes that differ from one position to the next, so that a lost or
// repeated piece shows.
std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string FileHeader(std::size_t size, const std::string& name) {
  return "HTTP/1.0 200 OK\r\nContent-type: application/octet-stream\r\nContent-length: " +
         std::to_string(size) + "\r\nContent-Disposition: attachment; filename=" + name + "\r\n\r\n";
}

const std::string PageStart =
    "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n"
    "<html><head><title>VAROzuvod v1.0</title></head><body bgcolor=#c0c0c0>\r\n";

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

  void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  uint16_t WebPort() const { return Host->WebServer()->Port(); }

  // Sends the request and returns everything until the host closes.
  std::string Fetch(const std::string& request) {
    TRawClient browser(WebPort());
    browser.Send(request);
    EXPECT_TRUE(browser.WaitClosed()) << request;
    return browser.Received;
  }

  QTemporaryDir Folder;
  QString Previous;
};

TEST_F(WebSessionsTest, PageListsTheFilesWithSizesAndCountsEveryRow) {
  // Names on disk in other letter cases than the page's.
  WriteFile("varozuvod.zip", std::string(1023, 'z'));
  WriteFile("VAROZUVOD.EXE", std::string(1024, 'e'));
  WriteFile("data/tris.md2", "");
  fs::resize_file("data/tris.md2", 1024 * 1024 - 1);
  WriteFile("data/KNIGHT.PCX", "");
  fs::resize_file("data/KNIGHT.PCX", 1024 * 1024);
  auto player = Connect();
  TRawClient idle(WebPort());

  std::string page = Fetch("GET / HTTP/1.0\r\nHost: here\r\n\r\n");
  ASSERT_EQ(page.substr(0, PageStart.size()), PageStart);
  std::vector<std::string> lines;
  for (std::size_t start = PageStart.size(), end; (end = page.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(page.substr(start, end - start));
  ASSERT_EQ(lines.size(), 31u) << page;
  EXPECT_EQ(lines[0], "<h1>Serveur ZUL-Vantor v1.0</h1>");
  EXPECT_EQ(lines[1], std::string("<hr>Ce site Web vous permet de télécharger :"_cp));
  EXPECT_EQ(lines[3], "<tr><td><a href=\"/client\">VAROzuvod.ZIP</td><td>");
  EXPECT_EQ(lines[4].substr(0, 20), "1023 octets</td><td>");
  EXPECT_EQ(lines[5], std::string("<td>Le client VAROzuvod (zippé)</td></tr>"_cp));
  EXPECT_EQ(lines[6], "<tr><td><a href=\"/client1\">VAROzuvod.exe</td><td>");
  EXPECT_EQ(lines[7].substr(0, 13), "1 Ko</td><td>");
  EXPECT_EQ(lines[9], "<tr><td><a href=\"/data1\">DATA/Tris.md2</td><td>");
  EXPECT_EQ(lines[10].substr(0, 16), "1023 Ko</td><td>");
  EXPECT_EQ(lines[11], std::string("<td>Le modèle Quake ][ des joueurs</td></tr>"_cp));
  EXPECT_EQ(lines[13].substr(0, 13), "1 Mo</td><td>");
  EXPECT_EQ(lines[14], "<td></td></tr>");
  EXPECT_EQ(lines[15], "<tr><td><a href=\"/data3\">DATA/Weapon.md2</td><td>");
  EXPECT_EQ(lines[16], "n/a</td><td>n/a</td>");
  EXPECT_EQ(lines[17], std::string("<td>L'épée Quake ][ des joueurs</td></tr>"_cp));
  EXPECT_EQ(lines[19], "n/a</td><td>n/a</td>");
  // A date, not n/a, where the file exists.
  EXPECT_GT(lines[4].size(), 25u);
  EXPECT_EQ(lines[4].substr(lines[4].size() - 5), "</td>");
  EXPECT_EQ(lines[21], "</table>");
  EXPECT_EQ(lines[22], std::string("Le répertoire d'installation doit contenir :<pre>"_cp));
  EXPECT_EQ(lines[23], " /VAROzuvod.exe");
  EXPECT_EQ(lines[27], " /DATA/Weapon.pcx");
  EXPECT_EQ(lines[28], "</pre>");
  // The player, the idle browser and this request.
  EXPECT_EQ(lines[29], "<hr><i>il y a actuellement 3 connexion(s) sur ce serveur.</i>");
  EXPECT_EQ(lines[30], "</body></html>");
  EXPECT_EQ(page.size(), page.find("</body></html>\r\n") + 16);
}

TEST_F(WebSessionsTest, RoutesMatchWholeNamesAndServeTheirFiles) {
  std::string exe = Pattern(1500, 1), archive = Pattern(3000, 2);
  WriteFile("VAROzuvod.exe", exe);
  WriteFile("Data.zip", archive);

  EXPECT_EQ(Fetch("GET /client1 HTTP/1.0\r\n\r\n"), FileHeader(1500, "VAROZUVOD.EXE") + exe);
  // Served though the page does not list it.
  EXPECT_EQ(Fetch("GET /data HTTP/1.0\r\n\r\n"), FileHeader(3000, "DATA.ZIP") + archive);
  // A route is a whole name followed by a blank.
  EXPECT_EQ(Fetch("GET /clientX HTTP/1.0\r\n\r\n").substr(0, PageStart.size()), PageStart);
  EXPECT_EQ(Fetch("GET /client\r\n\r\n").substr(0, PageStart.size()), PageStart);
  EXPECT_EQ(Fetch("get /client1 HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(Fetch("POST / HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(Fetch("GET /data1 HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 404 OK\r\nContent-type: text/html\r\n\r\n"
            "<html><head><title>VAROzuvod v1.0</title></head><body bgcolor=#c0c0c0>\r\n"
            "Fichier DATA\\TRIS.MD2 introuvable.\r\n</body></html>\r\n");
  EXPECT_EQ(List.Count(), 0);
}

TEST_F(WebSessionsTest, RequestLineInPiecesIsAnsweredOnceAndOverlongLinesClose) {
  WriteFile("VAROzuvod.exe", "exe");
  TRawClient browser(WebPort());
  browser.Send("GET /cli");
  EXPECT_FALSE(browser.WaitBytes(1, 200));
  ASSERT_TRUE(PumpUntil([&] { return List.Count() == 1; }));
  EXPECT_EQ(List.Row(0).SubItem(TSessionRow::StatusColumn), "connexion");
  browser.Send("ent1 HTTP/1.0\r");
  EXPECT_FALSE(browser.WaitBytes(1, 200));
  browser.Send("\nHost: here\r\n\r\n");
  ASSERT_TRUE(browser.WaitClosed());
  EXPECT_EQ(browser.Received, FileHeader(3, "VAROZUVOD.EXE") + "exe");
  bool statusShown = false;
  for (const auto& change : List.Changes)
    statusShown |= change.Column == TSessionRow::StatusColumn && change.Text == "GET /client1 HTTP/1.0";
  EXPECT_TRUE(statusShown);

  TRawClient flood(WebPort());
  flood.Send(std::string(TWebSession::MaxRequestLineBytes + 100, 'G'));
  EXPECT_TRUE(flood.WaitClosed());
  EXPECT_EQ(flood.Received, "");
}

TEST_F(WebSessionsTest, FileEndsTheConnectionRightAfterItsLastByte) {
  std::string exact = Pattern(2 * TWebSession::FilePieceBytes, 3);
  WriteFile("data/Knight.pcx", exact);
  WriteFile("data/weapon.pcx", "");
  TRawClient browser(WebPort());
  browser.Send("GET /data2 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(browser.WaitClosed());
  EXPECT_EQ(browser.Received, FileHeader(exact.size(), "KNIGHT.PCX") + exact);
  // An empty file still gets its header, then the end, also once the first
  // write event of the connection has passed.
  TRawClient late(WebPort());
  PumpFor(100);
  late.Send("GET /data4 HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(late.WaitClosed());
  EXPECT_EQ(late.Received, FileHeader(0, "WEAPON.PCX"));
  EXPECT_EQ(List.Count(), 0);
}

// A reader that takes nothing fills the socket buffers; the host sends the
// rest on write events, and header lines arriving meanwhile do not stop it.
TEST_F(WebSessionsTest, SlowDownloadSurvivesLateHeadersWhileCurlFetchesAnother) {
  std::string model = Pattern(700 * 1024, 4), weapon = Pattern(500 * 1024, 5);
  WriteFile("data/tris.md2", model);
  WriteFile("data/weapon.md2", weapon);

  constexpr int SmallBufferBytes = 4096;
  TRawClient slow(WebPort(), SmallBufferBytes);
  ASSERT_TRUE(PumpUntil([&] { return Host->WebServer()->Connections().Count() == 1; }));
  ws::SetSendBufferSize(Host->WebServer()->Connections()[0]->Handle(), SmallBufferBytes);
  slow.Send("GET /data1 HTTP/1.0\r\n");
  ASSERT_TRUE(PumpUntil([&] {
    return Host->WebServer()->Connections().Count() == 1 &&
           !static_cast<TWebSession*>(Host->WebServer()->Connections()[0])->IO().OutBuffer().empty();
  })) << "the download did not fill the socket";
  slow.Send("User-Agent: slow\r\nAccept: */*\r\n\r\n");
  PumpFor(50);

  QString curl = QStandardPaths::findExecutable("curl");
  ASSERT_FALSE(curl.isEmpty()) << "curl is needed";
  QProcess fetch;
  fetch.start(curl, {"-s", "-S", "-o", "weapon.out", "-D", "weapon.head",
                     QString("http://127.0.0.1:%1/data3").arg(WebPort())});
  ASSERT_TRUE(PumpUntil([&] { return fetch.state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(fetch.exitCode(), 0) << fetch.readAllStandardError().toStdString();
  std::ifstream out("weapon.out", std::ios::binary);
  std::string fetched((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(fetched == weapon) << fetched.size() << " bytes of " << weapon.size();

  ASSERT_TRUE(slow.WaitClosed(20000));
  std::string expected = FileHeader(model.size(), "TRIS.MD2") + model;
  EXPECT_EQ(slow.Received.size(), expected.size());
  EXPECT_TRUE(slow.Received == expected);
}

TEST(WebSizeText, UnitsChangeAtEachPowerOf1024) {
  EXPECT_EQ(SizeText(0), "0 octets");
  EXPECT_EQ(SizeText(1023), "1023 octets");
  EXPECT_EQ(SizeText(1024), "1 Ko");
  EXPECT_EQ(SizeText(1024 * 1024 - 1), "1023 Ko");
  EXPECT_EQ(SizeText(1024 * 1024), "1 Mo");
  EXPECT_EQ(SizeText(int64_t(5000) * 1024 * 1024), "5000 Mo");
}

}  // namespace
