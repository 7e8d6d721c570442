// Bot players: headless clients that speak the game protocol to a host over
// real sockets, to load it and to prove what it relays.  A TBotSwarm owns
// its bots, the map they share and one timer that drives them all; each
// TBotPlayer owns its socket, its framing and its path finder.  Everything
// runs on the user-interface thread; timing follows GetTickCount.
//
// Sections: options and command line; latency histogram; counts and the
// report; TBotPlayer; TBotSwarm; RunBots.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "net/ZULSockets.h"
#include "platform/MessageTarget.h"
#include "world/ZULWalker.h"

class QTimer;

// ---------------------------------------------------------------------------
// Options and command line

struct TBotOptions {
  static constexpr uint16_t DefaultPort = 2048;

  std::string Host = "127.0.0.1";
  uint16_t Port = DefaultPort;
  int Count = 1;
  // Names are the prefix followed by 1, 2, ... Count.
  std::string NamePrefix = "bot";
  // Windows-1252 bytes; empty sends no 1.
  std::string Password;
  // Walk to random cells near the current one, reporting 9 and 8.
  bool Walk = false;
  // Chat lines a bot says per minute (0: none).  AsFastAsAcknowledged
  // keeps the window full: a line goes whenever one is acknowledged.
  double ChatPerMinute = 0;
  static constexpr double AsFastAsAcknowledged = std::numeric_limits<double>::infinity();
  // How long the bots play once all of them are in, in seconds.
  int Seconds = 10;
  // Share of the bots, in percent, that leave by dropping the connection
  // instead of saying goodbye with 7.
  int DropPercent = 0;
  // Most chat lines one bot keeps unacknowledged.  Due lines wait for
  // room, up to this many; lines due beyond that are not said (counted as
  // held back), so a slow host sets the pace instead of an unbounded queue.
  int Window = 8;
  // An address outside 127.0.0.0/8 the bots may join, network byte order;
  // AddressNone (the default) allows none.  Tests of a network made of
  // namespaces name it; nothing else should.
  uint32_t LabAddress = ws::AddressNone;
};

// Reads "--bots HOST[:PORT] [--count N] [--name PREFIX] [--password TEXT]
// [--walk] [--chat PER_MINUTE] [--seconds S] [--drop PERCENT] [--window N]
// [--lab ADDRESS]" (argv[1] is "--bots"; HOST may be an IPv6 address, in
// brackets with a port).  False with a reason in error on a mistake, and
// for a host with an address outside loopback (127.0.0.0/8, ::1) other
// than the --lab address: the swarm is a test tool for a host on this
// machine.
bool ParseBotOptions(int argc, char** argv, TBotOptions& options, std::string& error);

extern const char* const BotUsage;

// ---------------------------------------------------------------------------
// Latency histogram

// Delays in microseconds, kept in buckets of 1 us up to 64 us and then 32
// buckets per power of two (at most 1/32 off), so a long run costs no
// memory per sample.
class TLatencyHistogram {
 public:
  void Add(uint64_t us);
  void Merge(const TLatencyHistogram& other);
  uint64_t Count() const { return FCount; }
  // The delay below which the fraction q (0..1) of the samples lies, as the
  // middle of its bucket; 0 without samples.
  uint64_t Percentile(double q) const;
  uint64_t Max() const { return FMax; }

  static constexpr int LinearBuckets = 64;
  static constexpr int BucketsPerOctave = 32;
  static constexpr int BucketCount = LinearBuckets + 58 * BucketsPerOctave;

 private:
  static int BucketOf(uint64_t us);
  static uint64_t MiddleOf(int bucket);

  std::array<uint64_t, BucketCount> FBuckets{};
  uint64_t FCount = 0;
  uint64_t FMax = 0;
};

// ---------------------------------------------------------------------------
// Counts and the report

// Message ids 0..10; index 0 holds ids the protocol does not know.
inline constexpr int BotMessageSlots = 11;

