// What the host-a-game dialog hands to a running host: the game port, the
// connection password and whether the web server runs.  The dialog fills
// it and keeps it alive as long as the host runs; the host and its player
// sessions read it when they need it (the password at every check).
#pragma once

#include <cstdint>
#include <string>

struct THostSettings {
  static constexpr uint16_t DefaultPort = 2048;
  static constexpr uint16_t DefaultWebPort = 80;

  uint16_t Port = DefaultPort;
  // Windows-1252 bytes; empty admits the players who give none.
  std::string Password;
  bool Web = false;
  uint16_t WebPort = DefaultWebPort;
};
