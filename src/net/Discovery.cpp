#include "net/Discovery.h"

#include <algorithm>

#include "net/ZULSockets.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

const std::string QueryMagic = "VZD?";
const std::string AnswerMagic = "VZD!";
constexpr int32_t MaxGamePort = 65535;
constexpr int32_t PasswordNeeded = 1;
constexpr int32_t NoPassword = 0;
// Datagrams taken in one readiness event by the finder.
constexpr int MaxAnswersPerEvent = 64;

// The packed integer at pos, at most MaxPackedBytes long and ending within
// data; false when it does not.
bool ReadPacked(const std::string& data, std::size_t& pos, int32_t& value) {
  return DecodePacked(data, pos, std::min(data.size(), pos + MaxPackedBytes), value);
}

}  // namespace

std::string EncodeQuery(std::size_t size) {
  std::string query = QueryMagic + EncodeInteger(DiscoveryVersion);
  if (query.size() < size) query.resize(size, '\0');
  return query;
}

std::string EncodeAnswer(const TGameAnnounce& announce, std::size_t querySize) {
  std::string answer = AnswerMagic + EncodeIntegers({DiscoveryVersion, announce.GamePort, announce.Players,
                                                     announce.Password ? PasswordNeeded : NoPassword});
  std::size_t limit = querySize + MaxAnswerGrowthBytes;
  if (answer.size() > limit) return {};
  std::size_t nameBytes = std::min({announce.HostName.size(), MaxHostNameBytes, limit - answer.size()});
  return answer + announce.HostName.substr(0, nameBytes);
}

// The two datagrams of the discovery port.  Numbers are packed integers as
// in the game's frames (7 bits a byte, most significant group first, bit 7
// set on every byte but the last), each at most 5 bytes here.
//
// Query, finder to host (sent to a broadcast address or to one host):
//   magic     4 bytes   "VZD?"
//   version   packed    the finder's layout, 1 or later
//   padding   any bytes up to MaxQueryBytes in all (the finder sends zeros)
// The padding pays for the answer: a host answers with at most
// MaxAnswerGrowthBytes more than it was sent.  A query of a later version
// is answered in this host's layout, which its finder still reads.
//
// Answer, host to the sender of the query:
//   magic     4 bytes   "VZD!"
//   version   packed    1
//   port      packed    the game's TCP port, 1 to 65535
//   players   packed    players logged in (their name sent), 0 or more
//   password  packed    1 when the game asks for a password, else 0
//   name      the rest  the host machine's name, Windows-1252, 0 to 63
//                       bytes, no length and no terminator (cut to fit)
//
// Anything else (another magic, a bad number, a longer datagram, a name
// too long) is malformed and ignored without an answer.
bool IsQuery(const std::string& bytes, std::size_t size) {
  if (size > MaxQueryBytes || bytes.size() != size || bytes.compare(0, QueryMagic.size(), QueryMagic) != 0)
    return false;
  std::size_t pos = QueryMagic.size();
  int32_t version = 0;
  return ReadPacked(bytes, pos, version) && version >= DiscoveryVersion;
}

std::optional<TGameAnnounce> DecodeAnswer(const std::string& bytes) {
  if (bytes.size() > MaxAnswerBytes || bytes.compare(0, AnswerMagic.size(), AnswerMagic) != 0) return {};
  std::size_t pos = AnswerMagic.size();
  int32_t version = 0, port = 0, players = 0, password = 0;
  if (!ReadPacked(bytes, pos, version) || version != DiscoveryVersion) return {};
  if (!ReadPacked(bytes, pos, port) || port < 1 || port > MaxGamePort) return {};
  if (!ReadPacked(bytes, pos, players) || players < 0) return {};
  if (!ReadPacked(bytes, pos, password) || (password != NoPassword && password != PasswordNeeded)) return {};
  if (bytes.size() - pos > MaxHostNameBytes) return {};
  TGameAnnounce announce;
  announce.GamePort = static_cast<uint16_t>(port);
  announce.Players = players;
  announce.Password = password == PasswordNeeded;
  announce.HostName = bytes.substr(pos);
  return announce;
}

// ---------------------------------------------------------------------------
// TAnswerLimiter

bool TAnswerLimiter::TSender::Silent(uint32_t now) const {
  // The newest answer sits just before Next.
  uint32_t newest = Times[(Next + AnswersPerWindow - 1) % AnswersPerWindow];
  return Count == 0 || now - newest >= WindowMs;
}

void TAnswerLimiter::ForgetSilent(uint32_t now) {
  std::erase_if(FSenders, [now](const auto& entry) { return entry.second.Silent(now); });
}

bool TAnswerLimiter::Allow(uint32_t address, uint32_t now) {
  auto found = FSenders.find(address);
  if (found == FSenders.end()) {
    if (FSenders.size() >= MaxSenders) ForgetSilent(now);
    if (FSenders.size() >= MaxSenders) return false;
    found = FSenders.emplace(address, TSender{}).first;
  }
  TSender& sender = found->second;
  // Once the ring is full, Next holds the oldest of the last answers: a new
  // one may go when that one has left the window.
  if (sender.Count == AnswersPerWindow && now - sender.Times[sender.Next] < WindowMs) return false;
  sender.Times[sender.Next] = now;
  sender.Next = (sender.Next + 1) % AnswersPerWindow;
  sender.Count = std::min(sender.Count + 1, AnswersPerWindow);
  return true;
}

// ---------------------------------------------------------------------------
// TGameFinder

TGameFinder::TGameFinder(std::vector<uint32_t> targets, uint16_t port)
    : FTargets(std::move(targets)), FPort(port), FSocket("Recherche des parties impossible"_cp) {
  FSocket.Bind(0, false);
  FSocket.EnableBroadcast();
  FSocket.OnReadable([this] { TakeAnswers(); });
}

void TGameFinder::Query() {
  const std::string query = EncodeQuery();
  for (uint32_t target : FTargets) FSocket.SendTo(target, FPort, query);
}

bool TGameFinder::ForgetSilent(uint32_t ms) {
  uint32_t now = GetTickCount();
  return std::erase_if(FGames, [&](const TFoundGame& game) { return now - game.LastSeen > ms; }) > 0;
}

void TGameFinder::TakeAnswers() {
  TDatagram datagram;
  for (int i = 0; i < MaxAnswersPerEvent && FSocket.Receive(datagram, MaxAnswerBytes); ++i) {
    if (datagram.Size != datagram.Bytes.size()) continue;
    std::optional<TGameAnnounce> announce = DecodeAnswer(datagram.Bytes);
    if (!announce) continue;
    auto known = std::find_if(FGames.begin(), FGames.end(), [&](const TFoundGame& game) {
      return game.Address == datagram.Address && game.Announce.GamePort == announce->GamePort;
    });
    bool isNew = known == FGames.end();
    if (isNew) known = FGames.insert(FGames.end(), TFoundGame{datagram.Address, {}, 0});
    known->Announce = std::move(*announce);
    known->LastSeen = GetTickCount();
    // The handler may query again or even forget games: hand it a copy.
    if (OnAnswer) OnAnswer(TFoundGame(*known), isNew);
  }
}
