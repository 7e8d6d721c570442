#include "net/Discovery.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <algorithm>

#include "net/ZULSockets.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

const std::string QueryMagic = "VZD?";
const std::string AnswerMagic = "VZD!";
const std::string ChallengeMagic = "VZD#";
// The first version whose queries carry a cookie field.
constexpr int32_t CookieVersion = 2;
// The oldest answers a finder still reads.
constexpr int32_t OldestAnswerVersion = 1;
const std::string NoCookie(CookieBytes, '\0');
constexpr std::size_t CookieKeyBytes = 32;
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

std::string EncodeQuery(const std::string& cookie, std::size_t size) {
  std::string query = QueryMagic + EncodeInteger(DiscoveryVersion) + (cookie.empty() ? NoCookie : cookie);
  if (query.size() < size) query.resize(size, '\0');
  return query;
}

std::string EncodeChallenge(const std::string& cookie) {
  return ChallengeMagic + EncodeInteger(DiscoveryVersion) + cookie;
}

std::string EncodeAnswer(const TGameAnnounce& announce, std::size_t querySize) {
  std::string answer = AnswerMagic + EncodeIntegers({DiscoveryVersion, announce.GamePort, announce.Players,
                                                     announce.Password ? PasswordNeeded : NoPassword});
  std::size_t limit = querySize;
  if (answer.size() > limit) return {};
  std::size_t nameBytes = std::min({announce.HostName.size(), MaxHostNameBytes, limit - answer.size()});
  return answer + announce.HostName.substr(0, nameBytes);
}

// The three datagrams of the discovery port.  Numbers are packed integers
// as in the game's frames (7 bits a byte, most significant group first,
// bit 7 set on every byte but the last), each at most 5 bytes here.
//
// Query, finder to host (sent to a broadcast address or to one host):
//   magic     4 bytes   "VZD?"
//   version   packed    the finder's layout, 1 or later
//   cookie    8 bytes   from version 2 on: the cookie of the host's
//                       challenge, or zeros for none
//   padding   any bytes, MinQueryBytes to MaxQueryBytes in all (the finder
//                       sends zeros)
// The padding pays for the answer: an answer is never longer than its
// query, so a shorter query is not answered.  A query of a later version
// is answered in this host's layout, which its finder still reads.
//
// Challenge, host to the sender of a query without a valid cookie, when
// the host's budget for such queries is spent (someone floods it):
//   magic     4 bytes   "VZD#"
//   version   packed    2
//   cookie    8 bytes   to be sent back in the next query
// It is shorter than any query, so it multiplies nothing either.
//
// Answer, host to the sender of the query:
//   magic     4 bytes   "VZD!"
//   version   packed    2 (1 from older hosts, same layout)
//   port      packed    the game's TCP port, 1 to 65535
//   players   packed    players logged in (their name sent), 0 or more
//   password  packed    1 when the game asks for a password, else 0
//   name      the rest  the host machine's name, Windows-1252, 0 to 63
//                       bytes, no length and no terminator (cut to fit)
//
// Anything else (another magic, a bad number, a longer datagram, a name
// too long) is malformed and ignored without an answer.
bool IsQuery(const std::string& bytes, std::size_t size, std::string* cookie) {
  if (size < MinQueryBytes || size > MaxQueryBytes || bytes.size() != size ||
      bytes.compare(0, QueryMagic.size(), QueryMagic) != 0)
    return false;
  std::size_t pos = QueryMagic.size();
  int32_t version = 0;
  if (!ReadPacked(bytes, pos, version) || version < OldestAnswerVersion) return false;
  if (cookie) {
    // The size checked above leaves room for the cookie field.
    std::string field = version >= CookieVersion ? bytes.substr(pos, CookieBytes) : NoCookie;
    *cookie = field == NoCookie ? std::string() : field;
  }
  return true;
}

std::optional<std::string> DecodeChallenge(const std::string& bytes) {
  if (bytes.size() != ChallengeBytes || bytes.compare(0, ChallengeMagic.size(), ChallengeMagic) != 0)
    return {};
  std::size_t pos = ChallengeMagic.size();
  int32_t version = 0;
  if (!ReadPacked(bytes, pos, version) || version != DiscoveryVersion || bytes.size() - pos != CookieBytes)
    return {};
  return bytes.substr(pos);
}

