#include "RawHostSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "Pump.h"

std::string Packed(uint32_t value) {
  std::string groups(1, char(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7) groups.insert(groups.begin(), char(0x80 | (value & 0x7F)));
  return groups;
}

std::string Frame(uint32_t id, const std::string& payload) {
  return Packed(id) + Packed(uint32_t(payload.size())) + payload;
}

namespace {
// Decodes a packed integer from text at pos; false when the bytes end first.
bool Unpack(const std::string& text, std::size_t& pos, uint32_t& value) {
  value = 0;
  for (std::size_t at = pos; at < text.size(); ++at) {
    auto byte = static_cast<unsigned char>(text[at]);
    value = (value << 7) | (byte & 0x7F);
    if (!(byte & 0x80)) {
      pos = at + 1;
      return true;
    }
  }
  return false;
}
}  // namespace

TRawHost::TRawHost() {
  FListening = ::socket(AF_INET, SOCK_STREAM, 0);
  int yes = 1;
  ::setsockopt(FListening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = Address();
  address.sin_port = 0;
  ::bind(FListening, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(FListening, 4);
  socklen_t length = sizeof address;
  ::getsockname(FListening, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = ntohs(address.sin_port);
  ::fcntl(FListening, F_SETFL, O_NONBLOCK);
}

TRawHost::~TRawHost() {
  if (FConnection >= 0) ::close(FConnection);
  StopListening();
}

uint32_t TRawHost::Address() { return htonl(INADDR_LOOPBACK); }

void TRawHost::StopListening() {
  if (FListening >= 0) ::close(FListening);
  FListening = -1;
}

bool TRawHost::Accept(int timeoutMs) {
  return PumpUntil(
      [this] {
        if (FConnection < 0 && FListening >= 0) FConnection = ::accept(FListening, nullptr, nullptr);
        if (FConnection >= 0) ::fcntl(FConnection, F_SETFL, O_NONBLOCK);
        return FConnection >= 0;
      },
      timeoutMs);
}

void TRawHost::Send(const std::string& bytes) {
  if (FConnection < 0) return;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(FConnection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0)
      sent += std::size_t(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
      return;
  }
}

void TRawHost::CloseConnection() {
  if (FConnection >= 0) ::close(FConnection);
  FConnection = -1;
}

void TRawHost::Abort() {
  if (FConnection < 0) return;
  linger reset{1, 0};
  ::setsockopt(FConnection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  CloseConnection();
}

void TRawHost::ShutdownSending() {
  if (FConnection >= 0) ::shutdown(FConnection, SHUT_WR);
}

void TRawHost::Poll() {
  if (FConnection < 0 || FPeerClosed) return;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::recv(FConnection, buffer, sizeof buffer, 0);
    if (n > 0) {
      Received.append(buffer, std::size_t(n));
      continue;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) FPeerClosed = true;
    return;
  }
}

bool TRawHost::TakeFrame(TRawFrame& frame) {
  std::size_t pos = 0;
  uint32_t id = 0, length = 0;
  if (!Unpack(Received, pos, id) || !Unpack(Received, pos, length)) return false;
  if (Received.size() - pos < length) return false;
  frame.Id = id;
  frame.Payload = Received.substr(pos, length);
  Received.erase(0, pos + length);
  return true;
}

bool TRawHost::NextFrame(TRawFrame& frame, int timeoutMs) {
  return PumpUntil(
      [&] {
        Poll();
        return TakeFrame(frame);
      },
      timeoutMs);
}

std::vector<TRawFrame> TRawHost::FramesWithin(int ms) {
  std::vector<TRawFrame> frames;
  PumpUntil(
      [&] {
        Poll();
        TRawFrame frame;
        while (TakeFrame(frame)) frames.push_back(frame);
        return false;
      },
      ms);
  return frames;
}

bool TRawHost::WaitClosed(int timeoutMs) {
  return PumpUntil(
      [this] {
        Poll();
        return FPeerClosed;
      },
      timeoutMs);
}

bool TRawHost::WaitBytes(std::size_t count, int timeoutMs) {
  return PumpUntil(
      [&] {
        Poll();
        return Received.size() >= count;
      },
      timeoutMs);
}
