#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/SocketEvents.h"

namespace ws {

namespace {

thread_local int LastError = 0;
int StartCount = 0;

// Fails a call with a WinSock number.
template <class T>
T Fail(int error, T result) {
  LastError = error;
  return result;
}

// The fd of a handle the system may still use: not past the fd range and
// not closed by closesocket while the descriptor lingers.
bool Usable(TSocketHandle handle) {
  return handle <= static_cast<TSocketHandle>(INT_MAX) && !socket_events::IsLingering(handle);
}
int Fd(TSocketHandle handle) { return static_cast<int>(handle); }

sockaddr_in ToPosix(const TSockAddrIn& address) {
  sockaddr_in out{};
  out.sin_family = address.sin_family;
  out.sin_port = address.sin_port;
  out.sin_addr.s_addr = address.sin_addr;
  return out;
}

void FromPosix(const sockaddr_in& address, TSockAddrIn& out) {
  out = TSockAddrIn{};
  out.sin_family = address.sin_family;
  out.sin_port = address.sin_port;
  out.sin_addr = address.sin_addr.s_addr;
}

// Runs a system call again while a signal interrupts it.
template <class Call>
auto Retry(Call call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// Failures that end a connection for good.
bool IsBreak(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAETIMEDOUT;
}

bool IsNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK);
}

// An address of either family from the system's record; an IPv4-mapped
// IPv6 address reads as the IPv4 address it carries.
TAddress FromPosix(const sockaddr& address) {
  TAddress out;
  if (address.sa_family == AF_INET) {
    std::memcpy(out.Bytes, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
    return out;
  }
  const auto& six = reinterpret_cast<const sockaddr_in6&>(address);
  if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
    std::memcpy(out.Bytes, six.sin6_addr.s6_addr + 12, 4);
    return out;
  }
  out.Family = AddressFamilyInet6;
  std::memcpy(out.Bytes, six.sin6_addr.s6_addr, sizeof(out.Bytes));
  out.ScopeId = six.sin6_scope_id;
  return out;
}

// The system's record of address and port (host byte order); its size.
socklen_t ToPosix(const TAddress& address, uint16_t port, sockaddr_storage& out) {
  out = sockaddr_storage{};
  if (address.Family != AddressFamilyInet6) {
    auto& four = reinterpret_cast<sockaddr_in&>(out);
    four.sin_family = AF_INET;
    four.sin_port = (htons)(port);
    std::memcpy(&four.sin_addr, address.Bytes, 4);
    return sizeof(four);
  }
  auto& six = reinterpret_cast<sockaddr_in6&>(out);
  six.sin6_family = AF_INET6;
  six.sin6_port = (htons)(port);
  std::memcpy(six.sin6_addr.s6_addr, address.Bytes, sizeof(address.Bytes));
  six.sin6_scope_id = address.ScopeId;
  return sizeof(six);
}

// The WinSock number of a failed getaddrinfo.
int LookupError(int result) {
  return result == EAI_AGAIN ? WSATRY_AGAIN : result == EAI_FAIL ? WSANO_RECOVERY : WSAHOST_NOT_FOUND;
}

// Every address of name in family (AF_INET or AF_UNSPEC) with flags, in
// the resolver's order, each once; empty with the look-up's error number.
std::vector<TAddress> Lookup(const std::string& name, int family, int flags) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  std::vector<TAddress> addresses;
  if (int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found); result != 0) {
    LastError = LookupError(result);
    return addresses;
  }
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    TAddress address = FromPosix(*entry->ai_addr);
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) LastError = WSANO_DATA;
  return addresses;
}

bool IsConnected(int fd) {
  sockaddr_in peer{};
  socklen_t size = sizeof(peer);
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
}

}  // namespace

int WSAStartup(uint16_t version, TWSAData* data) {
  ++StartCount;
  if (data) {
    data->wVersion = version;
    data->wHighVersion = 0x0101;
  }
  return 0;
}

int WSACleanup() {
  if (StartCount == 0) return Fail(WSANOTINITIALISED, SOCKET_ERROR);
  if (--StartCount == 0) socket_events::CloseAll();
  return 0;
}

int WSAGetLastError() { return LastError; }
void WSASetLastError(int error) { LastError = error; }

int TranslateErrno(int error) {
  switch (error) {
    case 0:
      return 0;
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAENOTSOCK;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN:
    case EINPROGRESS:
      return WSAEWOULDBLOCK;
    case EALREADY:
      return WSAEALREADY;
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EDESTADDRREQ:
      return WSAEDESTADDRREQ;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTOTYPE:
      return WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
      return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
      return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENETRESET:
      return WSAENETRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    // A send after the peer's reset fails with EPIPE here, with the reset
    // number on WinSock.
    case ECONNRESET:
    case EPIPE:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case ESHUTDOWN:
      return WSAESHUTDOWN;
    case ETOOMANYREFS:
      return WSAETOOMANYREFS;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ELOOP:
      return WSAELOOP;
    case ENAMETOOLONG:
      return WSAENAMETOOLONG;
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return WSAEINVAL;
  }
}

