#include "bots/Bots.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "net/ZULLooks.h"
#include "platform/Descriptors.h"
#include "platform/Errors.h"
#include "platform/SocketEvents.h"
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
// Descriptors the bots' process keeps besides one socket per bot: the
// standard streams and the event loop's own.
constexpr uint64_t BotDescriptorReserve = 16;
// Error texts a report keeps.
constexpr size_t ReportedErrors = 5;
constexpr int MsPerSecond = 1000;

bool IsDue(uint32_t now, uint32_t at) { return static_cast<int32_t>(now - at) >= 0; }

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

bool ParseInt(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high;
}

double Seconds(uint32_t ms) { return ms / double(MsPerSecond); }

// 127.0.0.0/8 or ::1.
bool IsLoopback(const ws::TAddress& address) {
  constexpr uint8_t IPv4Loopback = 127;
  if (address.Family != ws::AddressFamilyInet6) return address.Bytes[0] == IPv4Loopback;
  ws::TAddress one;
  one.Family = ws::AddressFamilyInet6;
  one.Bytes[15] = 1;
  return address == one;
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

// ---------------------------------------------------------------------------
// Options and command line

const char* const BotUsage =
    "       varozuvod --bots HOST[:PORT] [--count N] [--name PREFIX] [--password TEXT]\n"
    "                 [--walk] [--chat PER_MINUTE] [--seconds S] [--drop PERCENT] [--window N]\n"
    "                 [--lab ADDRESS]\n"
    "  --bots        headless bot players against the host at HOST (127.0.0.0/8\n"
    "                or ::1 only; [::1]:PORT with a port), port 2048 unless\n"
    "                given; they join, play S seconds\n"
    "                (default 10), leave, and print what they sent and received\n"
    "  --count N     number of bots (default 1)\n"
    "  --name PREFIX bots are named PREFIX1, PREFIX2, ... (default bot)\n"
    "  --walk        walk to random cells nearby, reported with 9 and 8\n"
    "  --chat R      chat lines per minute and bot (default 0); max: a line\n"
    "                whenever the window has room\n"
    "  --drop P      percent of the bots that drop their connection instead of\n"
    "                saying goodbye (default 0)\n"
    "  --window N    most unacknowledged chat lines per bot (default 8)\n"
    "  --lab ADDRESS also allow a host at that address, and that one only: a\n"
    "                test network of its own (network namespaces)\n";

bool ParseBotOptions(int argc, char** argv, TBotOptions& options, std::string& error) {
  constexpr long MaxBots = 4096;
  constexpr long MaxSeconds = 24 * 3600;
  if (argc < 3) {
    error = "--bots needs HOST[:PORT]";
    return false;
  }
  std::string target = argv[2];
  if (!ParseHostAndPort(target, options.Host, options.Port) || options.Port == 0) {
    error = "bad port in " + target;
    return false;
  }
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    long value = 0;
    if (option == "--walk") {
      options.Walk = true;
      continue;
    }
    if (i + 1 >= argc) {
      error = "missing value after " + option;
      return false;
    }
    const char* text = argv[++i];
    bool ok = true;
    if (option == "--count") {
      ok = ParseInt(text, 1, MaxBots, value);
      options.Count = static_cast<int>(value);
    } else if (option == "--name") {
      options.NamePrefix = FromQString(QString::fromLocal8Bit(text));
    } else if (option == "--password") {
      options.Password = FromQString(QString::fromLocal8Bit(text));
    } else if (option == "--chat") {
      char* end = nullptr;
      options.ChatPerMinute = std::strtod(text, &end);
      ok = end != text && *end == '\0' && options.ChatPerMinute >= 0 && std::isfinite(options.ChatPerMinute);
      if (std::strcmp(text, "max") == 0) {
        options.ChatPerMinute = TBotOptions::AsFastAsAcknowledged;
        ok = true;
      }
    } else if (option == "--seconds") {
      ok = ParseInt(text, 0, MaxSeconds, value);
      options.Seconds = static_cast<int>(value);
    } else if (option == "--drop") {
      ok = ParseInt(text, 0, 100, value);
      options.DropPercent = static_cast<int>(value);
    } else if (option == "--window") {
      ok = ParseInt(text, 1, 1 << 20, value);
      options.Window = static_cast<int>(value);
    } else if (option == "--lab") {
      options.LabAddress = ResolveHost(text);
      ok = options.LabAddress != ws::AddressNone;
    } else {
      error = "unknown option " + option;
      return false;
    }
    if (!ok) {
      error = "bad value for " + option + ": " + text;
      return false;
    }
  }
  // Every address the bots might try must be allowed, not only the first.
  std::vector<ws::TAddress> addresses = ResolveAddresses(options.Host);
  bool allowed = !addresses.empty();
  for (const ws::TAddress& address : addresses)
    allowed = allowed && (IsLoopback(address) || (options.LabAddress != ws::AddressNone &&
                                                  address == ws::InetAddress(options.LabAddress)));
  if (!allowed) {
    error = "bots connect only to a host on this machine (127.0.0.0/8, ::1): " + options.Host;
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Latency histogram

int TLatencyHistogram::BucketOf(uint64_t us) {
  if (us < LinearBuckets) return static_cast<int>(us);
  int shift = std::bit_width(us) - 6;  // keeps six significant bits, 32..63
  auto mantissa = static_cast<int>(us >> shift);
  return LinearBuckets + (shift - 1) * BucketsPerOctave + (mantissa - BucketsPerOctave);
}

uint64_t TLatencyHistogram::MiddleOf(int bucket) {
  if (bucket < LinearBuckets) return static_cast<uint64_t>(bucket);
  int k = bucket - LinearBuckets;
  int shift = k / BucketsPerOctave + 1;
  uint64_t low = uint64_t(k % BucketsPerOctave + BucketsPerOctave) << shift;
  return low + (uint64_t(1) << (shift - 1));
}

void TLatencyHistogram::Add(uint64_t us) {
  ++FBuckets[static_cast<size_t>(BucketOf(us))];
  ++FCount;
  FMax = std::max(FMax, us);
}

void TLatencyHistogram::Merge(const TLatencyHistogram& other) {
  for (size_t i = 0; i < FBuckets.size(); ++i) FBuckets[i] += other.FBuckets[i];
  FCount += other.FCount;
  FMax = std::max(FMax, other.FMax);
}

uint64_t TLatencyHistogram::Percentile(double q) const {
  if (FCount == 0) return 0;
  auto rank = static_cast<uint64_t>(std::ceil(std::clamp(q, 0.0, 1.0) * double(FCount)));
  rank = std::max<uint64_t>(rank, 1);
  uint64_t seen = 0;
  for (size_t i = 0; i < FBuckets.size(); ++i) {
    seen += FBuckets[i];
    if (seen >= rank) return std::min(MiddleOf(static_cast<int>(i)), FMax);
  }
  return FMax;
}

// ---------------------------------------------------------------------------
// Counts and the report

void TBotCounts::Add(const TBotCounts& other) {
  for (int i = 0; i < BotMessageSlots; ++i) {
    Sent[i] += other.Sent[i];
    Received[i] += other.Received[i];
  }
  BytesSent += other.BytesSent;
  BytesReceived += other.BytesReceived;
  ChatSent += other.ChatSent;
  ChatAcked += other.ChatAcked;
  ChatHeldBack += other.ChatHeldBack;
  ChatReceived += other.ChatReceived;
  ChatGaps += other.ChatGaps;
  ChatOutOfOrder += other.ChatOutOfOrder;
  RelayedWhilePlaying += other.RelayedWhilePlaying;
  Walks += other.Walks;
}

bool TBotReport::Sound() const {
  return Joined == Bots && ChatLost == 0 && Totals.ChatGaps == 0 && Totals.ChatOutOfOrder == 0 &&
         DeparturesSeen == DeparturesExpected && DepartureWrongFlag == 0 && ClosedByHost == 0;
}

void TBotReport::Print(std::FILE* out) const {
  auto ids = [out](const char* title, const std::array<uint64_t, BotMessageSlots>& counts) {
    std::fprintf(out, "%s", title);
    for (int id = 1; id < BotMessageSlots; ++id)
      if (counts[id]) std::fprintf(out, "  %d: %llu", id, static_cast<unsigned long long>(counts[id]));
    if (counts[0]) std::fprintf(out, "  unknown: %llu", static_cast<unsigned long long>(counts[0]));
    std::fprintf(out, "\n");
  };
  auto u = [](uint64_t value) { return static_cast<unsigned long long>(value); };
  std::fprintf(out, "bots: %d, joined %d, refused %d, failed %d, closed by the host %d\n", Bots, Joined,
               Refused, Failed, ClosedByHost);
  std::fprintf(out, "stages: joining %.2f s, playing %.2f s, draining %.2f s, leaving %.2f s\n", JoinSeconds,
               PlaySeconds, DrainSeconds, LeaveSeconds);
  ids("sent by id:", Totals.Sent);
  ids("received by id:", Totals.Received);
  std::fprintf(out, "bytes: sent %llu, received %llu\n", u(Totals.BytesSent), u(Totals.BytesReceived));
  std::fprintf(out, "walks: %llu\n", u(Totals.Walks));
  std::fprintf(out,
               "chat: said %llu, acknowledged %llu, held back %llu, received %llu, lost %llu, "
               "gaps %llu, out of order %llu\n",
               u(Totals.ChatSent), u(Totals.ChatAcked), u(Totals.ChatHeldBack), u(Totals.ChatReceived),
               u(ChatLost), u(Totals.ChatGaps), u(Totals.ChatOutOfOrder));
  std::fprintf(out, "relay: %llu deliveries of 5, 8 and 9 while playing, %.1f per second\n",
               u(Totals.RelayedWhilePlaying), RelayRate());
  std::fprintf(out, "latency: median %llu us, p99 %llu us, max %llu us, %llu samples\n",
               u(Latency.Percentile(0.5)), u(Latency.Percentile(0.99)), u(Latency.Max()), u(Latency.Count()));
  std::fprintf(out,
               "departures: %llu expected, %llu heard, %llu with a wrong flag; %d said goodbye, %d dropped\n",
               u(DeparturesExpected), u(DeparturesSeen), u(DepartureWrongFlag), SaidGoodbye, Dropped);
  for (const std::string& text : Errors) std::fprintf(out, "error: %s\n", text.c_str());
  std::fprintf(out,
               "summary: bots=%d joined=%d refused=%d failed=%d closed=%d play_s=%.3f rate=%.1f "
               "lat_median_us=%llu lat_p99_us=%llu said=%llu acked=%llu held=%llu lost=%llu gaps=%llu "
               "departures=%llu/%llu wrong_flags=%llu walks=%llu sound=%d\n",
               Bots, Joined, Refused, Failed, ClosedByHost, PlaySeconds, RelayRate(),
               u(Latency.Percentile(0.5)), u(Latency.Percentile(0.99)), u(Totals.ChatSent),
               u(Totals.ChatAcked), u(Totals.ChatHeldBack), u(ChatLost), u(Totals.ChatGaps),
               u(DeparturesSeen), u(DeparturesExpected), u(DepartureWrongFlag), u(Totals.Walks),
               Sound() ? 1 : 0);
  std::fflush(out);
}

// ---------------------------------------------------------------------------
// TBotPlayer

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
  if (playing && FSwarm.Options().Walk && !Walking() && IsDue(now, FNextWalk)) StartWalk(now);
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
    FChatDue += double(now - FLastChatTick) * options.ChatPerMinute / (60.0 * MsPerSecond);
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

// ---------------------------------------------------------------------------
// TBotSwarm

TBotSwarm::TBotSwarm(const TBotOptions& options, std::vector<ws::TAddress> addresses)
    : FOptions(options), FAddresses(std::move(addresses)) {
  FReport.Bots = options.Count;
}

TBotSwarm::TBotSwarm(const TBotOptions& options, uint32_t address)
    : TBotSwarm(options, std::vector<ws::TAddress>{ws::InetAddress(address)}) {}

TBotSwarm::~TBotSwarm() {
  FTimer.reset();
  FBots.clear();
  ForgetTarget(this);
}

uint64_t TBotSwarm::NowUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

bool TBotSwarm::Drops(int index) const {
  int share = FOptions.DropPercent;
  return (index + 1) * share / 100 > index * share / 100;
}

void TBotSwarm::Registered(TBotPlayer& bot) { FByHandle[bot.Handle()] = &bot; }

void TBotSwarm::Unregistered(TBotPlayer& bot) { FByHandle.erase(bot.Handle()); }

void TBotSwarm::Reregistered(TBotPlayer& bot, TSocketHandle previous) {
  FByHandle.erase(previous);
  Registered(bot);
}

void TBotSwarm::NoteError(const std::string& text) {
  if (FReport.Errors.size() < ReportedErrors) FReport.Errors.push_back(text);
}

void TBotSwarm::Start() {
  FTimer = std::make_unique<QTimer>();
  FTimer->setTimerType(Qt::PreciseTimer);
  FTimer->setInterval(TickMs);
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Guarded([this] { Tick(GetTickCount()); }); });
  FTimer->start();
  uint32_t now = GetTickCount();
  EnterStage(TStage::Joining, now);
  Join(now);
}

