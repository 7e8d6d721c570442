// What the bots counted and what a swarm reports once it is done: each bot
// keeps its own counts, the swarm adds them up in its report, which prints
// itself for people and scripts.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bots/LatencyHistogram.h"

// Message ids 0..10; index 0 holds ids the protocol does not know.
inline constexpr int BotMessageSlots = 11;

struct TBotCounts {
  std::array<uint64_t, BotMessageSlots> Sent{};
  std::array<uint64_t, BotMessageSlots> Received{};
  uint64_t BytesSent = 0;
  uint64_t BytesReceived = 0;
  uint64_t ChatSent = 0;
  uint64_t ChatAcked = 0;
  uint64_t ChatHeldBack = 0;
  uint64_t ChatReceived = 0;
  // Lines missing or repeated in a sender's numbering, whoever the sender.
  uint64_t ChatGaps = 0;
  uint64_t ChatOutOfOrder = 0;
  // Deliveries of 5, 8 and 9 from other players while the swarm plays.
  uint64_t RelayedWhilePlaying = 0;
  uint64_t Walks = 0;

  void Add(const TBotCounts& other);
};

// What a swarm saw, once it is done.
struct TBotReport {
  int Bots = 0;
  int Joined = 0;
  int Refused = 0;       // answered with 2
  int Failed = 0;        // no connection, or no answer before the join deadline
  int ClosedByHost = 0;  // the host ended the connection while the bot played
  int Dropped = 0;       // left by dropping the connection
  int SaidGoodbye = 0;   // left with 7
  double JoinSeconds = 0;
  double PlaySeconds = 0;
  double DrainSeconds = 0;
  double LeaveSeconds = 0;
  TBotCounts Totals;
  // Chat lines of the swarm's own bots that some other bot of the swarm,
  // present all along, never received.
  uint64_t ChatLost = 0;
  // Departures of the swarm's bots and how many of them each bot still
  // present heard of, with the flag they should carry.
  uint64_t DeparturesExpected = 0;
  uint64_t DeparturesSeen = 0;
  uint64_t DepartureWrongFlag = 0;
  TLatencyHistogram Latency;
  std::vector<std::string> Errors;  // the first few error texts, UTF-8

  double RelayRate() const { return PlaySeconds > 0 ? Totals.RelayedWhilePlaying / PlaySeconds : 0; }
  // Every bot joined, no line lost, every departure heard with its flag.
  bool Sound() const;
  // The figures of the summary line, by the names scripts read them by.
  std::vector<std::pair<const char*, std::string>> SummaryFields() const;
  // A readable account followed by one "summary:" line of key=value pairs.
  void Print(std::FILE* out) const;
};
