// The game client's one connection to a host.  TZULClient opens it, logs in
// when it completes, keeps the player list in step with the host's messages,
// writes the host's news and the chat into the chat panel and sends the local
// player's chat lines and walks.  It owns its framing, the player list and
// every player in it; TZULPlayer2 is the local player, which reports the
// start and the end of its walks, TRemotePlayer every other one.  Walks and
// panel lines also go to the owner's journal when it keeps one.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/ZULLooks.h"
#include "net/ZULSockets.h"
#include "platform/Errors.h"
#include "platform/MessageTarget.h"
#include "world/ZULPlayers.h"

class TClientJournal;
class TGLMemo;
class TMap;
class TSoundSystem;
class TZULClient;

// What the connection needs of the window that owns it: socket events go
// to it as numbered messages, it holds the map the players share and the
// chat panel, and it closes when the connection says so.
class TClientOwner : public TMessageTarget {
 public:
  // The map every player of the client walks on.
  virtual TMap& SharedMap() = 0;
  // The chat panel the connection writes into; null while there is none.
  virtual TGLMemo* ChatPanel() = 0;
  // Closes the window; the connection is destroyed with it later, never
  // while one of its handlers runs (THandlerOwner).
  virtual void CloseWindow() = 0;
  // Where the connection notes what it saw; null when nobody asked.
  virtual TClientJournal* Journal() { return nullptr; }
  // Where the connection's sounds play; null when there is none.
  virtual TSoundSystem* SoundSystem() { return nullptr; }
};

// Chat panel colours, 0xRRGGBB, each light enough to read on the in-game
// screen's dark panel; arrivals and departures are a light blue, since a
// pure blue is hardly seen on it.
inline constexpr uint32_t GreetingColor = 0xFFFFFF;
inline constexpr uint32_t ChatColor = 0x00FF00;
inline constexpr uint32_t ArrivalColor = 0x99CCFF;

// The box when a host has several addresses and none of them took the
// connection (a lone address that fails says "Erreur de communication").
extern const std::string NoAddressAnswersText;

// The most other players a client keeps.  Each costs memory and drawing,
// so a host that keeps announcing newcomers is refused past this many: the
// arrival is an error and makes no player.
inline constexpr int MaxRemotePlayers = 1024;

// The local player: a walk that starts sends 9 with its goal, a walk that
// ends sends 8 with the cell and the facing.
class TZULPlayer2 : public TZULPlayer {
 public:
  TZULPlayer2(TMap* map, TZULPlayerList* list, TZULClient* client);

  void MoveStarted() override;
  void MoveStopped() override;

  TZULClient* Client;  // reported to; not owned
};

// Another player, as the host announces it: its walks report nothing to
// the host; their ends go to the journal.  It is dressed in DefaultLook
// until the host relays the look that player chose.
class TRemotePlayer : public TZULPlayer {
 public:
  TRemotePlayer(TMap* map, TZULPlayerList* list, TZULClient* client);

  void MoveStopped() override;
  // Shows look (valid) on the player's four meshes: the race's head and
  // skin, the hair, the beard or ears; a missing mesh file is an Exception.
  void SetLook(const TPlayerLook& look);

  TZULClient* Client;  // not owned
  TPlayerLook Look;    // as drawn
};

// Messages, by id.  The client sends 1 (password), 3 (name), 5 (chat),
// 7 (leaving), 8 (X, Y, Direction) and 9 (goal column, row); the host sends
// 2 (refusal text), 3 (own id), 4 (id, Reserved, X, Y, already-present
// flag, name), 5 (id, chat line), 6 (acknowledgement), 7 (id, without
// warning flag), 8 (id, Reserved, X, Y, Direction), 9 (id, column, row).
// The client also offers its look (10, after 3) and so receives the looks
// of the other players that offered theirs (10: id, look).
//
// A host may have several addresses (a name with IPv6 and IPv4 ones): the
// client tries them in turn (TClientSocket).  The window hands a failed
// connect event to MoveOn, which tries the next one; only when none is left
// is the failure the window's to show.
class TZULClient : public TClientSocket, public TZULMessageTarget, public THandlerOwner {
 public:
  // Opens the socket ("Impossible d'ouvrir un socket"), creates the local
  // player, asks for read, write, connect and close events to window under
  // notification and starts a non-blocking connect to the first of
  // addresses at port.  The outcome arrives as the connect event.
  TZULClient(TClientOwner& window, uint32_t notification, std::vector<ws::TAddress> addresses, uint16_t port,
             int attemptMs = AttemptMs);
  // The same for one IPv4 address (network byte order).
  TZULClient(TClientOwner& window, uint32_t notification, uint32_t address, uint16_t port);
  // Destroys the players, the last first, then the framing; closes the socket.
  ~TZULClient() override;