// Fails a call with the WinSock number of errno.
template <class T>
static T FailErrno(T result) {
  return Fail(TranslateErrno(errno), result);
}

TSocketHandle socket(int family, int type, int protocol) {
  bool both = family == AddressFamilyBoth;
  if ((family != AddressFamilyInet && !both) || type != StreamSocket ||
      (protocol != ProtocolTcp && protocol != 0))
    return Fail(WSAEPROTONOSUPPORT, INVALID_SOCKET);
  int fd = ::socket(both ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return FailErrno(INVALID_SOCKET);
  // IPv4 peers too, whatever the system's default (bindv6only).
  int off = 0;
  if (both && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off)) < 0) {
    ::close(fd);
    return Fail(WSAEAFNOSUPPORT, INVALID_SOCKET);
  }
  return static_cast<TSocketHandle>(fd);
}

static bool IsForBothFamilies(int fd) {
  int domain = 0;
  socklen_t size = sizeof(domain);
  return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 && domain == AF_INET6;
}

int bind(TSocketHandle handle, const TSockAddrIn& address) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  // A port left in TIME_WAIT by the last run can be bound again at once, as
  // on the system the game was written for.
  int on = 1;
  ::setsockopt(Fd(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  int result = 0;
  if (IsForBothFamilies(Fd(handle))) {
    if (address.sin_addr != AddressAny) return Fail(WSAEADDRNOTAVAIL, SOCKET_ERROR);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = address.sin_port;
    any.sin6_addr = in6addr_any;
    result = ::bind(Fd(handle), reinterpret_cast<const sockaddr*>(&any), sizeof(any));
  } else {
    sockaddr_in posix = ToPosix(address);
    result = ::bind(Fd(handle), reinterpret_cast<const sockaddr*>(&posix), sizeof(posix));
  }
  if (result < 0) return FailErrno(SOCKET_ERROR);
  return 0;
}

// A peer as people read it: dotted IPv4 (an IPv4-mapped IPv6 address
// included, with its IPv4 record), else the short IPv6 form.
static std::string PeerFromPosix(const sockaddr_storage& peer, TSockAddrIn* address) {
  char text[INET6_ADDRSTRLEN] = {};
  TSockAddrIn ipv4;
  if (peer.ss_family == AF_INET) {
    FromPosix(reinterpret_cast<const sockaddr_in&>(peer), ipv4);
  } else {
    const auto& six = reinterpret_cast<const sockaddr_in6&>(peer);
    ipv4.sin_port = six.sin6_port;
    if (IN6_IS_ADDR_V4MAPPED(&six.sin6_addr)) {
      std::memcpy(&ipv4.sin_addr, six.sin6_addr.s6_addr + 12, sizeof(ipv4.sin_addr));
    } else {
      ::inet_ntop(AF_INET6, &six.sin6_addr, text, sizeof(text));
      if (address) *address = ipv4;
      return text;
    }
  }
  if (address) *address = ipv4;
  in_addr dotted{};
  dotted.s_addr = ipv4.sin_addr;
  ::inet_ntop(AF_INET, &dotted, text, sizeof(text));
  return text;
}

int listen(TSocketHandle handle, int backlog) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  // Linux reads a backlog of 0 as one waiting connection, WinSock as a
  // reasonable default.  The system's largest: connects that the host has
  // not taken yet (a flood of strangers, a busy turn of the loop) wait in
  // the queue instead of stalling the next player for a SYN's retry.
  constexpr int SmallestBacklog = SOMAXCONN;
  if (::listen(Fd(handle), backlog < SmallestBacklog ? SmallestBacklog : backlog) < 0)
    return FailErrno(SOCKET_ERROR);
  return 0;
}

