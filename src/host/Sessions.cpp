#include "host/Sessions.h"

#include <QTimer>

#include "platform/Errors.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {
const std::string GuestName = "guest";
const std::string ConnectingStatus = "connexion";
const std::string NoTime = "00:00:00";
constexpr int32_t LeftWithoutWarning = 1;
constexpr int32_t LeftSayingGoodbye = 0;
// The map's cells run from 0 to MapSize - 1 both ways; directions 0 to 7.
constexpr int32_t MapSize = 256;
constexpr int32_t DirectionCount = 8;
constexpr uint32_t MoveWindowMs = 1000;
// How often a muted player's row looks whether the mute has worn off; the
// tick counter decides.
constexpr int MuteCheckMs = 500;
}  // namespace

TZULSession::TZULSession(TZULServer& server, TSocketHandle listening, TSessionListView& list,
                         const THostSettings& settings, TGuessGate& guesses)
    : TZULSessionItem(server, listening),
      FGameServer(server),
      FSettings(settings),
      FGuesses(guesses),
      FChatGate(settings.ChatLimit),
      FWalkGate(settings.MovesPerSecond, MoveWindowMs),
      FPositionGate(settings.MovesPerSecond, MoveWindowMs) {
  // A peer that vanished without closing is found out and released.
  if (Handle() != ws::INVALID_SOCKET)
    ws::SetKeepAlive(Handle(), KeepAliveIdleSeconds, KeepAliveIntervalSeconds, KeepAliveProbes);
  FId = EncodeInteger(static_cast<int32_t>(Handle()));
  // The session's output is gathered by the server and sent once per pass.
  IO = std::make_unique<TZULSocketIO>(this, *this);
  FRow = list.AddRow(this, Address() + "/" + std::to_string(Handle()), {GuestName, ConnectingStatus, NoTime});

  Route(MsgPassword, &TZULSession::HandlePassword);
  Route(MsgJoin, &TZULSession::HandleJoin);
  Route(MsgChat, &TZULSession::HandleChat);
  Route(MsgLeave, &TZULSession::HandleLeave);
  Route(MsgPosition, &TZULSession::HandlePosition);
  Route(MsgWalk, &TZULSession::HandleWalk);
  Route(MsgLook, &TZULSession::HandleLook);
}

// Frames that follow, in the same read, one that ends the connection (a
// goodbye, a refusal) are not handled: nothing more of the peer's goes out.
void TZULSession::Route(int32_t id, void (TZULSession::*handler)(TZULMessage&)) {
  SetHandler(id, THandler([this, handler](TZULMessage& message) {
               if (!Closing) (this->*handler)(message);
             }));
}

TZULSession::~TZULSession() {
  FMuteTimer.reset();
  IO.reset();
  FRow.reset();
}

void TZULSession::HandleRead() {
  try {
    IO->Receive();
  } catch (const std::exception& error) {
    Closing = true;
    SetStatus(ErrorText(error));
  }
}

void TZULSession::Release() {
  if (PostponeEnd()) return;
  // Nobody was told of a connection that never logged in.
  if (Admitted && !FLeft) FGameServer.Broadcast(this, MsgLeave, FId + EncodeInteger(LeftWithoutWarning));
  TZULSessionItem::Release();
}

void TZULSession::Abandon(const std::string& reason) {
  SetStatus(reason);
  Release();
}

void TZULSession::SendError(const std::string& text) {
  IO->SendMessage(MsgError, text);
  Closing = true;
}

void TZULSession::TurnAway(const std::string& text) {
  SetStatus(text);
  try {
    IO->SendMessage(MsgError, text);
  } catch (const std::exception&) {
    // The peer has gone already: nobody is left to tell.
  }
  Release();
}

// Without a 1, the host must have no password; with one, the guess must be
// the password, even an empty one.
bool TZULSession::PasswordAccepted() const {
  return FGuess ? ConstantTimeEquals(*FGuess, FSettings.Password) : FSettings.Password.empty();
}

