#include "RawClientSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "Pump.h"

std::string Packed(uint32_t value) {
  std::string bytes(1, static_cast<char>(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7) bytes.insert(bytes.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  return bytes;
}

std::string Frame(uint32_t id, const std::string& payload) {
  return Packed(id) + Packed(static_cast<uint32_t>(payload.size())) + payload;
}

namespace {
sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Decodes a packed integer at pos; false when the bytes end first.
bool Unpack(const std::string& bytes, std::size_t& pos, uint32_t& value) {
  value = 0;
  while (pos < bytes.size()) {
    auto byte = static_cast<unsigned char>(bytes[pos++]);
    value += byte & 0x7F;
    if (!(byte & 0x80)) return true;
    value <<= 7;
  }
  return false;
}
}  // namespace

TRawClient::TRawClient(uint16_t port, int receiveBufferBytes) {
  FHandle = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBufferBytes > 0)
    ::setsockopt(FHandle, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  sockaddr_in address = Loopback(port);
  if (::connect(FHandle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(FHandle);
    FHandle = -1;
    return;
  }
  ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) | O_NONBLOCK);
}

TRawClient::~TRawClient() { Close(); }

void TRawClient::Close() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
}

void TRawClient::Abort() {
  if (FHandle < 0) return;
  linger hard{1, 0};
  ::setsockopt(FHandle, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

void TRawClient::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (FHandle >= 0 && sent < bytes.size()) {
    ssize_t n = ::send(FHandle, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      PumpFor(1);
    } else {
      return;
    }
  }
}

void TRawClient::Poll() {
  char buffer[4096];
  while (FHandle >= 0 && !FPeerClosed) {
    ssize_t n = ::recv(FHandle, buffer, sizeof buffer, 0);
    if (n > 0) {
      Received.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      FPeerClosed = true;
    } else {
      return;
    }
  }
}

bool TRawClient::TakeFrame(TRawFrame& frame) {
  std::size_t pos = 0;
  uint32_t id = 0, length = 0;
  if (!Unpack(Received, pos, id) || !Unpack(Received, pos, length)) return false;
  if (Received.size() - pos < length) return false;
  frame.Id = id;
  frame.Payload = Received.substr(pos, length);
  Received.erase(0, pos + length);
  return true;
}

bool TRawClient::NextFrame(TRawFrame& frame, int timeoutMs) {
  return PumpUntil(
      [&] {
        Poll();
        return TakeFrame(frame);
      },
      timeoutMs);
}

std::vector<TRawFrame> TRawClient::FramesWithin(int ms) {
  std::vector<TRawFrame> frames;
  PumpUntil(
      [&] {
        Poll();
        for (TRawFrame frame; TakeFrame(frame);) frames.push_back(frame);
        return false;
      },
      ms);
  return frames;
}

bool TRawClient::WaitClosed(int timeoutMs) {
  return PumpUntil(
      [&] {
        Poll();
        return FPeerClosed;
      },
      timeoutMs);
}

bool TRawClient::WaitBytes(std::size_t count, int timeoutMs) {
  return PumpUntil(
      [&] {
        Poll();
        return Received.size() >= count || FPeerClosed;
      },
      timeoutMs) &&
         Received.size() >= count;
}

uint16_t FreePort() {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(0);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(probe);
  return ntohs(address.sin_port);
}
