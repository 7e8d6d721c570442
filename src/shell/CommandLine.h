// The command line of the one executable: the game itself (with the
// display-mode numbers and "debug"), the headless host, a direct join, the
// bot players, the search for games on the local network, --help and
// --version.  Parsing only; main acts on it.
#pragma once

#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/Sounds.h"
#include "client/FrameClock.h"
#include "host/HostSettings.h"
#include "net/Sockets.h"  // ParseHostAndPort, for --join

enum class TCommandKind { Game, Join, Serve, Bots, Find, Help, Version, Error };

struct TJoinRequest {
  std::string Host = "127.0.0.1";
  uint16_t Port = THostSettings::DefaultPort;
  std::string Name = "guest";
  std::string Password;
};

struct TFindRequest {
  // Where the queries go, host byte order; empty: the broadcast address of
  // every interface that is up.
  std::vector<uint32_t> Targets;
  int Seconds = 2;
  uint16_t DiscoveryPort = THostSettings::DefaultDiscoveryPort;
};

struct TCommandLine {
  TCommandKind Kind = TCommandKind::Game;
  // The arguments the game reads itself: display mode numbers, "debug".
  std::vector<std::string> GameArguments;
  THostSettings Serve;
  TJoinRequest Join;
  TFindRequest Find;
  // --mute and --volume, for the game and --join.
  TSoundSettings Sound;
  // --fps, for the game and --join: frames a second.
  int FrameRate = DefaultFrameRate;
  // Why the line was refused (Kind Error).
  std::string Error;
};

// Reads argv[1..argc-1].  Unknown options (words that start with "-" and
// are not negative numbers) are refused; any other word is left to the game,
// which reads only what it knows.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The arguments without --mute, --volume N and --fps N, which main has
// read: the client window reads its first argument as "debug" or not.
QStringList WithoutSoundOptions(const QStringList& arguments);

extern const char* const UsageText;
extern const char* const VersionText;
