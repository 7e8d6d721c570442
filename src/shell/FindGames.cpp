#include "shell/FindGames.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/Datagrams.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"

namespace {
constexpr int MsPerSecond = 1000;
constexpr int ExitNoSearch = 1;
}  // namespace

std::string FoundGameLine(const TFoundGame& game) {
  return AddressText(game.Address) + ":" + std::to_string(game.Announce.GamePort) + "\t" +
         std::to_string(game.Announce.Players) + "\t" + (game.Announce.Password ? "password" : "open") +
         "\t" + ToUtf8(game.Announce.HostName);
}

int RunFind(int argc, char** argv, const TFindRequest& request, std::FILE* out) {
  QCoreApplication app(argc, argv);
  std::vector<uint32_t> targets = request.Targets.empty() ? InterfaceBroadcasts() : request.Targets;
  std::unique_ptr<TGameFinder> finder;
  try {
    finder = std::make_unique<TGameFinder>(targets, request.DiscoveryPort);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varozuvod: %s\n", ToUtf8(ErrorText(error)).c_str());
    return ExitNoSearch;
  }
  finder->OnAnswer = [out](const TFoundGame& game, bool isNew) {
    if (!isNew) return;
    std::fputs((FoundGameLine(game) + "\n").c_str(), out);
    std::fflush(out);
  };
  QTimer rounds;
  QObject::connect(&rounds, &QTimer::timeout, [&] { Guarded([&] { finder->Query(); }); });
  rounds.start(FindQueryPeriodMs);
  QTimer::singleShot(request.Seconds * MsPerSecond, &app, &QCoreApplication::quit);
  finder->Query();
  app.exec();
  return 0;
}
