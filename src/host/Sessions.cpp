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
// How often a muted player's row looks whether the mute has worn off; the
// tick counter decides.
constexpr int MuteCheckMs = 500;
}  // namespace

TZULSession::TZULSession(TZULServer& server, TSocketHandle listening, TSessionListView& list,
                         const THostSettings& settings)
    : TZULSessionItem(server, listening),
      FGameServer(server),
      FSettings(settings),
      FChatGate(settings.ChatLimit) {
  // A peer that vanished without closing is found out and released.
  if (Handle() != ws::INVALID_SOCKET)
    ws::SetKeepAlive(Handle(), KeepAliveIdleSeconds, KeepAliveIntervalSeconds, KeepAliveProbes);
  FId = EncodeInteger(static_cast<int32_t>(Handle()));
  // The session's output is gathered by the server and sent once per pass.
  IO = std::make_unique<TZULSocketIO>(this, *this);
  FY = FGameServer.Connections().Count() + StartRowBase;
  FAuthenticated = FSettings.Password.empty();
  FRow = list.AddRow(this, Address() + "/" + std::to_string(Handle()), {GuestName, ConnectingStatus, NoTime});

  SetHandler(MsgPassword, &TZULSession::HandlePassword);
  SetHandler(MsgJoin, &TZULSession::HandleJoin);
  SetHandler(MsgChat, &TZULSession::HandleChat);
  SetHandler(MsgLeave, &TZULSession::HandleLeave);
  SetHandler(MsgPosition, &TZULSession::HandlePosition);
  SetHandler(MsgWalk, &TZULSession::HandleWalk);
  SetHandler(MsgLook, &TZULSession::HandleLook);
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
  if (!FLeft) FGameServer.Broadcast(this, MsgLeave, FId + EncodeInteger(LeftWithoutWarning));
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
  // Nobody was told of this connection, so nobody hears of its end.
  FLeft = true;
  try {
    IO->SendMessage(MsgError, text);
  } catch (const std::exception&) {
    // The peer has gone already: nobody is left to tell.
  }
  Release();
}

bool TZULSession::CheckRefused() {
  if (FAuthenticated) return false;
  SendError("Mot de passe invalide"_cp);
  return true;
}

std::string TZULSession::Describe(bool alreadyPresent) const {
  return FId + EncodeIntegers({FReserved, FX, FY}) + std::string(1, alreadyPresent ? '\1' : '\0') + FName;
}

void TZULSession::HandlePassword(TZULMessage&) { FAuthenticated = IO->ReadString() == FSettings.Password; }

// The login: the newcomer learns its id and start cell, the others learn of
// the newcomer, then the newcomer learns of every other connection, in list
// order, named or not.
void TZULSession::HandleJoin(TZULMessage&) {
  if (CheckRefused()) return;
  FLoggedIn = true;
  FName = IO->ReadString();
  FRow->SetSubItem(TSessionRow::PlayerColumn, FName);
  IO->SendMessage(MsgJoin, FId);
  IO->SendMessage(MsgPosition, FId + EncodeIntegers({FReserved, FX, FY, 0}));
  FGameServer.Broadcast(this, MsgPlayer, Describe(false));
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* other = static_cast<TZULSession*>(connections[i]);
    if (other != this) IO->SendMessage(MsgPlayer, other->Describe(true));
  }
  // A look sent before the name waited for the others to know the player.
  if (FLook) ShareLook(true);
}

// Relayed messages are joined only in each receiver's output: no payload
// is built per message.
void TZULSession::HandleChat(TZULMessage&) {
  if (CheckRefused()) return;
  std::string_view line = IO->ReadStringView();
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

void TZULSession::HandleLeave(TZULMessage&) {
  if (!FAuthenticated || FLeft) return;
  FLeft = true;
  FGameServer.Broadcast(this, MsgLeave, FId + EncodeInteger(LeftSayingGoodbye));
}

// Movement is relayed, never decoded: the sender's own X, Y and Direction
// follow the host's Reserved.
void TZULSession::HandlePosition(TZULMessage&) {
  if (CheckRefused()) return;
  // At most ten bytes: the string keeps them in place.
  std::string head = FId;
  AppendPacked(head, FReserved);
  FGameServer.Broadcast(this, MsgPosition, head, IO->ReadStringView());
}

void TZULSession::HandleWalk(TZULMessage&) {
  if (CheckRefused()) return;
  FGameServer.Broadcast(this, MsgWalk, FId, IO->ReadStringView());
}

// Looks go only to players that sent one themselves: a client that knows
// nothing of message 10 never receives it.  A malformed look ends this
// session like any malformed frame (ReadLook raises).
void TZULSession::HandleLook(TZULMessage&) {
  if (CheckRefused()) return;
  const TPlayerLook look = ReadLook(*IO);
  const bool first = !FLook;
  FLook = look;
  if (FLoggedIn) ShareLook(first);
}

void TZULSession::ShareLook(bool introduce) {
  const std::string mine = FId + EncodeLook(*FLook);
  const TSessionList& connections = FGameServer.Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* other = static_cast<TZULSession*>(connections[i]);
    if (other == this || !other->FLook || !other->FLoggedIn || !other->IO) continue;
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
