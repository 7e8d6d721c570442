#include "bots/BotPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bots/BotSwarm.h"
#include "net/ZULLooks.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

// Goals lie at most this many cells away in each axis.
constexpr int WalkRadius = 5;
// Pause between two walks, in milliseconds.
constexpr int WalkPauseMinMs = 200;
constexpr int WalkPauseMaxMs = 1500;
// Bytes one bot reads per call, and calls per read event at most.
constexpr int ReadChunkBytes = 64 * 1024;
constexpr int ReadChunksPerEvent = 16;

// Chat rates are per minute.
constexpr double MsPerMinute = 60.0 * 1000;

// The chat line a bot says: "#" seq " t=" microseconds.
std::string ChatLine(uint64_t seq, uint64_t us) {
  return "#" + std::to_string(seq) + " t=" + std::to_string(us);
}

// Reads a line made by ChatLine; false for anything else.
bool ParseChatLine(const std::string& line, uint64_t& seq, uint64_t& us) {
  const char* text = line.c_str();
  if (*text != '#') return false;
  char* end = nullptr;
  seq = std::strtoull(text + 1, &end, 10);
  if (end == text + 1 || std::strncmp(end, " t=", 3) != 0) return false;
  const char* stamp = end + 3;
  us = std::strtoull(stamp, &end, 10);
  return end != stamp && *end == '\0';
}

}  // namespace

// A game connection that takes everything waiting in big reads: one bot is
// one of hundreds on the thread, so each read event should cost one call.
// Errors are those of TSocketIO::Receive; an orderly end stops the reading
// and arrives as the close event.
class TBotSocketIO : public TZULSocketIO {
 public:
  TBotSocketIO(TZULMessageTarget* owner, TSocketHandle handle, uint64_t& bytesRead)
      : TZULSocketIO(owner, handle), FBytesRead(bytesRead) {}

  void Receive() override {
    // One buffer for every bot of the thread: a read event costs no
    // allocation, and the bytes go to the frame buffer at once.
    static thread_local std::unique_ptr<char[]> chunk(new char[ReadChunkBytes]);
    for (int call = 0; call < ReadChunksPerEvent; ++call) {
      int got = ws::recv(Handle(), chunk.get(), ReadChunkBytes);
      if (got == ws::SOCKET_ERROR) {
        int error = ws::WSAGetLastError();
        if (error == ws::WSAEWOULDBLOCK || error == ws::WSAENOTCONN) break;
        throw Exception("Erreur de lecture " + std::to_string(error));
      }
      FInBuffer.append(chunk.get(), static_cast<size_t>(got));
      FBytesRead += static_cast<uint64_t>(got);
      if (got < ReadChunkBytes) break;
    }
    DecodeFrames();
  }

 private:
  uint64_t& FBytesRead;
};

namespace {

// Each bot dresses differently, the same way at every run: race, hair and
// option go through their choices at different paces.
TPlayerLook BotLook(int index) {
  TPlayerLook look;
  look.Race = index % 2 == 0 ? LookHuman : LookElf;
  look.Hair = (index * 3) % (LookHairStyles + 1);
  look.Option =
      look.Race == LookElf ? 1 + (index / 2) % LookOptionStyles : (index / 2) % (LookOptionStyles + 1);
  return look;
}

}  // namespace

// The bot's socket tells the bot when it moves on to the next address.
class TBotPlayer::TBotSocket : public TClientSocket {
 public:
  TBotSocket(TBotPlayer& bot, const std::vector<ws::TAddress>& addresses, uint16_t port)
      : TClientSocket(&bot.FSwarm, TBotSwarm::SocketMessage, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE,
                      addresses, port),
        FBot(bot) {}

 protected:
  void Reopened(TSocketHandle previous) override { FBot.Reopened(previous); }

 private:
  TBotPlayer& FBot;
};

