// The host's side of one connected player: password check, login, relaying
// of chat and movement to every other connection, departures, and the
// player's row in the connection list.  A TZULSession is created by the
// host on an accept event and owned by its server's Connections; it owns
// its framing (IO) and its row.  User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/HostLimits.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"
#include "net/ZULLooks.h"
#include "net/ZULSockets.h"

class QTimer;

class TZULSession : public TZULSessionItem, public TZULMessageTarget {
 public:
  // Every player starts in this column, in row StartRowBase plus the number
  // of connections when it joined (itself included).
  static constexpr int32_t StartColumn = 127;
  static constexpr int32_t StartRowBase = 126;

  // Accepts the pending connection of listening and adds its row to list
  // ("guest", "connexion", "00:00:00").  The server's Connections own the
  // session from then on.  The password is read from settings at every
  // check, so settings must outlive the session.
  TZULSession(TZULServer& server, TSocketHandle listening, TSessionListView& list,
              const THostSettings& settings);
  // Removes the row; the socket closes last.
  ~TZULSession() override;

  // On a read event: receives and handles every complete message.  Any
  // error is written in the status column and sets Closing; it goes no
  // further.
  void HandleRead();
  // Announces the departure with 7 (flag 1) unless the player said goodbye
  // already, then leaves the list and destroys the session; asked for while
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
  // Refuses a session whose password was not accepted: sends 2 "Mot de
  // passe invalide" and returns true.
  bool CheckRefused();
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
  bool Authenticated() const { return FAuthenticated; }
  // Whether the player's name was accepted (message 3 past the password).
  bool LoggedIn() const { return FLoggedIn; }
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
  std::string FId;
  int32_t FReserved = 0;
  int32_t FX = StartColumn;
  int32_t FY = 0;
  bool FAuthenticated = false;
  std::string FName;
  std::unique_ptr<TSessionRow> FRow;
  bool FLeft = false;
  bool FLoggedIn = false;
  std::optional<TPlayerLook> FLook;
  TChatGate FChatGate;
  // What the status showed before the mute, and the timer that watches for
  // its end while the player is muted.
  std::string FStatusBeforeMute;
  std::unique_ptr<QTimer> FMuteTimer;
};
