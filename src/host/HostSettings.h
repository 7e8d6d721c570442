// What the host-a-game dialog hands to a running host: the game port, the
// connection password, whether the web server runs and whether the game
// answers the discovery queries of the local network (and what the
// headless host's options add: its limits).  The dialog fills
// it and keeps it alive as long as the host runs; the host and its player
// sessions read it when they need it (the password at every check).
#pragma once

#include <cstdint>
#include <string>

#include "host/HostLimits.h"
#include "net/Discovery.h"

struct THostSettings {
  static constexpr uint16_t DefaultPort = 2048;
  static constexpr uint16_t DefaultWebPort = 80;
  static constexpr uint16_t DefaultDiscoveryPort = DiscoveryUdpPort;

  uint16_t Port = DefaultPort;
  // Windows-1252 bytes; empty admits the players who give none.
  std::string Password;
  bool Web = false;
  uint16_t WebPort = DefaultWebPort;
  // Whether the host answers discovery queries, and on which UDP port (the
  // same on every host of a network; tests use a port of their own).
  bool Discovery = true;
  uint16_t DiscoveryPort = DefaultDiscoveryPort;
  // Whether the host asks the router to open its ports (UPnP or NAT-PMP);
  // exposing the game to the Internet is the host's choice, off unless
  // asked.
  bool Upnp = false;

  // Limits of the headless host's options (the host-a-game dialog has
  // none); 0 is no limit.  Game connections in all, logged in or not;
  // game connections from one address; chat lines a player may send within
  // any 10 seconds.
  int MaxPlayers = 0;
  int MaxPerAddress = 0;
  int ChatLimit = 0;
  // Walk orders and position reports relayed per player and second; no
  // option sets it: only the relay benchmark, which measures the relay
  // itself, lifts it (0).
  int MovesPerSecond = MaxMovesPerSecond;
};