void TBotSwarm::Dispatch(TMessage& message) {
  if (message.Msg != SocketMessage) {
    DefaultHandler(message);
    return;
  }
  auto found = FByHandle.find(static_cast<TSocketHandle>(message.WParam));
  if (found == FByHandle.end()) return;
  found->second->SocketEvent(WSAGETSELECTEVENT(message.LParam), WSAGETSELECTERROR(message.LParam));
  Progress(GetTickCount());
}

void TBotSwarm::Progress(uint32_t now) {
  if (FStage == TStage::Joining) Join(now);
  if (FStage == TStage::Leaving) LeaveOne(now);
}

void TBotSwarm::EnterStage(TStage stage, uint32_t now) {
  double spent = Seconds(now - FStageStart);
  switch (FStage) {
    case TStage::Joining:
      FReport.JoinSeconds = spent;
      break;
    case TStage::Playing:
      FReport.PlaySeconds = spent;
      break;
    case TStage::Draining:
      FReport.DrainSeconds = spent;
      break;
    case TStage::Leaving:
      FReport.LeaveSeconds = spent;
      break;
    default:
      break;
  }
  FStage = stage;
  FStageStart = now;
  FLeaverSince = now;
}

void TBotSwarm::Tick(uint32_t now) {
  switch (FStage) {
    case TStage::Joining:
      Join(now);
      break;
    case TStage::Playing:
      Play(now);
      break;
    case TStage::Draining:
      Drain(now);
      break;
    case TStage::Leaving:
      LeaveOne(now);
      break;
    default:
      break;
  }
}

