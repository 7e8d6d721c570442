#include "support/RawPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Pump.h"

void TRawConnection::Adopt(int handle) {
  Close();
  FHandle = handle;
  if (FHandle >= 0) ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) | O_NONBLOCK);
}

void TRawConnection::Close() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
}

void TRawConnection::ShutdownSending() {
  if (FHandle >= 0) ::shutdown(FHandle, SHUT_WR);
}

void TRawConnection::Reset() {
  linger hard{1, 0};
  if (FHandle >= 0) ::setsockopt(FHandle, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

void TRawConnection::Send(const std::string& bytes) {
  for (std::size_t sent = 0; FHandle >= 0 && sent < bytes.size();) {
    ssize_t n = ::send(FHandle, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0)
      sent += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EAGAIN)
      PumpFor(1);  // the peer may live in this thread: let it read
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return;
  }
}

void TRawConnection::Poll() {
  char buffer[4096];
  while (FHandle >= 0 && !PeerClosed) {
    ssize_t n = ::recv(FHandle, buffer, sizeof buffer, 0);
    if (n > 0)
      Received.append(buffer, static_cast<std::size_t>(n));
    else if (n < 0 && (errno == EAGAIN || errno == EINTR))
      return;
    else
      PeerClosed = true;
  }
}

bool TRawConnection::NextFrame(TRawFrame& frame, int timeoutMs) {
  return PumpUntil([&] { return Poll(), TakeFrame(Received, frame); }, timeoutMs);
}

bool TRawConnection::WaitBytes(std::size_t count, int timeoutMs) {
  return PumpUntil([&] { return Poll(), Received.size() >= count; }, timeoutMs);
}

bool TRawConnection::WaitClosed(int timeoutMs) {
  return PumpUntil([&] { return Poll(), PeerClosed; }, timeoutMs);
}

std::vector<TRawFrame> TRawConnection::FramesWithin(int ms) {
  std::vector<TRawFrame> frames;
  // Read all the while, so that a sender filling the socket buffer is not
  // held up by this wait.
  PumpUntil(
      [&] {
        Poll();
        for (TRawFrame frame; TakeFrame(Received, frame);) frames.push_back(frame);
        return false;
      },
      ms);
  return frames;
}

namespace {
// An IPv6 connection from one address to another, both as text; -1 when
// it could not be made.
int ConnectIPv6(uint16_t port, const char* from, const char* to) {
  int handle = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 source{}, target{};
  source.sin6_family = target.sin6_family = AF_INET6;
  target.sin6_port = htons(port);
  if (::inet_pton(AF_INET6, from, &source.sin6_addr) != 1 ||
      ::inet_pton(AF_INET6, to, &target.sin6_addr) != 1 ||
      ::bind(handle, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      ::connect(handle, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    if (handle >= 0) ::close(handle);
    return -1;
  }
  return handle;
}
}  // namespace

TRawClient::TRawClient(uint16_t port, int receiveBufferBytes, const char* from, const char* to) {
  if (from && std::strchr(from, ':')) {
    Adopt(ConnectIPv6(port, from, to ? to : "::1"));
    return;
  }
  int handle = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBufferBytes > 0)
    ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  bool placed = true;
  if (from) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    // Loopback sources only: tests never speak outside 127.0.0.0/8.
    placed = ::inet_pton(AF_INET, from, &source.sin_addr) == 1 &&
             (ntohl(source.sin_addr.s_addr) >> 24) == 127 &&
             ::bind(handle, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (placed && ::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    Adopt(handle);
  else if (handle >= 0)
    ::close(handle);
}

TRawHost::TRawHost() {
  FListening = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  ::setsockopt(FListening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = Address();
  ::bind(FListening, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(FListening, 4);
  socklen_t length = sizeof address;
  ::getsockname(FListening, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.sin_port);
  ::fcntl(FListening, F_SETFL, O_NONBLOCK);
}

TRawHost::~TRawHost() { StopListening(); }

uint32_t TRawHost::Address() { return htonl(INADDR_LOOPBACK); }

void TRawHost::StopListening() {
  if (FListening >= 0) ::close(FListening);
  FListening = -1;
}

bool TRawHost::Accept(int timeoutMs) {
  return PumpUntil(
      [this] {
        if (!Connected() && FListening >= 0) Adopt(::accept(FListening, nullptr, nullptr));
        return Connected();
      },
      timeoutMs);
}
