// The host's side of one connected player: password check, login, relaying
// of chat and movement to every other admitted player, departures, and the
// player's row in the connection list.  Until its login passes, a
// connection is told nothing and nobody is told of it; what it may send
// others is checked and bounded (HostLimits).  A TZULSession is created by the
// host on an accept event and owned by its server's Connections; it owns
// its framing (IO) and its row.  User-interface thread only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "host/HostLimits.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"
#include "net/Sockets.h"
#include "net/ZULLooks.h"
#include "net/ZULSockets.h"

class QTimer;

class TZULSession : public TZULSessionItem, public TZULMessageTarget {
 public:
  // Players start in this column, in row StartRowBase plus the number of
  // admitted players when they log in (themselves included).
  static constexpr int32_t StartColumn = 127;
  static constexpr int32_t StartRowBase = 126;

  // Accepts the pending connection of listening and adds its row to list
  // ("guest", "connexion", "00:00:00").  The server's Connections own the
  // session from then on.  The password is read from settings at the
  // login's check, so settings must outlive the session; so must guesses,
  // which counts the refused logins of every session of the host.
  TZULSession(TZULServer& server, TSocketHandle listening, TSessionListView& list,
              const THostSettings& settings, TGuessGate& guesses);
  // Removes the row; the socket closes last.
  ~TZULSession() override;

  // On a read event: receives and handles every complete message.  Any
  // error is written in the status column and sets Closing; it goes no
  // further.
  void HandleRead();
  // Announces the departure of an admitted player with 7 (flag 1) unless it
  // said goodbye already, then leaves the list and destroys the session; asked for while
  // the host handles an event of the session, all that happens as it ends.
  void Release() override;
  // Writes reason in the status column, then Release.
  void Abandon(const std::string& reason) override;
  // Sends 2 with text and marks the session for release.
  void SendError(const std::string& text);
  // Refuses a connection the host has no room for: writes text in the
  // status column, sends 2 with it and releases the session at once,
  // without a 7, since nobody was told of it.  `this` is gone afterwards.
  void TurnAway(const std::string& text);
  // The cell where the number-th player admitted starts (1 for the first):
  // column 127, row 126 + number while that stays on the map, then cells
  // of the neighbouring columns; always on the map.
  struct TCell {
    int32_t X;
    int32_t Y;
  };
  static TCell StartCell(int number);
  // What the guessing hold-back counts this connection by: its address, or
  // for IPv6 its /64 (one subscriber's network, whose addresses it picks).
  std::string Source() const { return PeerBlock(Address()); }
  // The payload of 4 describing this player: Id, Reserved, X, Y, the flag
  // byte, Name.
  std::string Describe(bool alreadyPresent) const;

  void DefaultHandler(TZULMessage& message) override;

  TZULServer& GameServer() const { return FGameServer; }
  TSessionRow& Row() const { return *FRow; }
  // The player id as it travels: the packed handle.
  const std::string& Id() const { return FId; }
  int32_t Reserved() const { return FReserved; }
  int32_t X() const { return FX; }
  int32_t Y() const { return FY; }
  // Whether the player's login passed the password (Admitted).
  bool LoggedIn() const { return Admitted; }
  const std::string& Name() const { return FName; }
  bool Left() const { return FLeft; }
  // The player's look, once it sent one (message 10): only such players
  // hear of the others' looks.
  const std::optional<TPlayerLook>& Look() const { return FLook; }
  // Whether the player's chat lines are being dropped (--chat-limit).
  bool Muted() const;

 private:
  void HandlePassword(TZULMessage& message);
  void HandleJoin(TZULMessage& message);
  void HandleChat(TZULMessage& message);
  void HandleLeave(TZULMessage& message);
  void HandlePosition(TZULMessage& message);
  void HandleWalk(TZULMessage& message);
  void HandleLook(TZULMessage& message);
  // Registers a handler that runs only while the session is not closing.
  void Route(int32_t id, void (TZULSession::*handler)(TZULMessage&));
  bool PasswordAccepted() const;
  // Sends 2 "Mot de passe invalide" and counts the refusal against Source.
  void RefuseLogin();
  // Ends a connection not admitted yet that sent message; false when admitted.
  bool EndedUnadmitted(const TZULMessage& message);
  // Raises "Erreur de flux 2" unless the payload is exactly one integer per
  // bound, each from 0 to below it.
  void CheckMovePayload(std::initializer_list<int32_t> bounds);
  // Admitted players besides this one.
  int AdmittedCount() const;
  // Whether an admitted player present goes by name.
  bool NameTaken(const std::string& name) const;
  // Sends this player's look to every other logged-in player that sent a
  // look; with introduce, also sends theirs to this player.
  void ShareLook(bool introduce);
  void SetStatus(const std::string& text) { FRow->SetSubItem(TSessionRow::StatusColumn, text); }
  const std::string& Status() const { return FRow->SubItem(TSessionRow::StatusColumn); }
  // A chat line was dropped: the status says so until the mute wears off.
  void Mute();
  void EndMuteIfOver();

  TZULServer& FGameServer;
  const THostSettings& FSettings;
  TGuessGate& FGuesses;
  std::string FId;
  int32_t FReserved = 0;
  int32_t FX = StartColumn;
  int32_t FY = StartRowBase + 1;
  // The password given with 1, until the login checks it.
  std::optional<std::string> FGuess;
  std::string FName;
  std::unique_ptr<TSessionRow> FRow;
  bool FLeft = false;
  std::optional<TPlayerLook> FLook;
  TChatGate FChatGate;
  TRateGate FWalkGate;
  TRateGate FPositionGate;
  // What the status showed before the mute, and the timer that watches for
  // its end while the player is muted.
  std::string FStatusBeforeMute;
  std::unique_ptr<QTimer> FMuteTimer;
};