// The game's messages are a few bytes each (a chat line, a walk's goal):
// each goes out when it is sent, instead of waiting, as Nagle's rule would
// have it, for the acknowledgement of the one before, which the peer may
// delay by tens of milliseconds.  A socket that refuses it still works.
static void SendWithoutDelay(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

TSocketHandle accept(TSocketHandle listening, TSockAddrIn* address) {
  return accept(listening, address, nullptr);
}

TSocketHandle accept(TSocketHandle listening, TSockAddrIn* address, std::string* peerText) {
  if (!Usable(listening)) return Fail(WSAENOTSOCK, INVALID_SOCKET);
  sockaddr_storage peer{};
  socklen_t size = sizeof(peer);
  int flags = SOCK_CLOEXEC | (IsNonBlocking(Fd(listening)) ? SOCK_NONBLOCK : 0);
  int fd = Retry([&] { return ::accept4(Fd(listening), reinterpret_cast<sockaddr*>(&peer), &size, flags); });
  if (fd < 0) {
    int error = TranslateErrno(errno);
    socket_events::AcceptFailed(listening, error);
    return Fail(error, INVALID_SOCKET);
  }
  SendWithoutDelay(fd);
  std::string text = PeerFromPosix(peer, address);
  if (peerText) *peerText = std::move(text);
  socket_events::Accepted(listening, static_cast<TSocketHandle>(fd));
  return static_cast<TSocketHandle>(fd);
}

// Starts connecting handle to the system's record of an address.
static int Connect(TSocketHandle handle, const sockaddr* address, socklen_t size) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  SendWithoutDelay(Fd(handle));
  int result = ::connect(Fd(handle), address, size);
  // An interrupted connect goes on in the background, like EINPROGRESS.
  int error = result == 0 ? 0 : (errno == EINTR || errno == EINPROGRESS) ? 0 : TranslateErrno(errno);
  if (socket_events::ConnectStarted(handle, error)) return Fail(WSAEWOULDBLOCK, SOCKET_ERROR);
  if (result == 0) return 0;
  return Fail(errno == EINTR ? WSAEWOULDBLOCK : TranslateErrno(errno), SOCKET_ERROR);
}

int connect(TSocketHandle handle, const TSockAddrIn& address) {
  sockaddr_in posix = ToPosix(address);
  return Connect(handle, reinterpret_cast<const sockaddr*>(&posix), sizeof(posix));
}

int connect(TSocketHandle handle, const TAddress& address, uint16_t port) {
  sockaddr_storage posix;
  socklen_t size = ToPosix(address, port, posix);
  return Connect(handle, reinterpret_cast<const sockaddr*>(&posix), size);
}

int recv(TSocketHandle handle, char* buffer, int length, int flags) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  if (length < 0) return Fail(WSAEINVAL, SOCKET_ERROR);
  // Every recv counts for the event source, one that fails at once too:
  // the read side must wake again, if only to post the close.
  socket_events::Received(handle);
  if (int broken = socket_events::BrokenError(handle)) return Fail(broken, SOCKET_ERROR);
  ssize_t got = Retry([&] { return ::recv(Fd(handle), buffer, static_cast<size_t>(length), flags); });
  if (got < 0) {
    int error = TranslateErrno(errno);
    if (IsBreak(error)) socket_events::SetBroken(handle, error);
    return Fail(error, SOCKET_ERROR);
  }
  return static_cast<int>(got);
}

int send(TSocketHandle handle, const char* buffer, int length, int flags) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  if (length < 0) return Fail(WSAEINVAL, SOCKET_ERROR);
  if (int broken = socket_events::BrokenError(handle)) return Fail(broken, SOCKET_ERROR);
  ssize_t sent =
      Retry([&] { return ::send(Fd(handle), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL); });
  if (sent < 0) {
    int error = TranslateErrno(errno);
    if (IsBreak(error)) socket_events::SetBroken(handle, error);
    if (error == WSAEWOULDBLOCK) socket_events::SendBlocked(handle);
    return Fail(error, SOCKET_ERROR);
  }
  // A partial send means the socket buffer is full as surely as a
  // would-block does: the caller waits for FD_WRITE to send the rest.
  if (sent < length) socket_events::SendBlocked(handle);
  return static_cast<int>(sent);
}

int closesocket(TSocketHandle handle) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  int fd = Fd(handle);
  if (fcntl(fd, F_GETFD) < 0) return FailErrno(SOCKET_ERROR);
  socket_events::Forget(handle);
  int type = 0;
  socklen_t size = sizeof(type);
  bool stream = ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
  // A plain close of a connection with unread input would answer the peer
  // with a reset and destroy what it has not read yet: end the sending side
  // instead and let the descriptor linger until the peer closes.
  if (stream && IsConnected(fd) && ::shutdown(fd, SHUT_WR) == 0) {
    socket_events::Linger(fd);
    return 0;
  }
  ::close(fd);
  return 0;
}

int getsockname(TSocketHandle handle, TSockAddrIn& address) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  sockaddr_storage posix{};
  socklen_t size = sizeof(posix);
  if (::getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&posix), &size) < 0)
    return FailErrno(SOCKET_ERROR);
  PeerFromPosix(posix, &address);
  return 0;
}

int getsockname(TSocketHandle handle, TAddress& address) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  sockaddr_storage posix{};
  socklen_t size = sizeof(posix);
  if (::getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&posix), &size) < 0)
    return FailErrno(SOCKET_ERROR);
  address = FromPosix(reinterpret_cast<const sockaddr&>(posix));
  return 0;
}

