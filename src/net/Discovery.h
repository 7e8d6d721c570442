// Discovery of the games on the local network: the two datagrams a finder
// and a host exchange on the discovery port, the host's limit on how often
// it answers one sender, and the finder that sends queries and gathers the
// games that answer.  Values only, apart from the finder, which owns its
// UDP socket.  User-interface thread only.
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
// The layout of both datagrams; an answer carries the host's.
inline constexpr int32_t DiscoveryVersion = 1;
// A longer query is ignored whole, in bytes.
inline constexpr std::size_t MaxQueryBytes = 512;
// An answer is never longer than its query plus this, in bytes: a host
// cannot be used to multiply the traffic sent to a forged sender address.
inline constexpr std::size_t MaxAnswerGrowthBytes = 64;
// The host name an answer carries, in Windows-1252 bytes at most.
inline constexpr std::size_t MaxHostNameBytes = 63;
// The longest answer: magic, version, port, players, password, name.
inline constexpr std::size_t MaxAnswerBytes = 4 + 1 + 3 + 5 + 1 + MaxHostNameBytes;
// The size of the finder's queries, padding included, in bytes: enough for
// the longest answer to come back whole.
inline constexpr std::size_t FinderQueryBytes = 16;
static_assert(FinderQueryBytes + MaxAnswerGrowthBytes >= MaxAnswerBytes);

// What a host tells about its game.
struct TGameAnnounce {
  uint16_t GamePort = 0;
  int32_t Players = 0;
  bool Password = false;
  // Windows-1252.
  std::string HostName;
};

// Writing
// A query of the finder's size.
std::string EncodeQuery(std::size_t size = FinderQueryBytes);
// The answer to a query of querySize bytes; the host name is cut as far as
// needed to keep the answer within querySize + MaxAnswerGrowthBytes and
// MaxHostNameBytes.  Empty when even the name cut to nothing does not fit.
std::string EncodeAnswer(const TGameAnnounce& announce, std::size_t querySize);

// Reading
// Whether a datagram of size bytes, bytes being what was read of it, is a
// query a host answers.
bool IsQuery(const std::string& bytes, std::size_t size);
// The announce an answer carries; nothing when it is malformed.
std::optional<TGameAnnounce> DecodeAnswer(const std::string& bytes);

// How often a host answers one sender address: at most AnswersPerWindow
// answers within any WindowMs.  A sender that asks no more often than that
// is always answered; the others are answered again once their window has
// room.  Up to MaxSenders addresses are remembered; when that many have all
// been answered within the window, a new address is not answered until one
// of them falls silent, so the memory stays bounded and no address ever
// gets more than its share.
class TAnswerLimiter {
 public:
  static constexpr int AnswersPerWindow = 10;
  static constexpr uint32_t WindowMs = 1000;
  static constexpr std::size_t MaxSenders = 1024;

  // Whether an answer to address may go now (tick now); counts it if so.
  bool Allow(uint32_t address, uint32_t now);

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
};

// A game that answered, known by the address the answer came from and its
// game port.
struct TFoundGame {
  // Host byte order.
  uint32_t Address = 0;
  TGameAnnounce Announce;
  // Tick of its last answer.
  uint32_t LastSeen = 0;
};

// Sends queries to a list of addresses and gathers the answers, in the
// order the games were first found.
class TGameFinder {
 public:
  // targets: where Query sends, host byte order (broadcast addresses
  // usually).  Opens the socket at once and raises when it cannot.
  explicit TGameFinder(std::vector<uint32_t> targets, uint16_t port = DiscoveryUdpPort);

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

  std::vector<uint32_t> FTargets;
  uint16_t FPort;
  TDatagramSocket FSocket;
  std::vector<TFoundGame> FGames;
};
