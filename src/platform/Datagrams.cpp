#include "platform/Datagrams.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#include "platform/Errors.h"
#include "platform/WinSock.h"

namespace {

sockaddr_in ToPosix(uint32_t address, uint16_t port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  out.sin_addr.s_addr = htonl(address);
  return out;
}

// Runs a system call again while a signal interrupts it.
template <class Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

}  // namespace

TDatagramSocket::TDatagramSocket(const std::string& message) : FMessage(message) {
  FHandle = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (FHandle < 0) Raise();
}

TDatagramSocket::~TDatagramSocket() {
  FNotifier.reset();
  if (FHandle >= 0) ::close(FHandle);
}

void TDatagramSocket::Raise() const {
  throw Exception(FMessage + " (WINSOCK error #" + std::to_string(ws::TranslateErrno(errno)) + ")");
}

void TDatagramSocket::Bind(uint16_t port, bool shared) {
  if (shared) {
    int on = 1;
    if (::setsockopt(FHandle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) < 0 ||
        ::setsockopt(FHandle, SOL_SOCKET, SO_REUSEPORT, &on, sizeof(on)) < 0)
      Raise();
  }
  sockaddr_in address = ToPosix(INADDR_ANY, port);
  if (::bind(FHandle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0) Raise();
}

void TDatagramSocket::EnableBroadcast() {
  int on = 1;
  if (::setsockopt(FHandle, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0) Raise();
}

bool TDatagramSocket::SendTo(uint32_t address, uint16_t port, const std::string& bytes) {
  sockaddr_in target = ToPosix(address, port);
  ssize_t sent = Retry([&] {
    return ::sendto(FHandle, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&target), sizeof(target));
  });
  return sent == static_cast<ssize_t>(bytes.size());
}

bool TDatagramSocket::Receive(TDatagram& datagram, std::size_t maxBytes) {
  datagram.Bytes.resize(maxBytes);
  sockaddr_in sender{};
  socklen_t size = sizeof(sender);
  // MSG_TRUNC makes Linux return the datagram's real length, so a caller
  // can tell a datagram that did not fit from one that just fits.
  ssize_t got = Retry([&] {
    return ::recvfrom(FHandle, datagram.Bytes.data(), maxBytes, MSG_TRUNC,
                      reinterpret_cast<sockaddr*>(&sender), &size);
  });
  if (got < 0) {
    datagram.Bytes.clear();
    return false;
  }
  datagram.Size = static_cast<std::size_t>(got);
  datagram.Bytes.resize(std::min(datagram.Size, maxBytes));
  datagram.Address = ntohl(sender.sin_addr.s_addr);
  datagram.Port = ntohs(sender.sin_port);
  return true;
}

uint16_t TDatagramSocket::Port() const {
  sockaddr_in address{};
  socklen_t size = sizeof(address);
  if (::getsockname(FHandle, reinterpret_cast<sockaddr*>(&address), &size) < 0) return 0;
  return ntohs(address.sin_port);
}

void TDatagramSocket::OnReadable(std::function<void()> handler) {
  FNotifier = std::make_unique<QSocketNotifier>(FHandle, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                   [handler = std::move(handler)] { Guarded(handler); });
}

std::vector<uint32_t> InterfaceBroadcasts() {
  std::vector<uint32_t> found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) < 0) return found;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)) continue;
    uint32_t broadcast = 0;
    if ((entry->ifa_flags & IFF_BROADCAST) && entry->ifa_broadaddr) {
      broadcast = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr);
    } else if ((entry->ifa_flags & IFF_LOOPBACK) && entry->ifa_netmask) {
      // The loopback interface has no broadcast flag, but the kernel routes
      // the last address of its network as a broadcast to every local
      // socket: a game hosted on this machine is found without a network.
      uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
      uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
      broadcast = address | ~mask;
    } else {
      continue;
    }
    if (broadcast != 0 && std::find(found.begin(), found.end(), broadcast) == found.end())
      found.push_back(broadcast);
  }
  ::freeifaddrs(list);
  return found;
}

namespace {
// The IPv4 addresses of the interfaces that are up, each once; loopback
// ones only when withLoopback.
std::vector<uint32_t> InterfaceAddresses(bool withLoopback) {
  std::vector<uint32_t> found;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) < 0) return found;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) && !withLoopback) continue;
    uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    if (std::find(found.begin(), found.end(), address) == found.end()) found.push_back(address);
  }
  ::freeifaddrs(list);
  return found;
}
constexpr uint32_t LoopbackNetwork = 0x7F000000;
constexpr uint32_t LoopbackMask = 0xFF000000;
constexpr uint32_t LoopbackAddress = 0x7F000001;
}  // namespace

std::vector<uint32_t> LanAddresses() {
  std::vector<uint32_t> found = InterfaceAddresses(false);
  if (found.empty()) found = InterfaceAddresses(true);
  if (found.empty()) found.push_back(LoopbackAddress);
  return found;
}

bool IsOwnAddress(uint32_t address) {
  if ((address & LoopbackMask) == LoopbackNetwork) return true;
  std::vector<uint32_t> own = InterfaceAddresses(true);
  return std::find(own.begin(), own.end(), address) != own.end();
}

std::string AddressText(uint32_t address) { return ws::inet_ntoa(ws::htonl(address)); }