void TBotSwarm::Join(uint32_t now) {
  int underway = 0;
  for (const auto& bot : FBots)
    if (bot->State() == TBotPlayer::TState::Connecting && bot->Connected()) ++underway;
  while (Count() < FOptions.Count && underway < JoinConcurrency) {
    FBots.push_back(std::make_unique<TBotPlayer>(*this, Count(), FAddresses, FOptions.Port));
    if (FBots.back()->Connected()) ++underway;
  }
  bool timedOut = IsDue(now, FStageStart + JoinTimeoutMs + JoinTimeoutPerBotMs * uint32_t(FOptions.Count));
  if (Count() < FOptions.Count || (underway > 0 && !timedOut)) return;
  if (!timedOut && !EveryoneKnowsEveryone()) return;
  // Bots that could not get in by now do not play.
  for (auto& bot : FBots)
    if (bot->State() == TBotPlayer::TState::Connecting) bot->Leave(true);
  EnterStage(TStage::Playing, now);
  Play(now);
}

bool TBotSwarm::EveryoneKnowsEveryone() const {
  // Counting first: the full check costs a look-up per pair of bots.
  uint64_t active = 0;
  for (const auto& bot : FBots) active += bot->Active();
  for (const auto& bot : FBots)
    if (bot->Active() && bot->ArrivalsHeard() + 1 < active) return false;
  for (const auto& listener : FBots) {
    if (!listener->Active()) continue;
    for (const auto& other : FBots)
      if (other != listener && other->Active() && !listener->Known(other->Id())) return false;
  }
  return true;
}

