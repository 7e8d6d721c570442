// Ports for the hosts that tests start: free a moment ago on every address
// of both families, and outside the range the system hands out for
// outgoing connections and unbound datagram sockets, so that a test running
// beside this one cannot be given the port meanwhile.
#pragma once

#include <cstdint>

// A TCP port (game and web ports).
uint16_t FreeTcpPort();
// A UDP port (discovery ports).
uint16_t FreeUdpPort();
