// The command line of the one executable: the game itself (with the
// display-mode numbers and "debug"), the headless host, a direct join, the
// bot players, --help and --version.  Parsing only; main acts on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/HostSettings.h"

enum class TCommandKind { Game, Join, Serve, Bots, Help, Version, Error };

struct TJoinRequest {
  std::string Host = "127.0.0.1";
  uint16_t Port = THostSettings::DefaultPort;
  std::string Name = "guest";
  std::string Password;
};

struct TCommandLine {
  TCommandKind Kind = TCommandKind::Game;
  // The arguments the game reads itself: display mode numbers, "debug".
  std::vector<std::string> GameArguments;
  THostSettings Serve;
  TJoinRequest Join;
  // Why the line was refused (Kind Error).
  std::string Error;
};

// Reads argv[1..argc-1].  Unknown options (words that start with "-" and
// are not negative numbers) are refused; any other word is left to the game,
// which reads only what it knows.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// "HOST" or "HOST:PORT" into request; false when the port is not 0..65535.
bool ParseHostAndPort(const std::string& text, std::string& host, uint16_t& port);

extern const char* const UsageText;
extern const char* const VersionText;
