#include "net/Sockets.h"

#include <QTimer>
#include <algorithm>
#include <cstring>

#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/SocketEvents.h"
#include "platform/Text1252.h"

namespace {
constexpr uint16_t WinSockVersion = 0x0101;
constexpr int HostNameBytes = 256;
constexpr int MaxPort = 65535;
// The bytes of an IPv6 address that name its network (the /64).
constexpr std::size_t NetworkBytes = 8;

bool ParsePort(const std::string& text, uint16_t& port) {
  auto value = TryStrToInt(text);
  if (!value || *value < 0 || *value > MaxPort) return false;
  port = static_cast<uint16_t>(*value);
  return true;
}
}  // namespace

void RaiseSocketError(const std::string& message) {
  throw Exception(message + " (WINSOCK error #" + std::to_string(ws::WSAGetLastError()) + ")");
}

void RaiseSocketError(const std::string& message, int code) {
  throw Exception(message + "(WINSOCK error #" + std::to_string(code) + ")");
}

uint32_t ResolveHost(const std::string& name) {
  uint32_t address = ws::inet_addr(name);
  if (address != ws::AddressNone) return address;
  std::vector<uint32_t> found = ws::gethostbyname(name);
  return found.empty() ? ws::AddressNone : found.front();
}

std::vector<ws::TAddress> ResolveAddresses(const std::string& name) {
  uint32_t dotted = ws::inet_addr(name);
  if (dotted != ws::AddressNone) return {ws::InetAddress(dotted)};
  ws::TAddress numeric;
  if (ws::inet_pton(name, numeric)) return {numeric};
  return ws::getaddrinfo(name);
}

bool ParseHostAndPort(const std::string& text, std::string& host, uint16_t& port, bool* portGiven) {
  bool given = false;
  std::string::size_type portAt = std::string::npos;
  if (!text.empty() && text[0] == '[') {
    // "[ADDRESS]" or "[ADDRESS]:PORT": an IPv6 address with its port.
    auto close = text.find(']');
    if (close == std::string::npos || close == 1) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portAt = close + 2;
    }
  } else {
    auto colon = text.rfind(':');
    // Two colons or more without brackets: an IPv6 address alone.
    bool alone = colon == std::string::npos || text.find(':') != colon;
    host = alone ? text : text.substr(0, colon);
    if (host.empty()) return false;
    if (!alone) portAt = colon + 1;
  }
  if (portAt != std::string::npos) {
    if (!ParsePort(text.substr(portAt), port)) return false;
    given = true;
  }
  if (portGiven) *portGiven = given;
  return true;
}