TBotPlayer::TBotPlayer(TBotSwarm& swarm, int index, const std::vector<ws::TAddress>& addresses, uint16_t port)
    : FSwarm(swarm),
      FIndex(index),
      FName(swarm.Options().NamePrefix + std::to_string(index + 1)),
      FRandom(static_cast<std::mt19937::result_type>(index + 1)),
      FWalker(*this, &swarm.Map()) {
  SetHandler(MsgError, &TBotPlayer::HandleError);
  SetHandler(MsgJoin, &TBotPlayer::HandleJoin);
  SetHandler(MsgPlayer, &TBotPlayer::HandlePlayer);
  SetHandler(MsgChat, &TBotPlayer::HandleChat);
  SetHandler(MsgChatAck, &TBotPlayer::HandleChatAck);
  SetHandler(MsgLeave, &TBotPlayer::HandleLeave);
  SetHandler(MsgPosition, &TBotPlayer::HandlePosition);
  SetHandler(MsgWalk, &TBotPlayer::HandleWalk);
  // The others' looks are counted, nothing more: a bot draws nobody.
  SetHandler(MsgLook, [this](TZULMessage&) { Count(MsgLook); });
  // Lines start at a random phase, so that the bots do not speak in step.
  FChatDue = std::uniform_real_distribution<double>(0.0, 1.0)(FRandom);
  try {
    FSocket = std::make_unique<TBotSocket>(*this, addresses, port);
    FIO = std::make_unique<TBotSocketIO>(this, FSocket->Handle(), FCounts.BytesReceived);
    swarm.Registered(*this);
    // Non-blocking: the outcome arrives as the connect event.
    FSocket->Connect();
  } catch (const std::exception& error) {
    Fail(TState::Failed, ErrorText(error));
  }
}

TBotPlayer::~TBotPlayer() {
  if (FSocket) FSwarm.Unregistered(*this);
}

TSocketHandle TBotPlayer::Handle() const { return FSocket ? FSocket->Handle() : ws::INVALID_SOCKET; }

const TBotPlayer::TKnown* TBotPlayer::Known(int32_t id) const {
  auto found = FKnown.find(id);
  return found == FKnown.end() ? nullptr : &found->second;
}

void TBotPlayer::SocketEvent(uint16_t event, uint16_t error) {
  if (!FSocket) return;
  try {
    switch (event) {
      case FD_CONNECT:
        ConnectDone(error);
        break;
      case FD_READ:
        FIO->Receive();
        break;
      case FD_WRITE:
        FIO->Flush();
        break;
      case FD_CLOSE:
        // After a refusal the host closes; that is no news.
        if (FState != TState::Refused)
          Fail(FState == TState::Connecting ? TState::Failed : TState::Closed,
               "connection closed by the host" +
                   (error ? " (WINSOCK error #" + std::to_string(error) + ")" : std::string()));
        FCloseWanted = true;
        break;
      default:
        break;
    }
  } catch (const std::exception& failure) {
    Fail(FState == TState::Connecting ? TState::Failed : TState::Closed, ErrorText(failure));
  }
  if (FCloseWanted) Close(FState);
}

void TBotPlayer::Reopened(TSocketHandle previous) {
  // Nothing was said on the abandoned socket.
  FIO = std::make_unique<TBotSocketIO>(this, FSocket->Handle(), FCounts.BytesReceived);
  FSwarm.Reregistered(*this, previous);
}

void TBotPlayer::ConnectDone(uint16_t error) {
  if (error != 0 && FSocket->MoveOn()) return;
  if (error != 0) {
    Fail(TState::Failed, "no connection (WINSOCK error #" + std::to_string(error) + ")");
    return;
  }
  if (!FSwarm.Options().Password.empty()) Send(MsgPassword, FSwarm.Options().Password);
  Send(MsgJoin, FName);
}

void TBotPlayer::Send(int32_t id, const std::string& payload) {
  if (!FIO) return;
  try {
    FIO->SendMessage(id, payload);
  } catch (const std::exception& error) {
    Fail(FState == TState::Connecting ? TState::Failed : TState::Closed, ErrorText(error));
    return;
  }
  ++FCounts.Sent[id > 0 && id < BotMessageSlots ? id : 0];
  FCounts.BytesSent += EncodeIntegers({id, static_cast<int32_t>(payload.size())}).size() + payload.size();
}

