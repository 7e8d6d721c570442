// The headless host as its own process, started from the run folder: raw
// clients log in and chat, its standard output follows the connection list,
// its web port offers the files the build laid out, and a signal ends it
// cleanly with every connection closed.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QRegularExpression>
#include <fstream>

#include "Pump.h"
#include "RawClientSupport.h"

namespace {

constexpr uint32_t MsgPassword = 1, MsgJoin = 3, MsgPlayer = 4, MsgChat = 5, MsgChatAck = 6, MsgLeave = 7;

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class THostProcess {
public:
  explicit THostProcess(const QStringList& options) {
    FProcess.setWorkingDirectory(VAROZUVOD_GAME_DIR);
    FProcess.start(VAROZUVOD_EXE, QStringList{"--serve"} + options);
  }
  ~THostProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(5000);
    }
  }

  // Standard output so far.
  const QString& Output() {
    FOutput += QString::fromUtf8(FProcess.readAllStandardOutput());
    return FOutput;
  }
  // Waits for a line that matches; returns its first capture.
  QString WaitLine(const QString& pattern, int timeoutMs = 5000) {
    QRegularExpression expression(pattern, QRegularExpression::MultilineOption);
    QString found;
    PumpUntil(
        [&] {
          FProcess.waitForReadyRead(10);
          auto match = expression.match(Output());
          if (match.hasMatch()) found = match.captured(1);
          return match.hasMatch();
        },
        timeoutMs);
    return found;
  }
  uint16_t Port(const char* which) { return WaitLine(QString("^%1 : port (\\d+)$").arg(which)).toUShort(); }
  void Signal(int number) { ::kill(static_cast<pid_t>(FProcess.processId()), number); }
  bool Finished(int timeoutMs = 10000) { return FProcess.waitForFinished(timeoutMs); }
  QProcess& Process() { return FProcess; }

private:
  QProcess FProcess;
  QString FOutput;
};

// Logs in; true once the host has answered 3, news of the others skipped.
bool LogIn(TRawClient& client, const std::string& password, const std::string& name) {
  client.SendFrame(MsgPassword, password);
  client.SendFrame(MsgJoin, name);
  TRawFrame frame;
  do {
    if (!client.NextFrame(frame)) return false;
  } while (frame.Id != MsgJoin);
  return true;
}

// The next frame of that id, skipping the others.
bool NextOf(TRawClient& client, uint32_t id, TRawFrame& frame) {
  do {
    if (!client.NextFrame(frame)) return false;
  } while (frame.Id != id);
  return true;
}

