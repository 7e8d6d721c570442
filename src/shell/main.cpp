// The one executable of the game.  Until the windows exist it offers what
// the host can do without them: varozuvod --serve runs a game host that
// prints its connection list on standard output.
#include <QApplication>
#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "client/Bots.h"
#include "host/HeadlessHost.h"
#include "net/Sockets.h"
#include "platform/Text1252.h"

namespace {

const char* const Usage =
    "Usage: varozuvod [--help]\n"
    "       varozuvod --serve [--port N] [--password P] [--web] [--web-port N]\n"
    "  --serve       run the game host without a window; the connection list\n"
    "                goes to standard output, SIGTERM or SIGINT ends it\n"
    "  --port N      game port (default 2048; 0 picks a free one)\n"
    "  --password P  connection password (default none)\n"
    "  --web         also run the download server\n"
    "  --web-port N  port of the download server (default 80)\n";

constexpr int ExitUsage = 2;
constexpr int ExitNoServer = 1;

std::optional<uint16_t> ParsePort(const char* text) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

// Reads the --serve options into settings; false on a mistake.
bool ParseServe(int argc, char** argv, THostSettings& settings) {
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    bool hasValue = i + 1 < argc;
    if (option == "--web") {
      settings.Web = true;
    } else if ((option == "--port" || option == "--web-port") && hasValue) {
      auto port = ParsePort(argv[++i]);
      if (!port) return false;
      (option == "--port" ? settings.Port : settings.WebPort) = *port;
    } else if (option == "--password" && hasValue) {
      settings.Password = FromQString(QString::fromLocal8Bit(argv[++i]));
    } else {
      return false;
    }
  }
  return true;
}

int Serve(int argc, char** argv) {
  THostSettings settings;
  if (!ParseServe(argc, argv, settings)) {
    std::fputs(Usage, stderr);
    return ExitUsage;
  }
  QCoreApplication app(argc, argv);
  TSocketLibrary sockets;
  THeadlessHost host(settings);
  if (!host.Start()) return ExitNoServer;
  return host.Run();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(Usage, stdout);
    std::fputs(BotUsage, stdout);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) return Serve(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "--bots") == 0) return RunBots(argc, argv);
  QApplication app(argc, argv);
  std::printf("varozuvod: nothing to start yet, try --help\n");
  return 0;
}
