// The bots' options and their command line (varozuvod --bots ...): what a
// swarm is asked to do, read and checked before anything connects.  A
// plain value, copied by the swarm that runs it.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "platform/WinSock.h"

struct TBotOptions {
  static constexpr uint16_t DefaultPort = 2048;

  std::string Host = "127.0.0.1";
  uint16_t Port = DefaultPort;
  int Count = 1;
  // Names are the prefix followed by 1, 2, ... Count.
  std::string NamePrefix = "bot";
  // Windows-1252 bytes; empty sends no 1.
  std::string Password;
  // Walk to random cells near the current one, reporting 9 and 8.
  bool Walk = false;
  // Chat lines a bot says per minute (0: none).  AsFastAsAcknowledged
  // keeps the window full: a line goes whenever one is acknowledged.
  double ChatPerMinute = 0;
  static constexpr double AsFastAsAcknowledged = std::numeric_limits<double>::infinity();
  // How long the bots play once all of them are in, in seconds.
  int Seconds = 10;
  // Share of the bots, in percent, that leave by dropping the connection
  // instead of saying goodbye with 7.
  int DropPercent = 0;
  // Most chat lines one bot keeps unacknowledged.  Due lines wait for
  // room, up to this many; lines due beyond that are not said (counted as
  // held back), so a slow host sets the pace instead of an unbounded queue.
  int Window = 8;
  // An address outside 127.0.0.0/8 the bots may join, network byte order;
  // AddressNone (the default) allows none.  Tests of a network made of
  // namespaces name it; nothing else should.
  uint32_t LabAddress = ws::AddressNone;
};

// Reads "--bots HOST[:PORT] [--count N] [--name PREFIX] [--password TEXT]
// [--walk] [--chat PER_MINUTE] [--seconds S] [--drop PERCENT] [--window N]
// [--lab ADDRESS]" (argv[1] is "--bots"; HOST may be an IPv6 address, in
// brackets with a port).  False with a reason in error on a mistake, and
// for a host with an address outside loopback (127.0.0.0/8, ::1) other
// than the --lab address: the swarm is a test tool for a host on this
// machine.
bool ParseBotOptions(int argc, char** argv, TBotOptions& options, std::string& error);

extern const char* const BotUsage;