TEST(HeadlessHost, PlayersChatAndSigtermClosesTheirConnectionsWithExitZero) {
  THostProcess host({"--port", "0", "--password", "sésame"});
  uint16_t port = host.Port("jeu");
  ASSERT_NE(port, 0) << host.Output().toStdString();
  EXPECT_TRUE(host.Output().startsWith("Serveur ZUL Vantor - ")) << host.Output().toStdString();

  TRawClient alice(port), bob(port);
  const std::string password = "s\xE9same";  // as the clients send it, in 1252
  ASSERT_TRUE(LogIn(alice, password, "Alice"));
  ASSERT_TRUE(LogIn(bob, password, "Bob"));
  TRawFrame frame;
  // Alice hears of Bob by name (maybe after hearing of him unnamed).
  do {
    ASSERT_TRUE(NextOf(alice, MsgPlayer, frame));
  } while (!frame.Payload.ends_with("Bob"));
  alice.SendFrame(MsgChat, "bonjour \xE0 tous");
  ASSERT_TRUE(NextOf(bob, MsgChat, frame));
  EXPECT_TRUE(frame.Payload.ends_with("bonjour \xE0 tous"));
  ASSERT_TRUE(NextOf(alice, MsgChatAck, frame));

  // The rows, in UTF-8: added as guest, named, then showing the chat line.
  QString row = "127\\.0\\.0\\.1/\\d+";
  EXPECT_FALSE(host.WaitLine("^(\\+\t" + row + "\tguest\tconnexion\t00:00:00)$").isEmpty());
  EXPECT_FALSE(host.WaitLine("^(=\t" + row + "\tBob\tconnexion\t\\d\\d:\\d\\d:\\d\\d)$").isEmpty());
  EXPECT_FALSE(host.WaitLine("^(=\t" + row + "\tAlice\tbonjour à tous\t\\d\\d:\\d\\d:\\d\\d)$").isEmpty())
      << host.Output().toStdString();

  host.Signal(SIGTERM);
  for (TRawClient* client : {&alice, &bob}) {
    EXPECT_TRUE(client->WaitClosed(5000));
    // No departure message: the connection just ends.
    for (TRawFrame rest; client->NextFrame(rest, 0);) EXPECT_NE(rest.Id, MsgLeave);
    client->Close();
  }
  ASSERT_TRUE(host.Finished());
  EXPECT_EQ(host.Process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(host.Process().exitCode(), 0);
  EXPECT_EQ(host.Output().count(QRegularExpression("^-\t", QRegularExpression::MultilineOption)), 2);
}

// Everything until the host closes the connection.
std::string Fetch(uint16_t port, const std::string& request) {
  TRawClient browser(port);
  browser.Send(request);
  EXPECT_TRUE(browser.WaitClosed(10000)) << request;
  return browser.Received;
}

std::string Body(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

TEST(HeadlessHost, WebPortOffersTheBuiltFilesAndSigintEndsIt) {
  THostProcess host({"--port", "0", "--web", "--web-port", "0"});
  uint16_t web = host.Port("web");
  ASSERT_NE(web, 0) << host.Output().toStdString();
  const std::string folder = VAROZUVOD_GAME_DIR "/";

  std::string exe = ReadWholeFile(folder + "VAROzuvod.exe");
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe, ReadWholeFile(VAROZUVOD_EXE));
  std::string answer = Fetch(web, "GET /client1 HTTP/1.0\r\n\r\n");
  EXPECT_NE(answer.find("Content-length: " + std::to_string(exe.size()) + "\r\n"), std::string::npos);
  EXPECT_TRUE(Body(answer) == exe) << Body(answer).size() << " bytes of " << exe.size();
  for (const char* archive : {"DATA.ZIP", "VAROzuvod.ZIP"}) {
    std::string zip = ReadWholeFile(folder + archive);
    ASSERT_GT(zip.size(), 4u) << archive;
    EXPECT_EQ(zip.substr(0, 2), "PK") << archive;
    std::string route = std::string(archive) == "DATA.ZIP" ? "/data" : "/client";
    EXPECT_TRUE(Body(Fetch(web, "GET " + route + " HTTP/1.0\r\n\r\n")) == zip) << archive;
  }
  std::string page = Fetch(web, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(page.find("\">VAROzuvod.exe</td><td>\r\nn/a"), std::string::npos) << page;
  EXPECT_EQ(page.find("\">VAROzuvod.ZIP</td><td>\r\nn/a"), std::string::npos) << page;

  host.Signal(SIGINT);
  ASSERT_TRUE(host.Finished());
  EXPECT_EQ(host.Process().exitCode(), 0);
}

TEST(HeadlessHost, GamePortInUseIsReportedAndTheHostStops) {
  THostProcess first({"--port", "0"});
  uint16_t port = first.Port("jeu");
  ASSERT_NE(port, 0);
  THostProcess second({"--port", QString::number(port), "--web", "--web-port", "0"});
  ASSERT_TRUE(second.Finished());
  EXPECT_NE(second.Process().exitCode(), 0);
  QString errors = QString::fromUtf8(second.Process().readAllStandardError());
  EXPECT_TRUE(errors.contains("Impossible de démarrer le serveur (WINSOCK error #10048)")) << errors.toStdString();
  EXPECT_FALSE(second.Output().contains("web : port"));
  first.Signal(SIGTERM);
  EXPECT_TRUE(first.Finished());
}

}  // namespace
