// Thin wrappers over POSIX sockets with the names, arguments and results of
// the WinSock 1.1 calls the system was written for: handles are 32-bit
// values (the fd numbers), failures return INVALID_SOCKET or SOCKET_ERROR and
// leave a WinSock error number for WSAGetLastError.  EINTR is retried inside,
// SIGPIPE is never raised.  Everything here runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ws {

using TSocketHandle = uint32_t;

inline constexpr TSocketHandle INVALID_SOCKET = 0xFFFFFFFFu;
inline constexpr int SOCKET_ERROR = -1;
inline constexpr uint32_t AddressNone = 0xFFFFFFFFu;  // INADDR_NONE
inline constexpr uint32_t AddressAny = 0;             // INADDR_ANY

// Arguments of socket(): the only kind of socket the system opens.
inline constexpr int AddressFamilyInet = 2;  // AF_INET
// A listening socket for both families: an IPv6 socket that also takes
// IPv4 peers (as IPv4-mapped addresses).  socket() fails with
// WSAEAFNOSUPPORT where the machine has no IPv6.
inline constexpr int AddressFamilyBoth = 23;
// WinSock's AF_INET6, for addresses; the socket it opens is the one above,
// which connects to an IPv6 address like any IPv6 socket.
inline constexpr int AddressFamilyInet6 = AddressFamilyBoth;
inline constexpr int StreamSocket = 1;  // SOCK_STREAM
inline constexpr int ProtocolTcp = 6;   // IPPROTO_TCP

// WinSock error numbers the wrappers report.
enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEDESTADDRREQ = 10039,
  WSAEMSGSIZE = 10040,
  WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETOOMANYREFS = 10059,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSANOTINITIALISED = 10093,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// The 16-byte IPv4 address record; port and address in network byte order.
struct TSockAddrIn {
  uint16_t sin_family = AddressFamilyInet;
  uint16_t sin_port = 0;
  uint32_t sin_addr = 0;
  uint8_t sin_zero[8] = {};
};
static_assert(sizeof(TSockAddrIn) == 16);

// One address of either family, as a name look-up gives it: Family is
// AddressFamilyInet (the first four Bytes, network order) or
// AddressFamilyInet6 (all sixteen, with the interface of a link-local
// address in ScopeId).
struct TAddress {
  int Family = AddressFamilyInet;
  uint8_t Bytes[16] = {};
  uint32_t ScopeId = 0;
  friend bool operator==(const TAddress&, const TAddress&) = default;
};
// The IPv4 address (network order) as a TAddress.
TAddress InetAddress(uint32_t address);

// What WSAStartup fills in.
struct TWSAData {
  uint16_t wVersion = 0;
  uint16_t wHighVersion = 0;
};

// Start and stop of the socket library (counted; WSACleanup of the last
// start closes the sockets still waiting to end gracefully).
int WSAStartup(uint16_t version, TWSAData* data);
int WSACleanup();

// The WinSock number of the last failure on this thread.
int WSAGetLastError();
void WSASetLastError(int error);
// The WinSock number for an errno value.
int TranslateErrno(int error);