void TBotSwarm::Play(uint32_t now) {
  bool over = IsDue(now, FStageStart + uint32_t(FOptions.Seconds) * MsPerSecond);
  bool anyone = false;
  for (auto& bot : FBots) {
    bot->Tick(now, !over);
    anyone = anyone || bot->Active();
  }
  if (over || !anyone) EnterStage(TStage::Draining, now);
}

void TBotSwarm::Drain(uint32_t now) {
  for (auto& bot : FBots) bot->Tick(now, false);
  if (!Quiet() && !IsDue(now, FStageStart + DrainTimeoutMs + DrainTimeoutPerBotMs * uint32_t(FOptions.Count)))
    return;
  for (const auto& bot : FBots)
    if (bot->Active()) FReport.ChatLost += MissingLines(*bot);
  EnterStage(TStage::Leaving, now);
  LeaveOne(now);
}

bool TBotSwarm::Quiet() const {
  for (const auto& bot : FBots)
    if (bot->Active() && (bot->Walking() || bot->Unacknowledged() > 0 || MissingLines(*bot) > 0))
      return false;
  return true;
}

// A line said by a bot still here must reach every other bot here; of a
// bot gone meanwhile, the lines the host acknowledged.
uint64_t TBotSwarm::MissingLines(const TBotPlayer& receiver) const {
  uint64_t missing = 0;
  for (const auto& sender : FBots) {
    if (sender.get() == &receiver || sender->Id() < 0) continue;
    uint64_t said = sender->Active() ? sender->Counts().ChatSent : sender->Counts().ChatAcked;
    const TBotPlayer::TKnown* known = receiver.Known(sender->Id());
    uint64_t heard = known ? known->Lines : 0;
    if (heard < said) missing += said - heard;
  }
  return missing;
}