std::string AddressAndPort(const std::string& address, uint16_t port) {
  bool six = address.find(':') != std::string::npos;
  return (six ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string PeerBlock(const std::string& peer) {
  ws::TAddress address;
  if (!ws::inet_pton(peer, address) || address.Family != ws::AddressFamilyInet6) return peer;
  std::memset(address.Bytes + NetworkBytes, 0, sizeof(address.Bytes) - NetworkBytes);
  address.ScopeId = 0;
  return ws::inet_ntop(address) + "/64";
}

std::string LocalHostName() {
  char name[HostNameBytes] = {};
  if (ws::gethostname(name, sizeof(name)) != 0) return "localhost";
  return name;
}

TSocketLibrary::TSocketLibrary() {
  ws::TWSAData data;
  ws::WSAStartup(WinSockVersion, &data);
}

TSocketLibrary::~TSocketLibrary() { ws::WSACleanup(); }

// ---------------------------------------------------------------------------
// TSocket

TSocket::TSocket(TMessageTarget* window) : FWindow(window) {
  FHandle = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  if (FHandle == ws::INVALID_SOCKET) throw Exception("Impossible d'ouvrir un socket");
}

TSocket::TSocket(TMessageTarget* window, TListening) : FWindow(window) {
  FHandle = ws::socket(ws::AddressFamilyBoth, ws::StreamSocket, ws::ProtocolTcp);
  if (FHandle == ws::INVALID_SOCKET)
    FHandle = ws::socket(ws::AddressFamilyInet, ws::StreamSocket, ws::ProtocolTcp);
  if (FHandle == ws::INVALID_SOCKET) throw Exception("Impossible d'ouvrir un socket");
}

TSocket::TSocket(TMessageTarget* window, TNoSocket) : FWindow(window) {}

TSocket::~TSocket() {
  if (FHandle != ws::INVALID_SOCKET) ws::closesocket(FHandle);
}

void TSocket::Replace(TSocketHandle handle) {
  if (FHandle != ws::INVALID_SOCKET) ws::closesocket(FHandle);
  FHandle = handle;
}

// ---------------------------------------------------------------------------
// TClientSocket

TClientSocket::TClientSocket(TMessageTarget* window, uint32_t notification, uint32_t mask,
                             std::vector<ws::TAddress> addresses, uint16_t port, int attemptMs)
    : TSocket(window, TNoSocket{}),
      FNotification(notification),
      FMask(mask),
      FAddresses(std::move(addresses)),
      FPort(port),
      FAttemptMs(attemptMs) {
  TSocketHandle handle = OpenFrom(0);
  if (handle == ws::INVALID_SOCKET) throw Exception("Impossible d'ouvrir un socket");
  Replace(handle);
  SelectEvents(handle, window, notification, mask);
}

TClientSocket::~TClientSocket() = default;

TSocketHandle TClientSocket::OpenFrom(std::size_t index) {
  for (; index < FAddresses.size(); ++index) {
    int family =
        FAddresses[index].Family == ws::AddressFamilyInet6 ? ws::AddressFamilyInet6 : ws::AddressFamilyInet;
    TSocketHandle handle = ws::socket(family, ws::StreamSocket, ws::ProtocolTcp);
    if (handle != ws::INVALID_SOCKET) {
      FIndex = index;
      return handle;
    }
  }
  return ws::INVALID_SOCKET;
}

void TClientSocket::Connect() {
  // Non-blocking: success or failure comes as the connect event.
  ws::connect(Handle(), Address(), FPort);
  ArmTimer();
}

// Only an attempt with another address after it has a time of its own.
void TClientSocket::ArmTimer() {
  if (FIndex + 1 >= FAddresses.size()) {
    FTimer.reset();
    return;
  }
  if (!FTimer) {
    FTimer = std::make_unique<QTimer>();
    FTimer->setSingleShot(true);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] { Guarded([this] { Silent(); }); });
  }
  FTimer->start(FAttemptMs);
}

bool TClientSocket::MoveOn() {
  if (FTimer) FTimer->stop();
  return TakeNext();
}

void TClientSocket::Silent() {
  ws::TAddress peer;
  if (ws::getpeername(Handle(), peer) == 0) return;  // connected: its event is on its way
  // With no other address that the machine can open, the silent attempt
  // goes on under the system's own time-out and ends through its event.
  TakeNext();
}

bool TClientSocket::TakeNext() {
  TSocketHandle fresh = OpenFrom(FIndex + 1);
  if (fresh == ws::INVALID_SOCKET) return false;
  TSocketHandle previous = Handle();
  Replace(fresh);
  SelectEvents(fresh, Window(), FNotification, FMask);
  Reopened(previous);
  Connect();
  return true;
}

void TClientSocket::Reopened(TSocketHandle) {}

// ---------------------------------------------------------------------------
// TSessionItem

TSessionItem::TSessionItem(TServer& server, TSocketHandle listening) : FServer(&server) {
  ws::TSockAddrIn peer;
  FHandle = ws::accept(listening, &peer, &FAddress);
  if (FHandle == ws::INVALID_SOCKET)
    throw TAcceptError("Impossible d'accepter la connexion (WINSOCK error #" +
                       std::to_string(ws::WSAGetLastError()) + ")");
  server.Connections().Add(this);
}

TSessionItem::~TSessionItem() {
  // Still listed only when a subclass constructor failed: the list must not
  // destroy it a second time.
  if (FSessionList) FSessionList->Remove(this).release();
  if (FHandle != ws::INVALID_SOCKET) ws::closesocket(FHandle);
}

void TSessionItem::Release() {
  if (PostponeEnd()) return;
  std::unique_ptr<TSessionItem> self;
  if (FSessionList) self = FSessionList->Remove(this);
  if (!self) self.reset(this);
}

// ---------------------------------------------------------------------------
// TSessionList

TSessionList::~TSessionList() { Clear(); }