// Records the failure and has the connection closed after the event.
void TBotPlayer::Fail(TState state, const std::string& text) {
  if (FState != TState::Refused && FState != TState::Gone) FState = state;
  if (FLastError.empty()) {
    FLastError = text;
    FSwarm.NoteError(FName + ": " + ToUtf8(text));
  }
  FCloseWanted = true;
}

void TBotPlayer::Close(TState state) {
  FState = state;
  FCloseWanted = false;
  if (!FSocket) return;
  FSwarm.Unregistered(*this);
  FIO.reset();
  // The socket layer closes gracefully: the host sees the end after
  // everything sent before it.
  FSocket.reset();
}

void TBotPlayer::Leave(bool drop) {
  if (!FSocket) return;
  if (!drop) Send(MsgLeave);
  Close(TState::Gone);
}

void TBotPlayer::Count(int32_t id) { ++FCounts.Received[id > 0 && id < BotMessageSlots ? id : 0]; }

void TBotPlayer::DefaultHandler(TZULMessage& message) { Count(message.MessageId); }

void TBotPlayer::HandleError(TZULMessage&) {
  Count(MsgError);
  Fail(TState::Refused, FIO->ReadString());
}

void TBotPlayer::HandleJoin(TZULMessage&) {
  Count(MsgJoin);
  FId = FIO->ReadInteger();
  if (FState == TState::Connecting) FState = TState::Joined;
  // Once admitted: a refused bot has nothing to show.
  Send(MsgLook, EncodeLook(BotLook(FIndex)));
}

void TBotPlayer::HandlePlayer(TZULMessage&) {
  Count(MsgPlayer);
  int32_t id = FIO->ReadInteger();
  FIO->ReadInteger();  // Reserved
  FIO->ReadInteger();  // X
  FIO->ReadInteger();  // Y
  FIO->ReadInteger();  // already-present flag
  ++FArrivalsHeard;
  // A new connection may reuse the number of one that left.
  TKnown& known = FKnown[id];
  known = TKnown();
  known.Name = FIO->ReadString();
}

void TBotPlayer::HandleChat(TZULMessage&) {
  Count(MsgChat);
  int32_t id = FIO->ReadInteger();
  std::string line = FIO->ReadString();
  ++FCounts.ChatReceived;
  if (FPlaying) ++FCounts.RelayedWhilePlaying;
  TKnown& sender = FKnown[id];
  ++sender.Lines;
  uint64_t seq = 0, us = 0;
  if (!ParseChatLine(line, seq, us)) return;
  uint64_t now = TBotSwarm::NowUs();
  if (us <= now) FSwarm.NoteLatency(now - us);
  if (sender.NextSeq != 0) {
    if (seq > sender.NextSeq) FCounts.ChatGaps += seq - sender.NextSeq;
    if (seq < sender.NextSeq) ++FCounts.ChatOutOfOrder;
  }
  sender.NextSeq = seq + 1;
}

void TBotPlayer::HandleChatAck(TZULMessage&) {
  Count(MsgChatAck);
  ++FCounts.ChatAcked;
  if (FUnacknowledged > 0) --FUnacknowledged;
  // Room in the window: a line that is due goes now, not at the next tick.
  TryChat(GetTickCount());
}

void TBotPlayer::HandleLeave(TZULMessage&) {
  Count(MsgLeave);
  int32_t id = FIO->ReadInteger();
  int32_t flag = FIO->ReadInteger();
  TKnown& known = FKnown[id];
  if (!known.Departed) ++FDeparturesHeard;
  known.Departed = true;
  known.DepartureFlag = flag;
}