int getpeername(TSocketHandle handle, TAddress& address) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  sockaddr_storage posix{};
  socklen_t size = sizeof(posix);
  if (::getpeername(Fd(handle), reinterpret_cast<sockaddr*>(&posix), &size) < 0)
    return FailErrno(SOCKET_ERROR);
  address = FromPosix(reinterpret_cast<const sockaddr&>(posix));
  return 0;
}

static int SetBufferSize(TSocketHandle handle, int option, int bytes) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  if (::setsockopt(Fd(handle), SOL_SOCKET, option, &bytes, sizeof(bytes)) < 0) return FailErrno(SOCKET_ERROR);
  return 0;
}

int SetSendBufferSize(TSocketHandle handle, int bytes) { return SetBufferSize(handle, SO_SNDBUF, bytes); }
int SetReceiveBufferSize(TSocketHandle handle, int bytes) { return SetBufferSize(handle, SO_RCVBUF, bytes); }

int SetKeepAlive(TSocketHandle handle, int idleSeconds, int intervalSeconds, int probes) {
  if (!Usable(handle)) return Fail(WSAENOTSOCK, SOCKET_ERROR);
  if (idleSeconds <= 0 || intervalSeconds <= 0 || probes <= 0) return Fail(WSAEINVAL, SOCKET_ERROR);
  int fd = Fd(handle), on = 1;
  // Without a bound of its own, data sent to a peer that vanished would be
  // retransmitted for a quarter of an hour, and keepalive probes wait while
  // data is outstanding: the same bound covers both cases.
  unsigned int boundMs = static_cast<unsigned int>(idleSeconds + intervalSeconds * probes) * 1000u;
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) < 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof(idleSeconds)) < 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof(intervalSeconds)) < 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes)) < 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &boundMs, sizeof(boundMs)) < 0)
    return FailErrno(SOCKET_ERROR);
  return 0;
}

std::vector<uint32_t> gethostbyname(const std::string& name) {
  std::vector<uint32_t> addresses;
  for (const TAddress& address : Lookup(name, AF_INET, 0)) {
    uint32_t four = 0;
    std::memcpy(&four, address.Bytes, sizeof(four));
    addresses.push_back(four);
  }
  return addresses;
}

std::vector<TAddress> getaddrinfo(const std::string& name) {
  if (name.empty()) return Fail(WSAHOST_NOT_FOUND, std::vector<TAddress>());
  return Lookup(name, AF_UNSPEC, 0);
}

int gethostname(char* name, int length) {
  if (!name || length <= 0) return Fail(WSAEFAULT, SOCKET_ERROR);
  if (::gethostname(name, static_cast<size_t>(length)) < 0) return Fail(WSAEFAULT, SOCKET_ERROR);
  // POSIX leaves a truncated name unterminated.
  if (std::memchr(name, 0, static_cast<size_t>(length)) == nullptr) return Fail(WSAEFAULT, SOCKET_ERROR);
  return 0;
}

uint32_t inet_addr(const std::string& text) {
  if (text.empty()) return AddressNone;
  return ::inet_addr(text.c_str());
}

std::string inet_ntoa(uint32_t address) {
  in_addr posix{};
  posix.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &posix, text, sizeof(text));
  return text;
}

TAddress InetAddress(uint32_t address) {
  TAddress out;
  std::memcpy(out.Bytes, &address, sizeof(address));
  return out;
}

bool inet_pton(const std::string& text, TAddress& address) {
  if (text.empty()) return false;
  // The plain forms without a look-up: the host reads every peer's text.
  sockaddr_storage plain{};
  auto& four = reinterpret_cast<sockaddr_in&>(plain);
  auto& six = reinterpret_cast<sockaddr_in6&>(plain);
  if (::inet_pton(AF_INET, text.c_str(), &four.sin_addr) == 1)
    plain.ss_family = AF_INET;
  else if (::inet_pton(AF_INET6, text.c_str(), &six.sin6_addr) == 1)
    plain.ss_family = AF_INET6;
  if (plain.ss_family != 0) {
    address = FromPosix(reinterpret_cast<const sockaddr&>(plain));
    return true;
  }
  // The numeric look-up reads "%interface" into the scope; it asks nobody.
  std::vector<TAddress> found = Lookup(text, AF_UNSPEC, AI_NUMERICHOST);
  if (found.empty()) return false;
  address = found.front();
  return true;
}

std::string inet_ntop(const TAddress& address) {
  if (address.Family != AddressFamilyInet6) {
    uint32_t four = 0;
    std::memcpy(&four, address.Bytes, sizeof(four));
    return inet_ntoa(four);
  }
  char text[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, address.Bytes, text, sizeof(text));
  std::string result = text;
  if (address.ScopeId != 0) {
    char interface[IF_NAMESIZE] = {};
    result += "%";
    result += ::if_indextoname(address.ScopeId, interface) ? interface : std::to_string(address.ScopeId);
  }
  return result;
}

}  // namespace ws