void TZULSession::RefuseLogin() {
  SendError("Mot de passe invalide"_cp);
  const uint32_t hold = FGuesses.Refused(Source(), GetTickCount());
  if (hold > 0)
    SetStatus(std::string("Trop d'essais : adresse retenue "_cp) + std::to_string(hold / 60000) + " min");
}

// Chat and movement come only from admitted players; anything else ends the
// connection, and since nobody was told of it, nobody hears of its end.
bool TZULSession::EndedUnadmitted(const TZULMessage& message) {
  if (Admitted) return false;
  SetStatus("Message #" + std::to_string(message.MessageId) + " avant la connexion");
  Closing = true;
  return true;
}

TZULSession::TCell TZULSession::StartCell(int number) {
  // The written rows, one under the other in column 127, while they stay
  // on the map; then the next columns on either side, each from row 127
  // down, and round again should every one of them be taken.
  const int32_t rows = MapSize - (StartRowBase + 1);
  const int32_t band = (number - 1) / rows;
  const int32_t side = (band + 1) / 2 % (StartColumn + 1);
  return {band % 2 ? StartColumn + side : StartColumn - side, StartRowBase + 1 + (number - 1) % rows};
}

int TZULSession::AdmittedCount() const {
  int count = 0;
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i)
    count += connections[i] != this && static_cast<TZULSession*>(connections[i])->Admitted;
  return count;
}

bool TZULSession::NameTaken(const std::string& name) const {
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* other = static_cast<TZULSession*>(connections[i]);
    if (other != this && other->Admitted && !other->FLeft && SameName(other->FName, name)) return true;
  }
  return false;
}

std::string TZULSession::Describe(bool alreadyPresent) const {
  return FId + EncodeIntegers({FReserved, FX, FY}) + std::string(1, alreadyPresent ? '\1' : '\0') + FName;
}

// The guess is kept for the one check the login makes; a 1 after the login
// changes nothing.
void TZULSession::HandlePassword(TZULMessage&) {
  if (Admitted) {
    SetStatus("Mot de passe après la connexion ignoré"_cp);
    return;
  }
  FGuess = IO->ReadString();
}

// The login: the newcomer learns its id and start cell, the others learn of
// the newcomer, then the newcomer learns of every other admitted player, in
// list order.
void TZULSession::HandleJoin(TZULMessage&) {
  if (Admitted) {
    SetStatus("Deuxième connexion ignorée"_cp);
    return;
  }
  if (!PasswordAccepted()) {
    RefuseLogin();
    return;
  }
  std::string name = CleanName(IO->ReadStringView());
  if (NameTaken(name)) {
    SetStatus(NameTakenText);
    SendError(NameTakenText);
    return;
  }
  const TCell start = StartCell(AdmittedCount() + 1);
  FX = start.X;
  FY = start.Y;
  Admitted = true;
  FName = std::move(name);
  FRow->SetSubItem(TSessionRow::PlayerColumn, FName);
  IO->SendMessage(MsgJoin, FId);
  IO->SendMessage(MsgPosition, FId + EncodeIntegers({FReserved, FX, FY, 0}));
  FGameServer.Broadcast(this, MsgPlayer, Describe(false));
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* other = static_cast<TZULSession*>(connections[i]);
    if (other != this && other->Admitted) IO->SendMessage(MsgPlayer, other->Describe(true));
  }
  // A look sent before the name waited for the others to know the player.
  if (FLook) ShareLook(true);
}

// Relayed messages are joined only in each receiver's output: no payload
// is built per message.
void TZULSession::HandleChat(TZULMessage& message) {
  if (EndedUnadmitted(message)) return;
  std::string_view line = IO->ReadStringView().substr(0, MaxChatBytes);
  if (line.empty()) return;
  // A line past the limit is dropped, not delayed, and not acknowledged.
  if (!FChatGate.Admit(GetTickCount())) {
    Mute();
    return;
  }
  FRow->SetSubItem(TSessionRow::StatusColumn, line);
  FGameServer.RelayChat(*this, FId, line);
}

