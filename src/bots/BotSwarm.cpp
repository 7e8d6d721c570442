#include "bots/BotSwarm.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "platform/Descriptors.h"
#include "platform/Errors.h"
#include "platform/SocketEvents.h"
#include "platform/Tick.h"

namespace {

// Descriptors the bots' process keeps besides one socket per bot: the
// standard streams and the event loop's own.
constexpr uint64_t BotDescriptorReserve = 16;
// Error texts a report keeps.
constexpr size_t ReportedErrors = 5;
constexpr int MsPerSecond = 1000;

double Seconds(uint32_t ms) { return ms / double(MsPerSecond); }

}  // namespace

TBotSwarm::TBotSwarm(const TBotOptions& options, std::vector<ws::TAddress> addresses)
    : FOptions(options), FAddresses(std::move(addresses)) {
  FReport.Bots = options.Count;
}

TBotSwarm::TBotSwarm(const TBotOptions& options, uint32_t address)
    : TBotSwarm(options, std::vector<ws::TAddress>{ws::InetAddress(address)}) {}

TBotSwarm::~TBotSwarm() {
  FTimer.reset();
  FBots.clear();
  ForgetTarget(this);
}

uint64_t TBotSwarm::NowUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

bool TBotSwarm::Drops(int index) const {
  int share = FOptions.DropPercent;
  return (index + 1) * share / 100 > index * share / 100;
}

void TBotSwarm::Registered(TBotPlayer& bot) { FByHandle[bot.Handle()] = &bot; }

void TBotSwarm::Unregistered(TBotPlayer& bot) { FByHandle.erase(bot.Handle()); }

void TBotSwarm::Reregistered(TBotPlayer& bot, TSocketHandle previous) {
  FByHandle.erase(previous);
  Registered(bot);
}

void TBotSwarm::NoteError(const std::string& text) {
  if (FReport.Errors.size() < ReportedErrors) FReport.Errors.push_back(text);
}

void TBotSwarm::Start() {
  FTimer = std::make_unique<QTimer>();
  FTimer->setTimerType(Qt::PreciseTimer);
  FTimer->setInterval(TickMs);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Guarded([this] { Tick(GetTickCount()); }); });
  FTimer->start();
  uint32_t now = GetTickCount();
  EnterStage(TStage::Joining, now);
  Join(now);
}

void TBotSwarm::Dispatch(TMessage& message) {
  if (message.Msg != SocketMessage) {
    DefaultHandler(message);
    return;
  }
  auto found = FByHandle.find(static_cast<TSocketHandle>(message.WParam));
  if (found == FByHandle.end()) return;
  found->second->SocketEvent(WSAGETSELECTEVENT(message.LParam), WSAGETSELECTERROR(message.LParam));
  Progress(GetTickCount());
}

void TBotSwarm::Progress(uint32_t now) {
  if (FStage == TStage::Joining) Join(now);
  if (FStage == TStage::Leaving) LeaveOne(now);
}

void TBotSwarm::EnterStage(TStage stage, uint32_t now) {
  double spent = Seconds(now - FStageStart);
  switch (FStage) {
    case TStage::Joining:
      FReport.JoinSeconds = spent;
      break;
    case TStage::Playing:
      FReport.PlaySeconds = spent;
      break;
    case TStage::Draining:
      FReport.DrainSeconds = spent;
      break;
    case TStage::Leaving:
      FReport.LeaveSeconds = spent;
      break;
    default:
      break;
  }
  FStage = stage;
  FStageStart = now;
  FLeaverSince = now;
}

void TBotSwarm::Tick(uint32_t now) {
  switch (FStage) {
    case TStage::Joining:
      Join(now);
      break;
    case TStage::Playing:
      Play(now);
      break;
    case TStage::Draining:
      Drain(now);
      break;
    case TStage::Leaving:
      LeaveOne(now);
      break;
    default:
      break;
  }
}

void TBotSwarm::Join(uint32_t now) {
  int underway = 0;
  for (const auto& bot : FBots)
    if (bot->State() == TBotPlayer::TState::Connecting && bot->Connected()) ++underway;
  while (Count() < FOptions.Count && underway < JoinConcurrency) {
    FBots.push_back(std::make_unique<TBotPlayer>(*this, Count(), FAddresses, FOptions.Port));
    if (FBots.back()->Connected()) ++underway;
  }
  bool timedOut =
      TickReached(now, FStageStart + JoinTimeoutMs + JoinTimeoutPerBotMs * uint32_t(FOptions.Count));
  if (Count() < FOptions.Count || (underway > 0 && !timedOut)) return;
  if (!timedOut && !EveryoneKnowsEveryone()) return;
  // Bots that could not get in by now do not play.
  for (auto& bot : FBots)
    if (bot->State() == TBotPlayer::TState::Connecting) bot->Leave(true);
  EnterStage(TStage::Playing, now);
  Play(now);
}

bool TBotSwarm::EveryoneKnowsEveryone() const {
  // Counting first: the full check costs a look-up per pair of bots.
  uint64_t active = 0;
  for (const auto& bot : FBots) active += bot->Active();
  for (const auto& bot : FBots)
    if (bot->Active() && bot->ArrivalsHeard() + 1 < active) return false;
  for (const auto& listener : FBots) {
    if (!listener->Active()) continue;
    for (const auto& other : FBots)
      if (other != listener && other->Active() && !listener->Known(other->Id())) return false;
  }
  return true;
}