TSessionItem* TSessionList::FindBySocket(TSocketHandle handle) const {
  for (const auto& item : FItems)
    if (item->Handle() == handle) return item.get();
  return nullptr;
}

void TSessionList::Clear() {
  // Items go in the order they were accepted, each taken out of the list
  // before it is destroyed, so a destructor that looks at the list sees it
  // without itself and without those gone before it.  The list is turned
  // round once and each item leaves from the back: taking them from the
  // front would move the whole rest every time, quadratic in the count.
  std::reverse(FItems.begin(), FItems.end());
  while (!FItems.empty()) {
    std::unique_ptr<TSessionItem> item = std::move(FItems.back());
    FItems.pop_back();
    item->FSessionList = nullptr;
    item.reset();
  }
}

void TSessionList::Add(TSessionItem* item) {
  FItems.emplace_back(item);
  item->FSessionList = this;
}

std::unique_ptr<TSessionItem> TSessionList::Remove(TSessionItem* item) {
  auto found = std::find_if(FItems.begin(), FItems.end(), [item](const auto& p) { return p.get() == item; });
  if (found == FItems.end()) return nullptr;
  std::unique_ptr<TSessionItem> owned = std::move(*found);
  FItems.erase(found);
  owned->FSessionList = nullptr;
  return owned;
}

// ---------------------------------------------------------------------------
// TServer

TServer::TServer(TMessageTarget* window, uint16_t port, uint32_t notification)
    : TSocket(window, TListening{}) {
  ws::TSockAddrIn address;
  address.sin_port = (ws::htons)(port);
  address.sin_addr = ws::AddressAny;
  if (ws::bind(Handle(), address) == ws::SOCKET_ERROR)
    RaiseSocketError("Impossible de démarrer le serveur"_cp);
  if (ws::listen(Handle(), 0) == ws::SOCKET_ERROR) RaiseSocketError("Erreur lors du démarrage du serveur"_cp);
  SelectEvents(Handle(), window, notification, ServerEventMask);
}

TServer::~TServer() { FConnections.Clear(); }

uint16_t TServer::Port() const {
  ws::TSockAddrIn address;
  if (ws::getsockname(Handle(), address) == ws::SOCKET_ERROR) return 0;
  return (ws::ntohs)(address.sin_port);
}

// ---------------------------------------------------------------------------
// TSocketIO

TSocketIO::TSocketIO(TSocketHandle handle) : FHandle(handle) {}

void TSocketIO::Receive() {
  if (FClosed) throw Exception("Session fermée"_cp);
  char chunk[ReceiveChunkBytes];
  int got = ws::recv(FHandle, chunk, sizeof(chunk));
  if (got == ws::SOCKET_ERROR) {
    int error = ws::WSAGetLastError();
    if (error == ws::WSAENOTCONN) {
      FClosed = true;
      return;
    }
    throw Exception("Erreur de lecture " + std::to_string(error));
  }
  if (got == 0) FClosed = true;
  FInBuffer.append(chunk, static_cast<size_t>(got));
}

bool TSocketIO::ReadLine(std::string& line) {
  size_t end = FInBuffer.find("\r\n");
  if (end == std::string::npos) {
    if (!FClosed) return false;
    line = std::move(FInBuffer);
    FInBuffer.clear();
    return !line.empty();
  }
  line.assign(FInBuffer, 0, end);
  FInBuffer.erase(0, end + 2);
  return true;
}

void TSocketIO::Write(const char* data, size_t count) { FOutBuffer.append(data, count); }

void TSocketIO::WriteLine(const std::string& text) {
  FOutBuffer += text;
  FOutBuffer += "\r\n";
}

bool TSocketIO::Flush() {
  if (FOutBuffer.empty()) return false;
  int sent = ws::send(FHandle, FOutBuffer.data(), static_cast<int>(FOutBuffer.size()));
  if (sent == 0) throw Exception("Session fermée"_cp);
  if (sent == ws::SOCKET_ERROR) {
    int error = ws::WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK) return false;
    throw Exception(std::string("Erreur d'écriture "_cp) + std::to_string(error));
  }
  FOutBuffer.erase(0, static_cast<size_t>(sent));
  return FOutBuffer.empty();
}