struct TBotCounts {
  std::array<uint64_t, BotMessageSlots> Sent{};
  std::array<uint64_t, BotMessageSlots> Received{};
  uint64_t BytesSent = 0;
  uint64_t BytesReceived = 0;
  uint64_t ChatSent = 0;
  uint64_t ChatAcked = 0;
  uint64_t ChatHeldBack = 0;
  uint64_t ChatReceived = 0;
  // Lines missing or repeated in a sender's numbering, whoever the sender.
  uint64_t ChatGaps = 0;
  uint64_t ChatOutOfOrder = 0;
  // Deliveries of 5, 8 and 9 from other players while the swarm plays.
  uint64_t RelayedWhilePlaying = 0;
  uint64_t Walks = 0;

  void Add(const TBotCounts& other);
};

// What a swarm saw, once it is done.
struct TBotReport {
  int Bots = 0;
  int Joined = 0;
  int Refused = 0;       // answered with 2
  int Failed = 0;        // no connection, or no answer before the join deadline
  int ClosedByHost = 0;  // the host ended the connection while the bot played
  int Dropped = 0;       // left by dropping the connection
  int SaidGoodbye = 0;   // left with 7
  double JoinSeconds = 0;
  double PlaySeconds = 0;
  double DrainSeconds = 0;
  double LeaveSeconds = 0;
  TBotCounts Totals;
  // Chat lines of the swarm's own bots that some other bot of the swarm,
  // present all along, never received.
  uint64_t ChatLost = 0;
  // Departures of the swarm's bots and how many of them each bot still
  // present heard of, with the flag they should carry.
  uint64_t DeparturesExpected = 0;
  uint64_t DeparturesSeen = 0;
  uint64_t DepartureWrongFlag = 0;
  TLatencyHistogram Latency;
  std::vector<std::string> Errors;  // the first few error texts, UTF-8

  double RelayRate() const { return PlaySeconds > 0 ? Totals.RelayedWhilePlaying / PlaySeconds : 0; }
  // Every bot joined, no line lost, every departure heard with its flag.
  bool Sound() const;
  // A readable account followed by one "summary:" line of key=value pairs.
  void Print(std::FILE* out) const;
};

// ---------------------------------------------------------------------------
// TBotPlayer

class TBotSwarm;
class TBotSocketIO;

// One bot: a client connection without a window.  It logs in on connect
// (1 when it has a password, then 3), follows the host's news about the
// other players, walks as a client's player walks (the world's TZULWalker)
// and reports each walk with 9 when it starts and 8 when it ends, says
// numbered, time-stamped
// chat lines, and leaves with 7 or by dropping the connection.
//
// Chat line it says: "#" seq " t=" microseconds of the monotonic clock at
// sending, so another bot on this machine can tell the relay's delay.
class TBotPlayer : public TZULMessageTarget {
 public:
  enum class TState { Connecting, Joined, Refused, Failed, Closed, Gone };

  // Opens the socket, registers it with the swarm for its events and starts
  // connecting to the first of the host's addresses and port; the others
  // are tried in turn when it fails (TClientSocket).
  TBotPlayer(TBotSwarm& swarm, int index, const std::vector<ws::TAddress>& addresses, uint16_t port);
  ~TBotPlayer() override;

  // Socket events routed by the swarm.
  void SocketEvent(uint16_t event, uint16_t error);
  // Advances the walk and says what falls due.
  void Tick(uint32_t now, bool playing);
  // Leaves: 7 first unless dropping, then the connection closes.
  void Leave(bool drop);
  // Walks from the current cell to goal, reporting the start with 9 and the
  // end with 8; False when no path leads there.  The walk advances in Tick.
  bool WalkTo(const TPoint& goal);

  void DefaultHandler(TZULMessage& message) override;

