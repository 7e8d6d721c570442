#include "net/ZULSockets.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <algorithm>

#include "platform/Errors.h"
#include "platform/Text1252.h"

void RaiseStreamError() { throw Exception("Erreur de flux 2"); }

namespace {

constexpr int GroupBits = 7;
constexpr uint8_t GroupMask = 0x7F;
constexpr uint8_t MoreBit = 0x80;

// The bytes AppendPacked writes for value.
size_t PackedBytes(int32_t value) {
  if (value <= 0x7F) return 1;
  size_t count = 1;
  for (auto rest = static_cast<uint32_t>(value) >> GroupBits; rest > 0; rest >>= GroupBits) ++count;
  return count;
}

enum class TDecode { Done, NeedMore, TooLong };

// Decodes at most maxBytes bytes of a packed integer from data[pos..end).
TDecode Decode(const std::string& data, size_t& pos, size_t end, int maxBytes, int32_t& value) {
  uint32_t sum = 0;
  size_t at = pos;
  for (int count = 0; at < end; ++count) {
    if (count == maxBytes) return TDecode::TooLong;
    auto byte = static_cast<uint8_t>(data[at++]);
    sum += byte & GroupMask;
    if (!(byte & MoreBit)) {
      value = static_cast<int32_t>(sum);
      pos = at;
      return TDecode::Done;
    }
    sum <<= GroupBits;
  }
  return TDecode::NeedMore;
}

}  // namespace

void AppendPacked(std::string& out, int32_t value) {
  if (value <= 0x7F) {
    out.push_back(static_cast<char>(value & GroupMask));
    return;
  }
  // Positive and above 127 here: groups are taken from the low end, then
  // written most significant first.
  char groups[MaxPackedBytes];
  int count = 0;
  auto rest = static_cast<uint32_t>(value);
  while (rest > 0) {
    groups[count++] = static_cast<char>(rest & GroupMask);
    rest >>= GroupBits;
  }
  for (int i = count - 1; i > 0; --i) out.push_back(static_cast<char>(groups[i] | MoreBit));
  out.push_back(groups[0]);
}

std::string EncodeInteger(int32_t value) {
  std::string out;
  AppendPacked(out, value);
  return out;
}

std::string EncodeIntegers(std::initializer_list<int32_t> values) {
  std::string out;
  for (int32_t value : values) AppendPacked(out, value);
  return out;
}

bool DecodePacked(const std::string& data, size_t& pos, size_t end, int32_t& value) {
  if (end > data.size()) end = data.size();
  // Without a limit on the count of bytes, as the wire defines it: extra
  // high groups are shifted out of the 32 bits.
  return Decode(data, pos, end, INT32_MAX, value) == TDecode::Done;
}

// ---------------------------------------------------------------------------
// TZULMessageTarget

void TZULMessageTarget::RouteMessage(TZULMessage& message) {
  for (auto& [id, handler] : FHandlers)
    if (id == message.MessageId) {
      handler(message);
      return;
    }
  DefaultHandler(message);
}

void TZULMessageTarget::SetHandler(int32_t id, THandler handler) {
  for (auto& entry : FHandlers)
    if (entry.first == id) {
      entry.second = std::move(handler);
      return;
    }
  FHandlers.emplace_back(id, std::move(handler));
}

// ---------------------------------------------------------------------------
// TZULSocketIO

TZULSocketIO::TZULSocketIO(TZULMessageTarget* owner, TSocketHandle handle)
    : TSocketIO(handle), FOwner(owner) {}

TZULSocketIO::TZULSocketIO(TZULMessageTarget* owner, TZULSessionItem& session)
    : TSocketIO(session.Handle()), FOwner(owner) {
  // The item was made with a TZULServer (its only constructor takes one).
  auto* server = static_cast<TZULServer*>(session.Server());
  if (server && server->GathersOutput()) {
    FServer = server;
    FSession = &session;
  }
}

TZULSocketIO::~TZULSocketIO() {
  for (TDecodeLevel* level = FLevels; level; level = level->Outer) level->Destroyed = true;
  if (!FServer) return;
  // The socket closes right after: whatever it takes of the last messages
  // still reaches the peer before the end (a refusal before a close).
  try {
    if (!FOverflowed) Flush();
  } catch (const std::exception&) {
  }
  FServer->Forget(*this);
}

void TZULSocketIO::Receive() {
  TSocketIO::Receive();
  DecodeFrames();
}

