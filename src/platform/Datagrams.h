// UDP sockets, for the discovery of games on the local network only (the
// game itself speaks TCP through WinSock.h).  A TDatagramSocket owns its
// descriptor and its readiness notifier; addresses and ports are given in
// host byte order here, unlike the WinSock wrappers.  Failures raise an
// Exception whose text ends with the WinSock number, as socket errors do
// elsewhere.  User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

// One datagram as it arrived.
struct TDatagram {
  // At most the reader's limit of bytes; Size is the datagram's real length,
  // larger than Bytes.size() when the datagram was cut.
  std::string Bytes;
  std::size_t Size = 0;
  // The sender, host byte order.
  uint32_t Address = 0;
  uint16_t Port = 0;
};

class TDatagramSocket {
 public:
  // An IPv4 UDP socket, non-blocking; raises on failure with message first.
  explicit TDatagramSocket(const std::string& message);
  ~TDatagramSocket();
  TDatagramSocket(const TDatagramSocket&) = delete;
  TDatagramSocket& operator=(const TDatagramSocket&) = delete;

  // Binds every local address on port (0: any free port).  With shared,
  // other sockets may bind the same port (SO_REUSEADDR and SO_REUSEPORT):
  // each of them receives every broadcast that reaches the port, while a
  // datagram sent to one address reaches one of them.
  void Bind(uint16_t port, bool shared);
  // Allows sending to broadcast addresses.
  void EnableBroadcast();
  // Sends one datagram; false when it could not leave (no route, buffer
  // full): a lost datagram is not an error for the callers, which repeat.
  bool SendTo(uint32_t address, uint16_t port, const std::string& bytes);
  // Takes the next waiting datagram, keeping at most maxBytes of it; false
  // when none waits.
  bool Receive(TDatagram& datagram, std::size_t maxBytes);
  // The bound port (host byte order), 0 when unbound.
  uint16_t Port() const;

  // Called on the user-interface thread, through the error guard, while
  // datagrams wait; it should take them with Receive.
  void OnReadable(std::function<void()> handler);

 private:
  [[noreturn]] void Raise() const;

  std::string FMessage;
  int FHandle = -1;
  std::unique_ptr<QSocketNotifier> FNotifier;
};

// The broadcast address of every IPv4 interface that is up, host byte
// order, each once: the interface's own broadcast address, or for the
// loopback interface the last address of its network (127.255.255.255).
std::vector<uint32_t> InterfaceBroadcasts();

// The IPv4 addresses of the interfaces that are up, host byte order, each
// once, in the system's order: the ones other players can reach (loopback
// left out), or the loopback ones when the machine has nothing else.
std::vector<uint32_t> LanAddresses();
// Whether address (host byte order) is one of this machine's own, loopback
// included.
bool IsOwnAddress(uint32_t address);

// Dotted text of a host-order address.
std::string AddressText(uint32_t address);