void TBotSwarm::Play(uint32_t now) {
  bool over = TickReached(now, FStageStart + uint32_t(FOptions.Seconds) * MsPerSecond);
  bool anyone = false;
  for (auto& bot : FBots) {
    bot->Tick(now, !over);
    anyone = anyone || bot->Active();
  }
  if (over || !anyone) EnterStage(TStage::Draining, now);
}

void TBotSwarm::Drain(uint32_t now) {
  for (auto& bot : FBots) bot->Tick(now, false);
  if (!Quiet() &&
      !TickReached(now, FStageStart + DrainTimeoutMs + DrainTimeoutPerBotMs * uint32_t(FOptions.Count)))
    return;
  for (const auto& bot : FBots)
    if (bot->Active()) FReport.ChatLost += MissingLines(*bot);
  EnterStage(TStage::Leaving, now);
  LeaveOne(now);
}

bool TBotSwarm::Quiet() const {
  for (const auto& bot : FBots)
    if (bot->Active() && (bot->Walking() || bot->Unacknowledged() > 0 || MissingLines(*bot) > 0))
      return false;
  return true;
}

// A line said by a bot still here must reach every other bot here; of a
// bot gone meanwhile, the lines the host acknowledged.
uint64_t TBotSwarm::MissingLines(const TBotPlayer& receiver) const {
  uint64_t missing = 0;
  for (const auto& sender : FBots) {
    if (sender.get() == &receiver || sender->Id() < 0) continue;
    uint64_t said = sender->Active() ? sender->Counts().ChatSent : sender->Counts().ChatAcked;
    const TBotPlayer::TKnown* known = receiver.Known(sender->Id());
    uint64_t heard = known ? known->Lines : 0;
    if (heard < said) missing += said - heard;
  }
  return missing;
}

bool TBotSwarm::HeardEveryDeparture(const TBotPlayer& listener) const {
  if (listener.DeparturesHeard() < FDeparted.size()) return false;  // the full check only once it can pass
  for (size_t index : FDeparted) {
    const TBotPlayer::TKnown* known = listener.Known(FBots[index]->Id());
    if (!known || !known->Departed) return false;
  }
  return true;
}

void TBotSwarm::CheckDepartures(const TBotPlayer& listener) {
  for (size_t index : FDeparted) {
    ++FReport.DeparturesExpected;
    const TBotPlayer::TKnown* known = listener.Known(FBots[index]->Id());
    if (!known || !known->Departed) continue;
    ++FReport.DeparturesSeen;
    if (known->DepartureFlag != (Drops(static_cast<int>(index)) ? 1 : 0)) ++FReport.DepartureWrongFlag;
  }
}

// One bot after the other; each waits until it has heard of every earlier
// departure, or until its wait or the whole stage runs out.
void TBotSwarm::LeaveOne(uint32_t now) {
  bool stageOver =
      TickReached(now, FStageStart + LeaveTimeoutMs + LeaveTimeoutPerBotMs * uint32_t(FOptions.Count));
  while (FNextLeaver < FBots.size()) {
    TBotPlayer& bot = *FBots[FNextLeaver];
    if (!bot.Active()) {
      ++FNextLeaver;
      continue;
    }
    if (!stageOver && !TickReached(now, FLeaverSince + LeaveWaitMs) && !HeardEveryDeparture(bot)) return;
    CheckDepartures(bot);
    bool drop = Drops(static_cast<int>(FNextLeaver));
    bot.Leave(drop);
    ++(drop ? FReport.Dropped : FReport.SaidGoodbye);
    FDeparted.push_back(FNextLeaver);
    ++FNextLeaver;
    FLeaverSince = now;
  }
  Finish(now);
}

void TBotSwarm::Finish(uint32_t now) {
  EnterStage(TStage::Done, now);
  if (FTimer) FTimer->stop();
  for (const auto& bot : FBots) {
    FReport.Totals.Add(bot->Counts());
    bool refused = bot->State() == TBotPlayer::TState::Refused;
    bool joined = bot->Id() >= 0 && !refused;
    FReport.Refused += refused;
    FReport.Joined += joined;
    FReport.ClosedByHost += joined && bot->State() == TBotPlayer::TState::Closed;
  }
  FReport.Failed = FReport.Bots - FReport.Joined - FReport.Refused;
}

int RunBots(int argc, char** argv) {
  constexpr int ExitUsage = 2;
  TBotOptions options;
  std::string error;
  if (!ParseBotOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "varozuvod: %s\nUsage:\n%s", error.c_str(), BotUsage);
    return ExitUsage;
  }
  // One socket per bot: a swarm of hundreds needs more descriptors than a
  // session usually starts with.
  const TDescriptorLimit limit = RaiseDescriptorLimit();
  if (limit.Soft < uint64_t(options.Count) + BotDescriptorReserve)
    std::fprintf(stderr, "varozuvod: %llu descriptors at most (hard limit %llu): too few for %d bots\n",
                 static_cast<unsigned long long>(limit.Soft), static_cast<unsigned long long>(limit.Hard),
                 options.Count);
  std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
  TSocketLibrary sockets;
  int status = 0;
  {
    TBotSwarm swarm(options, ResolveAddresses(options.Host));
    swarm.Start();
    QEventLoop loop;
    while (!swarm.Done()) loop.processEvents(QEventLoop::WaitForMoreEvents);
    swarm.Report().Print(stdout);
    status = swarm.Report().Sound() ? 0 : 1;
  }
  // The last connections end gracefully; wait for them as the host does.
  QEventLoop loop;
  uint32_t start = GetTickCount();
  while (LingeringSockets() > 0 && !TickReached(GetTickCount(), start + ws::LingerMs))
    loop.processEvents(QEventLoop::AllEvents, TBotSwarm::TickMs);
  return status;
}