// Frame on the wire:
//   id       packed integer (1 to 5 bytes)
//   length   packed integer (1 to 5 bytes), 0 to MaxPayloadBytes
//   payload  length bytes
// Frames are handled in place and removed together once the decoding
// ends, so a buffer of many small frames costs one move of its tail, and a
// handler waiting under a modal box keeps the positions of its own frame
// while the box's event loop decodes (and removes) the frames after it.
void TZULSocketIO::DecodeFrames() {
  TDecodeLevel level;
  level.Outer = FLevels;
  FLevels = &level;
  const bool outermost = level.Outer == nullptr;
  // The record of the frame whose handler waits under this call, if any.
  const TZULMessage waiting = Message;
  // Where this call's frames begin: after the waiting handler's own, whose
  // bytes stay where they are.
  const size_t first = FNext;
  auto leave = [&] {
    FLevels = level.Outer;
    // The frames this call handled go, also under a waiting handler: a box
    // left open while the peer keeps sending must not hold all it sent.
    FInBuffer.erase(first, FNext - first);
    FNext = first;
    if (outermost)
      Message.ReadPos = 1;
    else
      Message = waiting;
  };
  for (;;) {
    const size_t start = FNext;
    size_t pos = start;
    int32_t id = 0, length = 0;
    TDecode step = Decode(FInBuffer, pos, FInBuffer.size(), MaxPackedBytes, id);
    if (step == TDecode::Done) step = Decode(FInBuffer, pos, FInBuffer.size(), MaxPackedBytes, length);
    if (step == TDecode::NeedMore) break;
    if (step == TDecode::TooLong || length < 0 || length > MaxPayloadBytes) {
      leave();
      RaiseStreamError();
    }
    if (FInBuffer.size() - pos < static_cast<size_t>(length)) break;
    Message.MessageId = id;
    Message.PayloadLength = length;
    Message.PayloadEnd = static_cast<int32_t>(pos) + length;
    Message.ReadPos = static_cast<int32_t>(pos) + 1;
    // Taken before its handler runs, so that a nested call goes on with the
    // next frame instead of handling this one again.
    FNext = pos + static_cast<size_t>(length);
    try {
      FOwner->RouteMessage(Message);
    } catch (...) {
      if (level.Destroyed) throw;
      FNext = start;  // the failed frame stays first
      leave();
      throw;
    }
    if (level.Destroyed) return;
  }
  leave();
}

int32_t TZULSocketIO::ReadInteger() {
  size_t end = std::min(static_cast<size_t>(std::max(Message.PayloadEnd, 0)), FInBuffer.size());
  if (Message.ReadPos < 1) RaiseStreamError();
  size_t pos = static_cast<size_t>(Message.ReadPos) - 1;
  int32_t value = 0;
  if (Decode(FInBuffer, pos, end, INT32_MAX, value) != TDecode::Done) RaiseStreamError();
  Message.ReadPos = static_cast<int32_t>(pos) + 1;
  return value;
}

std::string TZULSocketIO::ReadString() { return std::string(ReadStringView()); }

std::string_view TZULSocketIO::ReadStringView() {
  size_t end = std::min(static_cast<size_t>(std::max(Message.PayloadEnd, 0)), FInBuffer.size());
  size_t from = Message.ReadPos < 1 ? 0 : static_cast<size_t>(Message.ReadPos) - 1;
  Message.ReadPos = Message.PayloadEnd + 1;
  if (from >= end) return std::string_view();
  return std::string_view(FInBuffer).substr(from, end - from);
}

void TZULSocketIO::WriteInteger(int32_t value) { AppendPacked(FOutBuffer, value); }

void TZULSocketIO::SendMessage(int32_t id, const std::string& payload) {
  SendMessage(id, std::string_view(payload), std::string_view());
}

bool TZULSocketIO::Room(size_t frameBytes) {
  if (FOverflowed) return false;
  if (FOutBuffer.size() + frameBytes <= MaxUnsentBytes) return true;
  // Whatever the socket takes now is no longer held.
  Flush();
  if (FOutBuffer.size() + frameBytes <= MaxUnsentBytes) return true;
  FOverflowed = true;
  return false;
}

