#include "RawClientSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "Pump.h"

std::string Packed(uint32_t value) {
  std::string bytes(1, static_cast<char>(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7)
    bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  return bytes;
}

std::string Frame(uint32_t id, const std::string& payload) {
  return Packed(id) + Packed(static_cast<uint32_t>(payload.size())) + payload;
}

namespace {
bool Unpack(const std::string& bytes, std::size_t& pos, uint32_t& value) {
  for (value = 0; pos < bytes.size(); value <<= 7) {
    auto byte = static_cast<unsigned char>(bytes[pos++]);
    value += byte & 0x7F;
    if (!(byte & 0x80)) return true;
  }
  return false;
}
}  // namespace

namespace {
// An IPv6 connection from one address to another, both as text.
int ConnectIPv6(uint16_t port, const char* from, const char* to) {
  int handle = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 source{}, target{};
  source.sin6_family = target.sin6_family = AF_INET6;
  target.sin6_port = htons(port);
  if (::inet_pton(AF_INET6, from, &source.sin6_addr) != 1 ||
      ::inet_pton(AF_INET6, to, &target.sin6_addr) != 1 ||
      ::bind(handle, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      ::connect(handle, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    ::close(handle);
    return -1;
  }
  return handle;
}
}  // namespace

TRawClient::TRawClient(uint16_t port, int receiveBufferBytes, const char* from, const char* to) {
  if (from && std::strchr(from, ':')) {
    FHandle = ConnectIPv6(port, from, to ? to : "::1");
    if (FHandle >= 0) ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) | O_NONBLOCK);
    return;
  }
  FHandle = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBufferBytes > 0)
    ::setsockopt(FHandle, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  if (from) {
    sockaddr_in source{};
    source.sin_family = AF_INET;
    // Loopback sources only: tests never speak outside 127.0.0.0/8.
    if (::inet_pton(AF_INET, from, &source.sin_addr) != 1 || (ntohl(source.sin_addr.s_addr) >> 24) != 127 ||
        ::bind(FHandle, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0)
      Close();
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(FHandle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
  if (FHandle >= 0) ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) | O_NONBLOCK);
}

void TRawClient::Close() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
}

void TRawClient::ShutdownSending() {
  if (FHandle >= 0) ::shutdown(FHandle, SHUT_WR);
}

void TRawClient::Reset() {
  linger hard{1, 0};
  if (FHandle >= 0) ::setsockopt(FHandle, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

void TRawClient::Send(const std::string& bytes) {
  for (std::size_t sent = 0; FHandle >= 0 && sent < bytes.size();) {
    ssize_t n = ::send(FHandle, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0)
      sent += static_cast<std::size_t>(n);
    else if (n < 0 && errno == EAGAIN)
      PumpFor(1);
    else
      return;
  }
}

void TRawClient::Poll() {
  char buffer[4096];
  while (FHandle >= 0 && !PeerClosed) {
    ssize_t n = ::recv(FHandle, buffer, sizeof buffer, 0);
    if (n > 0)
      Received.append(buffer, static_cast<std::size_t>(n));
    else if (n < 0 && errno == EAGAIN)
      return;
    else
      PeerClosed = true;
  }
}

bool TRawClient::TakeFrame(TRawFrame& frame) {
  std::size_t pos = 0;
  uint32_t length = 0;
  if (!Unpack(Received, pos, frame.Id) || !Unpack(Received, pos, length) || Received.size() - pos < length)
    return false;
  frame.Payload = Received.substr(pos, length);
  Received.erase(0, pos + length);
  return true;
}

bool TRawClient::NextFrame(TRawFrame& frame, int timeoutMs) {
  return PumpUntil([&] { return Poll(), TakeFrame(frame); }, timeoutMs);
}

bool TRawClient::WaitBytes(std::size_t count, int timeoutMs) {
  return PumpUntil([&] { return Poll(), Received.size() >= count; }, timeoutMs);
}

bool TRawClient::WaitClosed(int timeoutMs) {
  return PumpUntil([&] { return Poll(), PeerClosed; }, timeoutMs);
}

std::vector<TRawFrame> TRawClient::FramesWithin(int ms) {
  std::vector<TRawFrame> frames;
  PumpFor(ms);
  Poll();
  for (TRawFrame frame; TakeFrame(frame);) frames.push_back(frame);
  return frames;
}
