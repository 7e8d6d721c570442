// Discovery of the games on the local network: the datagrams a finder and
// a host exchange on the discovery port, the host's limits on how often it
// answers one sender and everyone, the cookies that prove a finder's
// address, and the finder that sends queries and gathers the games that
// answer.  Values only, apart from the finder, which owns its UDP socket.
// User-interface thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Datagrams.h"

// The UDP port every host listens on for queries, whatever its game port.
inline constexpr uint16_t DiscoveryUdpPort = 2048;
// The layout of the datagrams; answers and challenges carry the host's.
// Version 1 queries were 16 bytes and had no cookie; answers of version 1
// hosts are still read.
inline constexpr int32_t DiscoveryVersion = 2;
// A longer query is ignored whole, in bytes.
inline constexpr std::size_t MaxQueryBytes = 512;
// The host name an answer carries, in Windows-1252 bytes at most.
inline constexpr std::size_t MaxHostNameBytes = 63;
// The longest answer: magic, version, port, players, password, name.
inline constexpr std::size_t MaxAnswerBytes = 4 + 1 + 3 + 5 + 1 + MaxHostNameBytes;
// A shorter query is not answered, in bytes: an answer is never longer
// than its query, so a host cannot be used to multiply the traffic sent to
// a forged sender address.  The finder pads its queries to this size.
inline constexpr std::size_t MinQueryBytes = MaxAnswerBytes;
// The proof of a sender's address a host hands out, in bytes.
inline constexpr std::size_t CookieBytes = 8;
// A challenge: magic, version, cookie.
inline constexpr std::size_t ChallengeBytes = 4 + 1 + CookieBytes;
static_assert(ChallengeBytes < MinQueryBytes);

// What a host tells about its game.
struct TGameAnnounce {
  uint16_t GamePort = 0;
  int32_t Players = 0;
  bool Password = false;
  // Windows-1252.
  std::string HostName;
};

// Writing
// A query of size bytes (padded with zeros), with cookie (CookieBytes, or
// empty for none).
std::string EncodeQuery(const std::string& cookie = {}, std::size_t size = MinQueryBytes);
// The answer to a query of querySize bytes; the host name is cut as far as
// needed to keep the answer within querySize and MaxHostNameBytes.  Empty
// when even the name cut to nothing does not fit.
std::string EncodeAnswer(const TGameAnnounce& announce, std::size_t querySize);
std::string EncodeChallenge(const std::string& cookie);

// Reading
// Whether a datagram of size bytes, bytes being what was read of it, is a
// query a host answers; its cookie (empty for none) goes to cookie.
bool IsQuery(const std::string& bytes, std::size_t size, std::string* cookie = nullptr);
// The announce an answer carries; nothing when it is malformed.
std::optional<TGameAnnounce> DecodeAnswer(const std::string& bytes);
// The cookie a challenge carries; nothing when it is malformed.
std::optional<std::string> DecodeChallenge(const std::string& bytes);

// The cookies a host hands out in challenges: a keyed digest of the
// sender's address and port and of the current period, so that only a
// sender that receives at its address can show one.  Nothing is stored per
// sender; a cookie is good for the period it was made in and the next.
class TQueryCookies {
 public:
  static constexpr uint32_t PeriodMs = 10000;

  // A random key of its own.
  TQueryCookies();
  std::string Issue(uint32_t address, uint16_t port, uint32_t now) const;
  bool Valid(const std::string& cookie, uint32_t address, uint16_t port, uint32_t now) const;

 private:
  std::string Make(uint32_t address, uint16_t port, uint32_t period) const;

  std::string FKey;
};

// How many datagrams a host sends to everyone within any WindowMs: a ring
// of the latest times.  Whoever the senders claim to be, the host cannot
// be made to send more than Limit a second.
class TGlobalBudget {
 public:
  static constexpr uint32_t WindowMs = 1000;

  explicit TGlobalBudget(int limit) : FTimes(static_cast<std::size_t>(limit)) {}
  bool Spent(uint32_t now) const;
  // Whether one more may go now; counts it if so.
  bool Take(uint32_t now);

 private:
  std::vector<uint32_t> FTimes;
  std::size_t FNext = 0;
  std::size_t FCount = 0;
};

// How often a host answers one sender address: at most AnswersPerWindow
// answers within any WindowMs, and at most the global budget to all
// senders together.  A sender that asks no more often than that is always
// answered while the budget lasts; the others are answered again once
// their window has room.  Up to MaxSenders addresses are remembered; when
// that many have all been answered within the window, a new address is not
// answered until one of them falls silent, so the memory stays bounded and
// no address ever gets more than its share.
class TAnswerLimiter {
 public:
  static constexpr int AnswersPerWindow = 10;
  static constexpr uint32_t WindowMs = 1000;
  static constexpr std::size_t MaxSenders = 1024;
  static constexpr int DefaultBudget = 100;

  explicit TAnswerLimiter(int budget = DefaultBudget) : FBudget(budget) {}
  // Whether an answer to address may go now (tick now); counts it if so.
  bool Allow(uint32_t address, uint32_t now);
  // Whether the answers to everyone have used up the budget at now.
  bool BudgetSpent(uint32_t now) const { return FBudget.Spent(now); }

 private:
  struct TSender {
    // Times of the last answers, oldest at Next once the ring is full.
    std::array<uint32_t, AnswersPerWindow> Times{};
    int Count = 0;
    int Next = 0;
    bool Silent(uint32_t now) const;
  };
  void ForgetSilent(uint32_t now);

  std::unordered_map<uint32_t, TSender> FSenders;
  TGlobalBudget FBudget;
};

// A game that answered, known by the address the answer came from (a game
// of this machine by its first LAN address, however it answered) and its
// game port.
struct TFoundGame {
  // Host byte order.
  uint32_t Address = 0;
  TGameAnnounce Announce;
  // Tick of its last answer.
  uint32_t LastSeen = 0;
};

// Sends queries to a list of addresses and gathers the answers, in the
// order the games were first found.  A host that answers with a challenge
// is asked again, once a round, with the cookie it gave.
class TGameFinder {
 public:
  // targets: where Query sends, host byte order (broadcast addresses
  // usually).  Opens the socket at once and raises when it cannot.
  explicit TGameFinder(std::vector<uint32_t> targets, uint16_t port = DiscoveryUdpPort);

  // At most this many challenges are followed in one round, so that forged
  // challenges cannot make the finder send without end.
  static constexpr std::size_t MaxFollowUpsPerRound = 64;

  // Sends one query to every target.
  void Query();
  // Drops the games that have not answered within ms; true when one went.
  bool ForgetSilent(uint32_t ms);

  const std::vector<TFoundGame>& Games() const { return FGames; }
  // Called for each valid answer: with the game as it now stands, and
  // whether it is new to the list.
  std::function<void(const TFoundGame& game, bool isNew)> OnAnswer;

 private:
  void TakeAnswers();
  void Take(const TDatagram& datagram);
  void FollowUp(const TDatagram& challenge, const std::string& cookie);

  std::vector<uint32_t> FTargets;
  uint16_t FPort;
  uint32_t FOwnShownAddress;
  // The senders of the challenges followed this round: address, port.
  std::vector<std::pair<uint32_t, uint16_t>> FFollowed;
  TDatagramSocket FSocket;
  std::vector<TFoundGame> FGames;
};
