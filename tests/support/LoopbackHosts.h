// Loopback peers that the connect tests need besides an ordinary host: the
// IPv6 loopback's presence (the IPv6 tests skip, saying why, without it)
// and a silent address, whose connects neither succeed nor fail.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

inline bool HasIPv6Loopback() {
  int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  sockaddr_in6 loopback{};
  loopback.sin6_family = AF_INET6;
  loopback.sin6_addr = in6addr_loopback;
  bool bound = ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof(loopback)) == 0;
  ::close(probe);
  return bound;
}

inline constexpr const char* NoIPv6Loopback = "no IPv6 loopback (::1) on this machine";

// A plain listening socket on 127.0.0.1 only (not on ::1, unlike the
// game's servers), on an ephemeral port: [::1] at that port refuses.
class TIPv4Listener {
 public:
  TIPv4Listener() {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    ::bind(Fd, reinterpret_cast<sockaddr*>(&at), size);
    ::listen(Fd, 4);
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&at), &size);
    Port = ntohs(at.sin_port);
  }
  ~TIPv4Listener() { ::close(Fd); }
  TIPv4Listener(const TIPv4Listener&) = delete;
  TIPv4Listener& operator=(const TIPv4Listener&) = delete;
  // Whether a connection waits to be accepted.
  bool HasWaiting() const {
    pollfd wait{Fd, POLLIN, 0};
    return ::poll(&wait, 1, 0) == 1;
  }

  int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  uint16_t Port = 0;
};

// A listening socket on address:port (IPv4, network order; port in host
// order) whose queue of waiting connections is full: one connection fills
// it (backlog 0) and is never accepted, so the system drops every further
// connect's SYN and the connect stays under way until its own time-out,
// as with a host behind a firewall that drops.  Ok() tells whether it
// could be set up.
class TSilentHost {
 public:
  TSilentHost(uint32_t address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = address;
    at.sin_port = htons(port);
    FListening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(FListening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(FListening, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(FListening, 0) != 0)
      return;
    FFiller = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FOk = ::connect(FFiller, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
  }
  ~TSilentHost() {
    if (FFiller >= 0) ::close(FFiller);
    if (FListening >= 0) ::close(FListening);
  }
  TSilentHost(const TSilentHost&) = delete;
  TSilentHost& operator=(const TSilentHost&) = delete;
  bool Ok() const { return FOk; }

 private:
  int FListening = -1;
  int FFiller = -1;
  bool FOk = false;
};
