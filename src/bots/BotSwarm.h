// The bots' swarm: Count bots driven through their stages by one timer,
// with the map they share and the report of what they saw; and the
// command that runs one (varozuvod --bots).  Everything runs on the
// user-interface thread; timing follows GetTickCount.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "bots/BotOptions.h"
#include "bots/BotPlayer.h"
#include "bots/BotReport.h"
#include "platform/MessageTarget.h"

class QTimer;

// Drives Count bots through four stages, each bounded in time:
//  joining:  bots connect a few at a time (the host listens with a backlog
//            of 0) until every bot is in and knows every other one;
//  playing:  Seconds of walking and chatting;
//  draining: no new lines or walks; waits until every line is acknowledged
//            and has reached every other bot, and every walk has ended;
//  leaving:  one bot after the other, each once it has heard of every
//            departure before its own; the chosen share drops its connection.
// Then it is Done and its report is ready.
class TBotSwarm : public TMessageTarget {
 public:
  enum class TStage { Idle, Joining, Playing, Draining, Leaving, Done };

  // Notification number of the bots' sockets.
  static constexpr uint32_t SocketMessage = WM_USER;
  // Timer period in milliseconds, the client's frame period.
  static constexpr int TickMs = 40;
  // Connections under way at one time.
  static constexpr int JoinConcurrency = 2;
  // Limits of the bounded stages, in milliseconds; those that wait for the
  // host to reach every bot grow with the swarm.
  static constexpr uint32_t JoinTimeoutMs = 10000;
  static constexpr uint32_t JoinTimeoutPerBotMs = 100;
  static constexpr uint32_t DrainTimeoutMs = 10000;
  static constexpr uint32_t DrainTimeoutPerBotMs = 20;
  static constexpr uint32_t LeaveWaitMs = 3000;
  static constexpr uint32_t LeaveTimeoutMs = 20000;
  static constexpr uint32_t LeaveTimeoutPerBotMs = 50;

  // addresses: the host's, in the order to try them (ResolveAddresses).
  TBotSwarm(const TBotOptions& options, std::vector<ws::TAddress> addresses);
  // The same for one IPv4 address, network order.
  TBotSwarm(const TBotOptions& options, uint32_t address);
  ~TBotSwarm() override;
  TBotSwarm(const TBotSwarm&) = delete;
  TBotSwarm& operator=(const TBotSwarm&) = delete;

  // Starts the timer and the first connections.
  void Start();
  // Runs one step of the stages at time now (the timer calls it).
  void Tick(uint32_t now);
  // Routes the bots' socket events by handle.
  void Dispatch(TMessage& message) override;

  TStage Stage() const { return FStage; }
  bool Done() const { return FStage == TStage::Done; }
  const TBotOptions& Options() const { return FOptions; }
  TMap& Map() { return FMap; }
  int Count() const { return static_cast<int>(FBots.size()); }
  const TBotPlayer& Bot(int index) const { return *FBots.at(static_cast<size_t>(index)); }
  TBotPlayer& Bot(int index) { return *FBots.at(static_cast<size_t>(index)); }
  // Whether the bot at index leaves by dropping its connection.
  bool Drops(int index) const;
  // The report, complete once Done.
  const TBotReport& Report() const { return FReport; }

  // For the bots
  bool Playing() const { return FStage == TStage::Playing; }
  void Registered(TBotPlayer& bot);
  void Unregistered(TBotPlayer& bot);
  // The bot's socket was replaced; previous was its handle.
  void Reregistered(TBotPlayer& bot, TSocketHandle previous);
  void NoteError(const std::string& text);
  void NoteLatency(uint64_t us) { FReport.Latency.Add(us); }
  // Microseconds of the monotonic clock (shared by every process here).
  static uint64_t NowUs();

 private:
  // Moves the joining and leaving stages on at once after a socket event,
  // so that they go at the network's pace rather than the timer's.
  void Progress(uint32_t now);
  void Join(uint32_t now);
  void Play(uint32_t now);
  void Drain(uint32_t now);
  void LeaveOne(uint32_t now);
  void Finish(uint32_t now);
  void EnterStage(TStage stage, uint32_t now);

  bool EveryoneKnowsEveryone() const;
  bool Quiet() const;
  uint64_t MissingLines(const TBotPlayer& receiver) const;
  // Whether listener has heard of every departure so far.
  bool HeardEveryDeparture(const TBotPlayer& listener) const;
  // Counts in the report what listener heard of the departures so far:
  // each expected, each heard, each with a wrong flag.
  void CheckDepartures(const TBotPlayer& listener);

  TBotOptions FOptions;
  std::vector<ws::TAddress> FAddresses;
  TMap256 FMap;
  std::vector<std::unique_ptr<TBotPlayer>> FBots;
  std::unordered_map<TSocketHandle, TBotPlayer*> FByHandle;
  std::unique_ptr<QTimer> FTimer;
  TStage FStage = TStage::Idle;
  uint32_t FStageStart = 0;
  uint32_t FDeadline = 0;
  // Leaving: the next bot to go, when it started waiting, and who went.
  size_t FNextLeaver = 0;
  uint32_t FLeaverSince = 0;
  std::vector<size_t> FDeparted;
  TBotReport FReport;
};

// varozuvod --bots ...: runs one swarm to its end and prints its report on
// standard output.  Exit status 0 when the report is sound, 1 when not, 2
// for a mistake on the command line.
int RunBots(int argc, char** argv);
