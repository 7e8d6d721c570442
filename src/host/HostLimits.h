// Limits that keep a host on a public address safe from strangers: how many
// game connections it takes in all and from one address, how many chat
// lines a player may send within a while, and how long a peer that vanished
// without closing (power cut, cable pulled) keeps its connection.  Every
// limit is off or generous unless the host's options set it, so a LAN party
// plays as without them.  User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Answers (message 2) to a connection the host has no room for.
extern const std::string ServerFullText;
extern const std::string AddressFullText;
// The status column of a player whose chat lines are being dropped.
extern const std::string MutedText;
// Answer (message 2) to a connection from an address held back for
// guessing passwords.
extern const std::string TooManyGuessesText;
// Answer (message 2) to a login under the name of a player present.
extern const std::string NameTakenText;

// What one player may put in the messages others see: a longer name is
// cut, and so is a longer chat line (the client's input line holds fewer).
inline constexpr std::size_t MaxNameBytes = 24;
inline constexpr std::size_t MaxChatBytes = 255;
// Walk orders (and position reports) relayed per player and second; the
// rest are dropped.  No person clicks faster.
inline constexpr int MaxMovesPerSecond = 10;

// TCP keepalive of game connections: a peer silent for KeepAliveIdleSeconds
// is probed every KeepAliveIntervalSeconds; after KeepAliveProbes probes
// without an answer (two minutes in all) its connection fails and the
// player is announced as gone without warning.
inline constexpr int KeepAliveIdleSeconds = 60;
inline constexpr int KeepAliveIntervalSeconds = 10;
inline constexpr int KeepAliveProbes = 6;

// The chat flood limit of one player: of the lines it sends within any
// WindowMs, those past Limit are dropped.  Dropped lines count too, so a
// player who keeps flooding stays muted; the mute wears off by itself once
// the last WindowMs hold Limit lines or fewer.  Times are tick counts.  It
// keeps the times of the last Limit + 1 lines only.
class TChatGate {
 public:
  static constexpr uint32_t WindowMs = 10000;
  // The largest limit the options accept.
  static constexpr int MaxLimit = 1000;

  // limit 0: every line goes through.
  explicit TChatGate(int limit = 0) : FLimit(limit) {}
  // Counts a line sent at now; true when it may be relayed.
  bool Admit(uint32_t now);
  // Whether the last WindowMs before now hold more than Limit lines.
  bool Muted(uint32_t now) const;

 private:
  int FLimit;
  // A ring of the latest line times; FOldest indexes the oldest once full.
  std::vector<uint32_t> FTimes;
  std::size_t FOldest = 0;
};

// Counts events against a limit per sliding window; the events past it are
// refused and not counted, so a steady sender keeps getting Limit through
// each window.  Limit 0 lets everything through.  Keeps the times of the
// last Limit events only.
class TRateGate {
 public:
  TRateGate(int limit, uint32_t windowMs) : FLimit(static_cast<std::size_t>(limit)), FWindowMs(windowMs) {}
  // Counts an event at now when it fits; true when it did.
  bool Admit(uint32_t now);

 private:
  std::size_t FLimit;
  uint32_t FWindowMs;
  std::vector<uint32_t> FTimes;
  std::size_t FOldest = 0;
};

// Holds back the sources (an address, or an IPv6 /64) that keep guessing
// the password: after RefusalsAllowed refused logins within RefusalWindowMs,
// a source's new connections are turned away for FirstHoldMs; a source that
// goes on guessing once a hold ends, before LongestHoldMs has passed, is
// held twice as long as the last time, up to LongestHoldMs.  A login that
// passes is never delayed: only refusals count.  It keeps at most
// MaxSources sources; past that, those not held are forgotten first.
class TGuessGate {
 public:
  static constexpr int RefusalsAllowed = 5;
  static constexpr uint32_t RefusalWindowMs = 60 * 1000;
  static constexpr uint32_t FirstHoldMs = 60 * 1000;
  static constexpr uint32_t LongestHoldMs = 15 * 60 * 1000;
  static constexpr std::size_t MaxSources = 4096;

  // Counts a refused login of source at now; returns the length of the hold
  // it starts, 0 when it starts none.
  uint32_t Refused(const std::string& source, uint32_t now);
  // Whether source's connections are turned away at now.
  bool HeldBack(const std::string& source, uint32_t now) const;
  std::size_t Sources() const { return FSources.size(); }

 private:
  struct TSource {
    std::vector<uint32_t> Refusals;  // the latest, oldest first
    uint32_t HoldStart = 0;
    uint32_t HoldMs = 0;  // 0: never held, or forgiven
  };
  static bool Holding(const TSource& source, uint32_t now) {
    return source.HoldMs > 0 && now - source.HoldStart < source.HoldMs;
  }
  void MakeRoom(uint32_t now);

  std::unordered_map<std::string, TSource> FSources;
};

// Whether a equals b, in a time that depends on their lengths only, not on
// where they differ: a guesser learns nothing from how long a refusal takes.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// A player's name as others will see it: control bytes dropped, spaces
// trimmed at both ends, cut to MaxNameBytes; "guest" when nothing is left.
std::string CleanName(std::string_view name);
// Whether two names would read the same to the others (ASCII letters
// compared without case).
bool SameName(std::string_view a, std::string_view b);
