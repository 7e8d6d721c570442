// One bot player: a headless client that speaks the game protocol to a
// host over a real socket.  Its swarm owns it; it owns its socket, its
// framing and its walker, and runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bots/BotReport.h"
#include "net/ZULSockets.h"
#include "world/ZULWalker.h"

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