// The host places this bot with 8 at login; the others' 8 are relays.
void TBotPlayer::HandlePosition(TZULMessage&) {
  Count(MsgPosition);
  int32_t id = FIO->ReadInteger();
  FIO->ReadInteger();  // Reserved
  int32_t x = FIO->ReadInteger();
  int32_t y = FIO->ReadInteger();
  int32_t direction = FIO->ReadInteger();
  if (id != FId) {
    if (FPlaying) ++FCounts.RelayedWhilePlaying;
    return;
  }
  FWalker.Place(x, y, direction);
}

void TBotPlayer::HandleWalk(TZULMessage&) {
  Count(MsgWalk);
  if (FIO->ReadInteger() != FId && FPlaying) ++FCounts.RelayedWhilePlaying;
}

void TBotPlayer::Tick(uint32_t now, bool playing) {
  if (playing && !FPlaying) {
    FLastChatTick = now;
    FNextWalk = now + static_cast<uint32_t>(std::uniform_int_distribution<int>(0, WalkPauseMaxMs)(FRandom));
  }
  FPlaying = playing;
  if (!Active()) return;
  FWalker.Update(now);
  if (playing && FSwarm.Options().Walk && !Walking() && TickReached(now, FNextWalk)) StartWalk(now);
  TryChat(now);
  if (FCloseWanted) Close(FState);
}

// Lines fall due at the asked rate and go while the window has room; up to
// a window's worth of due lines wait for acknowledgements, so that a bot
// asked for more than the host can take says a line the moment one is
// acknowledged.  Lines due beyond that are held back, not queued.
void TBotPlayer::TryChat(uint32_t now) {
  const TBotOptions& options = FSwarm.Options();
  if (!FPlaying || options.ChatPerMinute <= 0 || !Active()) return;
  if (std::isinf(options.ChatPerMinute))
    FChatDue = options.Window;  // no rate to accrue (0 ms times infinity is not a number)
  else
    FChatDue += double(now - FLastChatTick) * options.ChatPerMinute / MsPerMinute;
  FLastChatTick = now;
  while (FChatDue >= 1.0 && FUnacknowledged < options.Window && Active()) {
    FChatDue -= 1.0;
    ++FUnacknowledged;
    ++FCounts.ChatSent;
    Send(MsgChat, ChatLine(++FChatSeq, TBotSwarm::NowUs()));
  }
  if (FChatDue > options.Window) {
    double excess = std::floor(FChatDue - options.Window);
    FCounts.ChatHeldBack += static_cast<uint64_t>(excess);
    FChatDue -= excess;
  }
}

void TBotPlayer::StartWalk(uint32_t now) {
  std::uniform_int_distribution<int> offset(-WalkRadius, WalkRadius);
  std::uniform_int_distribution<int> pause(WalkPauseMinMs, WalkPauseMaxMs);
  FNextWalk = now + static_cast<uint32_t>(pause(FRandom));
  WalkTo({std::clamp(FWalker.X + offset(FRandom), 0, TMap256::Side - 1),
          std::clamp(FWalker.Y + offset(FRandom), 0, TMap256::Side - 1)});
}

bool TBotPlayer::WalkTo(const TPoint& goal) { return FWalker.MoveTo(goal); }

void TBotPlayer::TWalker::MoveStarted() {
  ++FBot.FCounts.Walks;
  FBot.Send(MsgWalk, EncodeIntegers({PathFinder->Goal().X, PathFinder->Goal().Y}));
}

void TBotPlayer::TWalker::MoveStopped() {
  TZULWalker::MoveStopped();
  FBot.Send(MsgPosition, EncodeIntegers({X, Y, Direction}));
  if (Moving()) return;  // a new path takes over here
  std::uniform_int_distribution<int> pause(WalkPauseMinMs, WalkPauseMaxMs);
  FBot.FNextWalk = GetTickCount() + static_cast<uint32_t>(pause(FBot.FRandom));
}

void TBotPlayer::TWalker::Place(int32_t x, int32_t y, int32_t direction) {
  SetRunning(false);
  X = x;
  Y = y;
  Direction = direction;
}