  // Login, at connect-complete: 1 only when a password was typed, then 3.
  void SetPassword(const std::string& text);
  void SetName(const std::string& text);
  const std::string& LocalName() const;
  // Sends 10 with Look; the login does it right after SetName, and from
  // then on SetLook sends every change.
  void OfferLook();
  // The local player's look as chosen; sent when it differs from the one
  // offered last.
  void SetLook(const TPlayerLook& look);
  // Sends a chat line; it shows once the host acknowledges it.
  void Say(const std::string& text);
  // Sends the leave message unless Disconnected, then sends nothing more;
  // the owner ends the client afterwards with Dispose, never while a
  // handler of the client runs.
  void Close();

  // The read event: one read, every complete message handled.  A message
  // whose handler fails (a payload shorter than its fields, a send that
  // fails) is skipped like any handled one, so that the messages after it
  // still arrive; the first such error is raised once the read is done.
  // A stream that cannot be read on (a frame header announcing more than
  // MaxPayloadBytes or an integer longer than MaxPackedBytes, a failed
  // read) ends the connection as a failure: Disconnected, its box, then
  // the window closes; nothing more is read.  Once Disconnected, messages
  // still in the buffer are not handled.
  void Receive();

  // The owner's journal; null when nobody asked for one.
  TClientJournal* Journal() const { return FWindow.Journal(); }

  // Unknown ids: "Message #N inconnu", the frame is skipped.
  void DefaultHandler(TZULMessage& message) override;

 protected:
  // The framing follows the socket to the host's next address.
  void Reopened(TSocketHandle previous) override;

 public:
  std::unique_ptr<TZULSocketIO> IO;
  std::string Password;
  TZULPlayer2* LocalPlayer = nullptr;   // also Players' first entry; owned
  std::deque<std::string> PendingChat;  // said, not yet acknowledged; oldest first
  // No leave message is to be sent any more.
  bool Disconnected = false;
  TZULPlayerList Players;  // the local player first, then as announced
  TPlayerLook Look;        // the local player's, as last chosen

 private:
  void HandleRefused(TZULMessage&);      // 2
  void HandleWelcome(TZULMessage&);      // 3
  void HandleArrival(TZULMessage&);      // 4
  void HandleChat(TZULMessage&);         // 5
  void HandleAcknowledge(TZULMessage&);  // 6
  void HandleDeparture(TZULMessage&);    // 7
  void HandlePosition(TZULMessage&);     // 8
  void HandleDestination(TZULMessage&);  // 9
  void HandleLook(TZULMessage&);         // 10

  // The player with this number; none is a message about a stranger (an
  // unadmitted connection, a player gone already), ignored with one line
  // on standard error.
  TZULPlayer* Known(int32_t id, int32_t messageId);
  // The count packed integers that make a relayed 8 or 9's whole payload;
  // a payload that does not decode into exactly them is ignored the same
  // way, so that one sender's bytes cannot stop another's game.
  std::optional<std::vector<int32_t>> ReadRelayed(int32_t messageId, int count);
  void Ignore(int32_t messageId, const std::string& why);

  // Registers a handler whose error is kept for the end of Receive.
  void Bind(int32_t id, void (TZULClient::*handler)(TZULMessage&));
  void AddLine(const std::string& text, uint32_t color);
  void PlayNear(const char* fileName);
  void DestroyPlayer(TZULPlayer* player);

  TClientOwner& FWindow;
  std::optional<Exception> FHandlerError;
  bool FStreamFailed = false;
  // The look last sent; empty until the login offered one.
  std::optional<TPlayerLook> FLookSent;
};