bool TZULSession::Muted() const { return FChatGate.Muted(GetTickCount()); }

void TZULSession::Mute() {
  if (Status() != MutedText) {
    FStatusBeforeMute = Status();
    SetStatus(MutedText);
  }
  if (!FMuteTimer) {
    FMuteTimer = std::make_unique<QTimer>();
    FMuteTimer->setInterval(MuteCheckMs);
    QObject::connect(FMuteTimer.get(), &QTimer::timeout, [this] { Guarded([this] { EndMuteIfOver(); }); });
  }
  if (!FMuteTimer->isActive()) FMuteTimer->start();
}

// The status goes back to what it showed, unless something else has been
// written there meanwhile.
void TZULSession::EndMuteIfOver() {
  if (Muted()) return;
  FMuteTimer->stop();
  if (Status() == MutedText) SetStatus(FStatusBeforeMute);
}

// A goodbye ends the connection: it is announced once, with flag 0, and
// the session is released as the event ends.
void TZULSession::HandleLeave(TZULMessage& message) {
  if (EndedUnadmitted(message)) return;
  FLeft = true;
  Closing = true;
  FGameServer.Broadcast(this, MsgLeave, FId + EncodeInteger(LeftSayingGoodbye));
}

// Movement is relayed as the sender wrote it, the sender's own X, Y and
// Direction following the host's Reserved, once the payload proves to be
// exactly those integers on the map: a frame that is not raises "Erreur de
// flux 2", which ends the sender alone.  Past MaxMovesPerSecond, moves are
// dropped.
void TZULSession::HandlePosition(TZULMessage& message) {
  if (EndedUnadmitted(message)) return;
  CheckMovePayload({MapSize, MapSize, DirectionCount});
  if (!FPositionGate.Admit(GetTickCount())) return;
  // At most ten bytes: the string keeps them in place.
  std::string head = FId;
  AppendPacked(head, FReserved);
  FGameServer.Broadcast(this, MsgPosition, head, IO->ReadStringView());
}

void TZULSession::HandleWalk(TZULMessage& message) {
  if (EndedUnadmitted(message)) return;
  CheckMovePayload({MapSize, MapSize});
  if (!FWalkGate.Admit(GetTickCount())) return;
  FGameServer.Broadcast(this, MsgWalk, FId, IO->ReadStringView());
}

// Each integer from 0 to below its bound, and nothing after the last; the
// read position is left where it was, for the relay to take the bytes.
void TZULSession::CheckMovePayload(std::initializer_list<int32_t> bounds) {
  const int32_t start = IO->Message.ReadPos;
  for (int32_t bound : bounds) {
    const int32_t value = IO->ReadInteger();
    if (value < 0 || value >= bound) RaiseStreamError();
  }
  if (IO->Message.ReadPos != IO->Message.PayloadEnd + 1) RaiseStreamError();
  IO->Message.ReadPos = start;
}

// Looks go only to players that sent one themselves: a client that knows
// nothing of message 10 never receives it.  A malformed look ends this
// session like any malformed frame (ReadLook raises).
void TZULSession::HandleLook(TZULMessage&) {
  const TPlayerLook look = ReadLook(*IO);
  const bool first = !FLook;
  FLook = look;
  if (Admitted) ShareLook(first);
}

void TZULSession::ShareLook(bool introduce) {
  const std::string mine = FId + EncodeLook(*FLook);
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* other = static_cast<TZULSession*>(connections[i]);
    if (other == this || !other->FLook || !other->Admitted || !other->IO) continue;
    if (introduce) IO->SendMessage(MsgLook, other->FId + EncodeLook(*other->FLook));
    // As in a broadcast, a receiver that cannot take it is released on its
    // own next event; this session goes on.
    try {
      other->IO->SendMessage(MsgLook, mine);
    } catch (const std::exception&) {
      other->Closing = true;
    }
  }
}

void TZULSession::DefaultHandler(TZULMessage& message) {
  SetStatus("Message inconnu (#" + std::to_string(message.MessageId) + ")");
}
