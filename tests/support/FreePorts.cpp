#include "support/FreePorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace {
// Below Linux's default ephemeral range (32768 and up): a port that bind(0)
// gave back can be handed to another program's socket before the test uses
// it; one picked here cannot.
constexpr int FirstTestPort = 20000;
constexpr int LastTestPort = 32767;

bool CanBind(int family, int type, uint16_t port) {
  int probe = ::socket(family, type, 0);
  // No IPv6 on this machine: nothing can hold the port there.
  if (probe < 0) return family == AF_INET6;
  bool free = false;
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  } else {
    int only = 1;
    ::setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    free =
        ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 || errno == EADDRNOTAVAIL;
  }
  ::close(probe);
  return free;
}

uint16_t FreePort(int type) {
  static std::mt19937 pick(std::random_device{}());
  std::uniform_int_distribution<int> ports(FirstTestPort, LastTestPort);
  for (;;) {
    auto port = static_cast<uint16_t>(ports(pick));
    if (CanBind(AF_INET, type, port) && CanBind(AF_INET6, type, port)) return port;
  }
}
}  // namespace

uint16_t FreeTcpPort() { return FreePort(SOCK_STREAM); }
uint16_t FreeUdpPort() { return FreePort(SOCK_DGRAM); }