std::optional<TGameAnnounce> DecodeAnswer(const std::string& bytes) {
  if (bytes.size() > MaxAnswerBytes || bytes.compare(0, AnswerMagic.size(), AnswerMagic) != 0) return {};
  std::size_t pos = AnswerMagic.size();
  int32_t version = 0, port = 0, players = 0, password = 0;
  if (!ReadPacked(bytes, pos, version) || version < OldestAnswerVersion || version > DiscoveryVersion)
    return {};
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
// TQueryCookies

TQueryCookies::TQueryCookies() : FKey(CookieKeyBytes, '\0') {
  for (char& byte : FKey) byte = static_cast<char>(QRandomGenerator::system()->bounded(256));
}

std::string TQueryCookies::Make(uint32_t address, uint16_t port, uint32_t period) const {
  const std::string message =
      EncodeIntegers({static_cast<int32_t>(address >> 16), static_cast<int32_t>(address & 0xFFFF), port,
                      static_cast<int32_t>(period >> 16), static_cast<int32_t>(period & 0xFFFF)});
  QByteArray digest = QMessageAuthenticationCode::hash(
      QByteArray::fromStdString(message), QByteArray::fromStdString(FKey), QCryptographicHash::Sha256);
  return digest.left(CookieBytes).toStdString();
}

std::string TQueryCookies::Issue(uint32_t address, uint16_t port, uint32_t now) const {
  return Make(address, port, now / PeriodMs);
}

bool TQueryCookies::Valid(const std::string& cookie, uint32_t address, uint16_t port, uint32_t now) const {
  uint32_t period = now / PeriodMs;
  return cookie.size() == CookieBytes &&
         (cookie == Make(address, port, period) || cookie == Make(address, port, period - 1));
}

// ---------------------------------------------------------------------------
// TGlobalBudget

bool TGlobalBudget::Spent(uint32_t now) const {
  // Once the ring is full, FNext holds the oldest of the latest times.
  return FTimes.empty() || (FCount == FTimes.size() && now - FTimes[FNext] < WindowMs);
}

bool TGlobalBudget::Take(uint32_t now) {
  if (Spent(now)) return false;
  FTimes[FNext] = now;
  FNext = (FNext + 1) % FTimes.size();
  FCount = std::min(FCount + 1, FTimes.size());
  return true;
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
  if (FBudget.Spent(now)) return false;
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
  FBudget.Take(now);
  return true;
}

// ---------------------------------------------------------------------------
// TGameFinder

TGameFinder::TGameFinder(std::vector<uint32_t> targets, uint16_t port)
    : FTargets(std::move(targets)),
      FPort(port),
      FOwnShownAddress(LanAddresses().front()),
      FSocket("Recherche des parties impossible"_cp) {
  FSocket.Bind(0, false);
  FSocket.EnableBroadcast();
  FSocket.OnReadable([this] { TakeAnswers(); });
}

void TGameFinder::Query() {
  FFollowed.clear();
  const std::string query = EncodeQuery();
  for (uint32_t target : FTargets) FSocket.SendTo(target, FPort, query);
}

bool TGameFinder::ForgetSilent(uint32_t ms) {
  uint32_t now = GetTickCount();
  return std::erase_if(FGames, [&](const TFoundGame& game) { return now - game.LastSeen > ms; }) > 0;
}

void TGameFinder::TakeAnswers() {
  TDatagram datagram;
  for (int i = 0; i < MaxAnswersPerEvent && FSocket.Receive(datagram, MaxAnswerBytes); ++i)
    if (datagram.Size == datagram.Bytes.size()) Take(datagram);
}

void TGameFinder::FollowUp(const TDatagram& challenge, const std::string& cookie) {
  std::pair<uint32_t, uint16_t> sender{challenge.Address, challenge.Port};
  if (FFollowed.size() >= MaxFollowUpsPerRound ||
      std::find(FFollowed.begin(), FFollowed.end(), sender) != FFollowed.end())
    return;
  FFollowed.push_back(sender);
  FSocket.SendTo(challenge.Address, challenge.Port, EncodeQuery(cookie));
}

void TGameFinder::Take(const TDatagram& datagram) {
  if (std::optional<std::string> cookie = DecodeChallenge(datagram.Bytes)) {
    FollowUp(datagram, *cookie);
    return;
  }
  std::optional<TGameAnnounce> announce = DecodeAnswer(datagram.Bytes);
  if (!announce) return;
  // A game of this machine answers from loopback and from each of its
  // networks: it is listed once, by the address the others would use.
  uint32_t address = IsOwnAddress(datagram.Address) ? FOwnShownAddress : datagram.Address;
  auto known = std::find_if(FGames.begin(), FGames.end(), [&](const TFoundGame& game) {
    return game.Address == address && game.Announce.GamePort == announce->GamePort;
  });
  bool isNew = known == FGames.end();
  if (isNew) known = FGames.insert(FGames.end(), TFoundGame{address, {}, 0});
  known->Announce = std::move(*announce);
  known->LastSeen = GetTickCount();
  // The handler may query again or even forget games: hand it a copy.
  if (OnAnswer) OnAnswer(TFoundGame(*known), isNew);
}
