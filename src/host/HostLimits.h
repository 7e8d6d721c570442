// Limits that keep a host on a public address safe from strangers: how many
// game connections it takes in all and from one address, how many chat
// lines a player may send within a while, and how long a peer that vanished
// without closing (power cut, cable pulled) keeps its connection.  Every
// limit is off or generous unless the host's options set it, so a LAN party
// plays as without them.  User-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Answers (message 2) to a connection the host has no room for.
extern const std::string ServerFullText;
extern const std::string AddressFullText;
// The status column of a player whose chat lines are being dropped.
extern const std::string MutedText;

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