bool TBotSwarm::HeardEveryDeparture(const TBotPlayer& listener, size_t) const {
  if (listener.DeparturesHeard() < FDeparted.size()) return false;  // the full check only once it can pass
  for (size_t index : FDeparted) {
    const TBotPlayer::TKnown* known = listener.Known(FBots[index]->Id());
    if (!known || !known->Departed) return false;
  }
  return true;
}

void TBotSwarm::CheckDepartures(const TBotPlayer& listener, size_t) {
  for (size_t index : FDeparted) {
    ++FReport.DeparturesExpected;
    const TBotPlayer::TKnown* known = listener.Known(FBots[index]->Id());
    if (!known || !known->Departed) continue;
    ++FReport.DeparturesSeen;
    if (known->DepartureFlag != (Drops(static_cast<int>(index)) ? 1 : 0)) ++FReport.DepartureWrongFlag;
  }
}

// One bot after the other; each waits until it has heard of every earlier
// departure, or until its wait or the whole stage runs out.
void TBotSwarm::LeaveOne(uint32_t now) {
  bool stageOver = IsDue(now, FStageStart + LeaveTimeoutMs + LeaveTimeoutPerBotMs * uint32_t(FOptions.Count));
  while (FNextLeaver < FBots.size()) {
    TBotPlayer& bot = *FBots[FNextLeaver];
    if (!bot.Active()) {
      ++FNextLeaver;
      continue;
    }
    if (!stageOver && !IsDue(now, FLeaverSince + LeaveWaitMs) && !HeardEveryDeparture(bot, FNextLeaver))
      return;
    CheckDepartures(bot, FNextLeaver);
    bool drop = Drops(static_cast<int>(FNextLeaver));
    bot.Leave(drop);
    ++(drop ? FReport.Dropped : FReport.SaidGoodbye);
    FDeparted.push_back(FNextLeaver);
    ++FNextLeaver;
    FLeaverSince = now;
  }
  Finish(now);
}

void TBotSwarm::Finish(uint32_t now) {
  EnterStage(TStage::Done, now);
  if (FTimer) FTimer->stop();
  for (const auto& bot : FBots) {
    FReport.Totals.Add(bot->Counts());
    bool refused = bot->State() == TBotPlayer::TState::Refused;
    bool joined = bot->Id() >= 0 && !refused;
    FReport.Refused += refused;
    FReport.Joined += joined;
    FReport.ClosedByHost += joined && bot->State() == TBotPlayer::TState::Closed;
  }
  FReport.Failed = FReport.Bots - FReport.Joined - FReport.Refused;
}

// ---------------------------------------------------------------------------
// RunBots

int RunBots(int argc, char** argv) {
  constexpr int ExitUsage = 2;
  TBotOptions options;
  std::string error;
  if (!ParseBotOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "varozuvod: %s\nUsage:\n%s", error.c_str(), BotUsage);
    return ExitUsage;
  }
  // One socket per bot: a swarm of hundreds needs more descriptors than a
  // session usually starts with.
  const TDescriptorLimit limit = RaiseDescriptorLimit();
  if (limit.Soft < uint64_t(options.Count) + BotDescriptorReserve)
    std::fprintf(stderr, "varozuvod: %llu descriptors at most (hard limit %llu): too few for %d bots\n",
                 static_cast<unsigned long long>(limit.Soft), static_cast<unsigned long long>(limit.Hard),
                 options.Count);
  std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
  TSocketLibrary sockets;
  int status = 0;
  {
    TBotSwarm swarm(options, ResolveAddresses(options.Host));
    swarm.Start();
    QEventLoop loop;
    while (!swarm.Done()) loop.processEvents(QEventLoop::WaitForMoreEvents);
    swarm.Report().Print(stdout);
    status = swarm.Report().Sound() ? 0 : 1;
  }
  // The last connections end gracefully; wait for them as the host does.
  QEventLoop loop;
  uint32_t start = GetTickCount();
  while (LingeringSockets() > 0 && !IsDue(GetTickCount(), start + ws::LingerMs))
    loop.processEvents(QEventLoop::AllEvents, TBotSwarm::TickMs);
  return status;
}