  // What the bot knows of another player, by id.
  struct TKnown {
    std::string Name;
    bool Departed = false;
    int32_t DepartureFlag = -1;
    uint64_t NextSeq = 0;  // 0: no line seen yet
    uint64_t Lines = 0;
  };
  const TKnown* Known(int32_t id) const;
  // Arrivals (4) and departures (7) heard so far, of anyone: a swarm of
  // hundreds asks these first, and walks its bots' lists only when they
  // are high enough.
  uint64_t ArrivalsHeard() const { return FArrivalsHeard; }
  uint64_t DeparturesHeard() const { return FDeparturesHeard; }

  TState State() const { return FState; }
  bool Connected() const { return FSocket != nullptr; }
  bool Active() const { return FState == TState::Joined && Connected(); }
  TSocketHandle Handle() const;
  int Index() const { return FIndex; }
  int32_t Id() const { return FId; }
  const std::string& Name() const { return FName; }
  TPoint Cell() const { return {FWalker.X, FWalker.Y}; }
  int32_t Direction() const { return FWalker.Direction; }
  bool Walking() const { return FWalker.Moving(); }
  int Unacknowledged() const { return FUnacknowledged; }
  const TBotCounts& Counts() const { return FCounts; }
  const std::string& LastError() const { return FLastError; }

 private:
  void ConnectDone(uint16_t error);
  // The socket moved on to the host's next address.
  void Reopened(TSocketHandle previous);
  void Send(int32_t id, const std::string& payload = std::string());
  void Close(TState state);
  void Fail(TState state, const std::string& text);

  void HandleError(TZULMessage&);
  void HandleJoin(TZULMessage&);
  void HandlePlayer(TZULMessage&);
  void HandleChat(TZULMessage&);
  void HandleChatAck(TZULMessage&);
  void HandleLeave(TZULMessage&);
  void HandlePosition(TZULMessage&);
  void HandleWalk(TZULMessage&);
  void Count(int32_t id);

  void TryChat(uint32_t now);
  void StartWalk(uint32_t now);

  // The bot's walk: the world's walker, reporting to the host as a
  // client's own player does.
  class TWalker : public TZULWalker {
   public:
    TWalker(TBotPlayer& bot, TMap* map) : TZULWalker(map), FBot(bot) {}
    void MoveStarted() override;
    void MoveStopped() override;
    // The host placed the bot: any walk in progress ends there.
    void Place(int32_t x, int32_t y, int32_t direction);

   private:
    TBotPlayer& FBot;
  };

  TBotSwarm& FSwarm;
  int FIndex;
  std::string FName;
  class TBotSocket;
  std::unique_ptr<TBotSocket> FSocket;
  std::unique_ptr<TBotSocketIO> FIO;
  TState FState = TState::Connecting;
  bool FCloseWanted = false;
  std::string FLastError;
  int32_t FId = -1;
  std::unordered_map<int32_t, TKnown> FKnown;
  uint64_t FArrivalsHeard = 0;
  uint64_t FDeparturesHeard = 0;
  TBotCounts FCounts;
  std::mt19937 FRandom;

  // Walking, on the tick clock as the players walk; the next walk starts
  // after a pause.
  TWalker FWalker;
  uint32_t FNextWalk = 0;

  // Chat
  uint64_t FChatSeq = 0;
  int FUnacknowledged = 0;
  double FChatDue = 0;  // lines owed at the asked rate, fraction included
  uint32_t FLastChatTick = 0;
  bool FPlaying = false;
};

// ---------------------------------------------------------------------------
// TBotSwarm

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
  // Departures before `leaver` that `listener` has not heard of correctly.
  void CheckDepartures(const TBotPlayer& listener, size_t leaver);
  bool HeardEveryDeparture(const TBotPlayer& listener, size_t leaver) const;

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

// ---------------------------------------------------------------------------
// RunBots

// varozuvod --bots ...: runs one swarm to its end and prints its report on
// standard output.  Exit status 0 when the report is sound, 1 when not, 2
// for a mistake on the command line.
int RunBots(int argc, char** argv);