TSocketHandle socket(int family, int type, int protocol);
// On a socket for both families only AddressAny is taken: every address
// of both families.
int bind(TSocketHandle handle, const TSockAddrIn& address);
int listen(TSocketHandle handle, int backlog);
// Fills address (may be null) with the peer's address.  A connection
// accepted on a socket registered with SelectEvents inherits the
// registration and is non-blocking.
TSocketHandle accept(TSocketHandle listening, TSockAddrIn* address);
// The same, with the peer's address as people read it in peerText: dotted
// for IPv4 (an IPv4-mapped peer of a socket for both families included),
// the short form for IPv6 (then address holds no IPv4 address: 0).
TSocketHandle accept(TSocketHandle listening, TSockAddrIn* address, std::string* peerText);
// On a socket registered with SelectEvents the call returns SOCKET_ERROR
// with WSAEWOULDBLOCK and the outcome arrives as the connect event.
int connect(TSocketHandle handle, const TSockAddrIn& address);
// The same for an address of either family and port (host byte order); an
// IPv6 address needs a socket of AddressFamilyInet6.
int connect(TSocketHandle handle, const TAddress& address, uint16_t port);
// Byte counts or SOCKET_ERROR; recv returns 0 once the peer has closed.
// A send that would block, or takes only part of the bytes, re-arms the
// socket's FD_WRITE.
int recv(TSocketHandle handle, char* buffer, int length, int flags = 0);
int send(TSocketHandle handle, const char* buffer, int length, int flags = 0);
// Ends the handle at once for the system: no more events, every further
// call on it fails with WSAENOTSOCK.  A connected socket is closed
// gracefully: its sending side is shut down (the peer sees the end after
// every byte already sent), what the peer still sends is read and dropped,
// and the descriptor is really closed when the peer closes or after
// LingerMs at most, so the peer never sees a reset; only when an accept
// finds no descriptor left do the oldest of these close sooner, since a
// peer that has not closed by then matters less than one waiting to come in.
int closesocket(TSocketHandle handle);
inline constexpr int LingerMs = 5000;

// The locally bound address (to read back an ephemeral port); on a socket
// for both families, its port with address 0.
int getsockname(TSocketHandle handle, TSockAddrIn& address);
// The local address of a connected socket, whatever its family; an
// IPv4-mapped address of a socket for both families reads as IPv4.
int getsockname(TSocketHandle handle, TAddress& address);
// The peer's address; SOCKET_ERROR with WSAENOTCONN while the socket is not
// connected (a connect still under way included).
int getpeername(TSocketHandle handle, TAddress& address);
// Socket buffer sizes in bytes (SO_SNDBUF, SO_RCVBUF).
int SetSendBufferSize(TSocketHandle handle, int bytes);
int SetReceiveBufferSize(TSocketHandle handle, int bytes);
// TCP keepalive on a connected socket: after idleSeconds without traffic
// the system sends a probe every intervalSeconds, and once probes go
// unanswered for idle + interval x probes seconds (or data sent stays
// unacknowledged that long) the connection fails with WSAETIMEDOUT, which
// reaches the socket's owner as a close with that error.  0 or
// SOCKET_ERROR.
int SetKeepAlive(TSocketHandle handle, int idleSeconds, int intervalSeconds, int probes);

// Name look-up: the IPv4 addresses of a host name in network byte order,
// first address first; empty with WSAHOST_NOT_FOUND (or another 110xx
// number) when the name does not resolve.
std::vector<uint32_t> gethostbyname(const std::string& name);
// The same for both families, in the order the resolver prefers them (the
// one to try first first), each address once; a numeric address of either
// family (an IPv6 one with "%interface" too) is taken as it is.
std::vector<TAddress> getaddrinfo(const std::string& name);
int gethostname(char* name, int length);
// Dotted-decimal text to a network-order address, AddressNone when the text
// is not an address; and back.
uint32_t inet_addr(const std::string& text);
std::string inet_ntoa(uint32_t address);
// Either family's numeric text to an address (an IPv6 one with or without
// "%interface"), false when the text is no address; and back: dotted IPv4,
// the short IPv6 form (with "%interface" for a link-local one).
bool inet_pton(const std::string& text, TAddress& address);
std::string inet_ntop(const TAddress& address);

// Byte order of the wire.  glibc may define these names as macros when
// optimising; they are dropped here (the plain functions remain) and the
// definitions are parenthesised against a header included later.
#ifdef htons
#undef htons
#undef ntohs
#undef htonl
#undef ntohl
#endif
inline constexpr uint16_t(htons)(uint16_t value) {
  return static_cast<uint16_t>((value << 8) | (value >> 8));
}
inline constexpr uint16_t(ntohs)(uint16_t value) { return (htons)(value); }
inline constexpr uint32_t(htonl)(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
inline constexpr uint32_t(ntohl)(uint32_t value) { return (htonl)(value); }

}  // namespace ws