void TZULSocketIO::SendMessage(int32_t id, std::string_view head, std::string_view tail) {
  size_t length = head.size() + tail.size();
  if (length > static_cast<size_t>(MaxPayloadBytes)) RaiseStreamError();
  auto packedLength = static_cast<int32_t>(length);
  if (FServer) {
    bool room = Room(PackedBytes(id) + PackedBytes(packedLength) + length);
    if (!FListed) {
      FListed = true;
      FServer->Gathered(*this);
    }
    if (!room) return;
  }
  AppendPacked(FOutBuffer, id);
  AppendPacked(FOutBuffer, packedLength);
  FOutBuffer.append(head);
  FOutBuffer.append(tail);
  if (!FServer) Flush();
}

// ---------------------------------------------------------------------------
// TZULSessionItem, TZULServer

TZULSessionItem::TZULSessionItem(TZULServer& server, TSocketHandle listening)
    : TSessionItem(server, listening) {}

void TZULSessionItem::Abandon(const std::string&) { Release(); }

TZULServer::TZULServer(TMessageTarget* window, uint16_t port, uint32_t notification)
    : TServer(window, port, notification) {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (!dispatcher) return;
  // Both signals: a loop that waits emits aboutToBlock before it sleeps; a
  // loop run without waiting (processEvents from code) emits only awake,
  // at the start of each pass, after the previous pass's events.
  FPassHooks = std::make_unique<QObject>();
  auto send = [this] {
    if (!FGathered.empty() && !FSendingNow) Guarded([this] { SendGathered(); });
  };
  QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, FPassHooks.get(), send);
  QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, FPassHooks.get(), send);
}

TZULServer::~TZULServer() {
  FPassHooks.reset();
  Connections().Clear();
}

void TZULServer::Broadcast(TZULSessionItem* except, int32_t id, const std::string& payload) {
  Broadcast(except, id, std::string_view(payload), std::string_view());
}

void TZULServer::Broadcast(TZULSessionItem* except, int32_t id, std::string_view head,
                           std::string_view tail) {
  // Refused here, before the loop, so that the error reaches the caller
  // instead of closing every receiver in turn.
  if (head.size() + tail.size() > static_cast<size_t>(MaxPayloadBytes)) RaiseStreamError();
  TSessionList& sessions = Connections();
  for (int i = 0; i < sessions.Count(); ++i) {
    // Only TZULSessionItems join a game server's list, so no checked cast
    // per receiver: it showed in the host's profile with many players.
    auto* session = static_cast<TZULSessionItem*>(sessions[i]);
    if (session == except || !session->Admitted || !session->IO) continue;
    try {
      session->IO->SendMessage(id, head, tail);
    } catch (const std::exception&) {
      session->Closing = true;
    }
  }
}

void TZULServer::RelayChat(TZULSessionItem& session, const std::string& payload) {
  if (!payload.empty()) Broadcast(&session, MsgChat, payload);
  if (session.IO) session.IO->SendMessage(MsgChatAck);
}

void TZULServer::RelayChat(TZULSessionItem& session, std::string_view id, std::string_view line) {
  if (!id.empty() || !line.empty()) Broadcast(&session, MsgChat, id, line);
  if (session.IO) session.IO->SendMessage(MsgChatAck, std::string_view(), std::string_view());
}

void TZULServer::Gathered(TZULSocketIO& io) { FGathered.push_back(&io); }

void TZULServer::Forget(TZULSocketIO& io) {
  // Listed at most once, in one of the two lists; a slot of the list being
  // sent is emptied rather than erased, as SendGathered walks it.
  if (!io.FListed) return;
  io.FListed = false;
  auto gathered = std::find(FGathered.begin(), FGathered.end(), &io);
  if (gathered != FGathered.end()) {
    FGathered.erase(gathered);
    return;
  }
  auto sending = std::find(FSending.begin(), FSending.end(), &io);
  if (sending != FSending.end()) *sending = nullptr;
}

void TZULServer::SendGathered() {
  struct TSending {
    bool& Now;
    explicit TSending(bool& now) : Now(now) { Now = true; }
    ~TSending() { Now = false; }
  } sending(FSendingNow);
  while (!FGathered.empty()) {
    FSending.swap(FGathered);
    for (TZULSocketIO* io : FSending) {
      if (!io) continue;
      io->FListed = false;
      if (io->FOverflowed) {
        FOverflowed.push_back(io->FSession);
        continue;
      }
      try {
        io->Flush();
      } catch (const std::exception&) {
        io->FSession->Closing = true;
      }
    }
    FSending.clear();
    // Each departure is announced to the others, which lists them again.
    for (TZULSessionItem* session : FOverflowed) session->Abandon("Trop de données en attente"_cp);
    FOverflowed.clear();
  }
}
