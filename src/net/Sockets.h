// The socket layer: event-driven, non-blocking TCP for every network feature.
// TSocket owns one socket; TServer listens and owns its TSessionList, which
// owns the accepted TSessionItem objects; TSocketIO buffers reading and
// writing on a handle it does not own.  Every failure raises Exception with
// the French text; the layer never catches.  User-interface thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/MessageTarget.h"
#include "platform/WinSock.h"

class QTimer;

using TSocketHandle = ws::TSocketHandle;

// Events a listening server asks for: read, write, accept, close (0x2B).
inline constexpr uint32_t ServerEventMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;

// Raises message + " (WINSOCK error #" + WSAGetLastError() + ")".
[[noreturn]] void RaiseSocketError(const std::string& message);
// The host window's form, without the blank: message + "(WINSOCK error #" +
// code + ")".  The caller gives the code (the event's error half).
[[noreturn]] void RaiseSocketError(const std::string& message, int code);

// The IPv4 address of a dotted-decimal text or host name, network byte
// order; 0xFFFFFFFF (ws::AddressNone) when neither works.
uint32_t ResolveHost(const std::string& name);
// Every address of a host, in the order to try them: a numeric address of
// either family alone (a dotted IPv4 one read as ResolveHost reads it, an
// IPv6 one with or without "%interface"), else the addresses of the name,
// IPv6 and IPv4, in the resolver's order.  Empty when the name does not
// resolve.  Blocks while the resolver asks, as ResolveHost does.
std::vector<ws::TAddress> ResolveAddresses(const std::string& name);
// "HOST", "HOST:PORT", an IPv6 address alone ("::1", "fe80::1%eth0") or in
// brackets with or without a port ("[::1]", "[::1]:2048") into host and
// port (left as it was when the text gives none; portGiven, when asked,
// tells which); false when the port is not 0..65535 or the brackets do not
// close.
bool ParseHostAndPort(const std::string& text, std::string& host, uint16_t& port, bool* portGiven = nullptr);
// An address and port as a player types them: "192.168.0.12:2048",
// "[2001:db8::7]:2048".
std::string AddressAndPort(const std::string& address, uint16_t port);
// The block of addresses that one party on the Internet holds, as a key
// for limits per party: an IPv4 peer's whole address, an IPv6 peer's /64
// (the network a home or a server is given: its hosts may use any address
// in it), e.g. "2001:db8:1:2::/64".  peer is the address as a server knows
// it (TSessionItem::Address); a text that is no address is its own block.
std::string PeerBlock(const std::string& peer);
// The machine's host name, "localhost" when the platform cannot say.
std::string LocalHostName();

// Starts the socket library (version 1.1) while it lives; main holds one.
class TSocketLibrary {
 public:
  TSocketLibrary();
  ~TSocketLibrary();
  TSocketLibrary(const TSocketLibrary&) = delete;
  TSocketLibrary& operator=(const TSocketLibrary&) = delete;
};

// Raised by the TSessionItem constructor when the pending connection could
// not be accepted (no descriptor left, or the peer gone before its turn):
// no item exists then.  The text is "Impossible d'accepter la connexion"
// with the WinSock number.
class TAcceptError : public Exception {
 public:
  using Exception::Exception;
};

// Base of every object that owns a TCP socket; the destructor closes it.
class TSocket {
 public:
  // Opens a TCP stream socket; raises "Impossible d'ouvrir un socket".
  explicit TSocket(TMessageTarget* window);
  // The same for a listening socket: one for both families where the
  // machine has IPv6, else an IPv4 one.
  struct TListening {};
  TSocket(TMessageTarget* window, TListening);
  virtual ~TSocket();
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  TSocketHandle Handle() const { return FHandle; }
  TMessageTarget* Window() const { return FWindow; }

 protected:
  // Without a socket yet (Handle is INVALID_SOCKET until Replace).
  struct TNoSocket {};
  TSocket(TMessageTarget* window, TNoSocket);
  // Closes the socket held and takes handle instead.
  void Replace(TSocketHandle handle);

 private:
  TSocketHandle FHandle = ws::INVALID_SOCKET;
  TMessageTarget* FWindow = nullptr;
};

// A client connection to a host given by its addresses (a name may have
// several, of both families), tried in turn until one connects.  A refused
// or unreachable address hands over to the next at once (the owner calls
// MoveOn on the connect event's error), a silent one after AttemptMs (the
// socket's own timer); the last address is left to the system's time-out,
// as a lone address always was.  Moving on opens a new socket: Handle
// changes, its events go to the same window under the same number, and
// Reopened tells the subclass.  User-interface thread only.
class TClientSocket : public TSocket {
 public:
  // How long an address may stay silent while another one is left, in
  // milliseconds: long enough for a distant host to answer, short enough
  // that a player waits a few seconds per dead address.
  static constexpr int AttemptMs = 4000;

  // Opens a socket for the first address whose family the machine has and
  // asks for the events in mask to window under notification; raises
  // "Impossible d'ouvrir un socket" when there is none.  port: host byte
  // order.  Connecting starts with Connect.
  TClientSocket(TMessageTarget* window, uint32_t notification, uint32_t mask,
                std::vector<ws::TAddress> addresses, uint16_t port, int attemptMs = AttemptMs);
  ~TClientSocket() override;

  // Starts connecting to the current address; the outcome, success or
  // failure, comes as the connect event.
  void Connect();
  // For a connect event that carries an error: true when the next address
  // is being tried now (the event is no news), false when none is left.
  bool MoveOn();
  // The address tried now, and how many the host has.
  const ws::TAddress& Address() const { return FAddresses[FIndex]; }
  std::size_t AddressCount() const { return FAddresses.size(); }

 protected:
  // The socket was replaced by a new one for the next address (registered,
  // connecting); previous, closed already, is the handle it had.
  virtual void Reopened(TSocketHandle previous);

 private:
  // Opens a socket for the first address from index on whose family the
  // machine has; INVALID_SOCKET when none.  Sets FIndex to its index.
  TSocketHandle OpenFrom(std::size_t index);
  // The timer: an attempt still not connected gives way to the next.
  void Silent();
  // Replaces the socket by one connecting to the next address the machine
  // can open; false when there is none (nothing changes then).
  bool TakeNext();
  void ArmTimer();

  uint32_t FNotification;
  uint32_t FMask;
  std::vector<ws::TAddress> FAddresses;
  std::size_t FIndex = 0;
  uint16_t FPort;
  int FAttemptMs;
  std::unique_ptr<QTimer> FTimer;
};

class TServer;
class TSessionList;

// One accepted connection of a TServer.  A subclass constructor runs this
// one, which accepts the pending connection and appends the item to the
// server's Connections (the list owns it from then on).  A failed accept
// raises TAcceptError before the item joins the list, so there is never an
// item without a connection.  Items end through Release, or all together
// when their server is destroyed.  Whoever runs a handler of an item holds
// a THandlerScope on it; a Release asked for meanwhile happens as the last
// such scope closes.
class TSessionItem : public THandlerOwner {
 public:
  TSessionItem(TServer& server, TSocketHandle listening);
  // Closes Handle.  An item destroyed while still in its list (a throwing
  // subclass constructor) leaves the list first.
  virtual ~TSessionItem();
  TSessionItem(const TSessionItem&) = delete;
  TSessionItem& operator=(const TSessionItem&) = delete;

  // Leaves SessionList and destroys the item: `this` is gone afterwards,
  // or once the handlers of the item that run have returned.  Subclasses
  // check PostponeEnd, make their announcements, then call this one.
  virtual void Release();

  TSessionList* SessionList() const { return FSessionList; }
  TServer* Server() const { return FServer; }
  // The peer's address in dotted-decimal form.
  const std::string& Address() const { return FAddress; }
  TSocketHandle Handle() const { return FHandle; }

 protected:
  // Ends a postponed release.
  void Destroy() override { Release(); }

 private:
  friend class TSessionList;
  TSessionList* FSessionList = nullptr;
  TServer* FServer = nullptr;
  std::string FAddress;
  TSocketHandle FHandle = ws::INVALID_SOCKET;
};

// The connections of one server, in the order they were accepted; owns them.
class TSessionList {
 public:
  TSessionList() = default;
  ~TSessionList();
  TSessionList(const TSessionList&) = delete;
  TSessionList& operator=(const TSessionList&) = delete;

  // The first item whose Handle is handle, or null.
  TSessionItem* FindBySocket(TSocketHandle handle) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TSessionItem* operator[](int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  TSessionItem* Items(int index) const { return (*this)[index]; }
  // Destroys every item, in the order they were accepted, in time linear
  // in their count; each leaves the list just before it is destroyed (the
  // ones still waiting stay listed, last accepted first).
  void Clear();

  // Takes ownership of item at the end of the list (TSessionItem does this).
  void Add(TSessionItem* item);
  // Hands item back without destroying it; null when it is not listed.
  std::unique_ptr<TSessionItem> Remove(TSessionItem* item);

 private:
  std::vector<std::unique_ptr<TSessionItem>> FItems;
};

// A listening socket on every local address with the connections it accepted.
class TServer : public TSocket {
 public:
  // Binds 0.0.0.0:port ("Impossible de démarrer le serveur"), listens
  // ("Erreur lors du démarrage du serveur") and registers read, write,
  // accept and close to window under notification.  Port 0 picks a free
  // port, which Port() tells.
  TServer(TMessageTarget* window, uint16_t port, uint32_t notification);
  // Destroys every connection, then closes the listening socket.
  ~TServer() override;

  TSessionList& Connections() { return FConnections; }
  const TSessionList& Connections() const { return FConnections; }
  // The port the socket is bound to, in host byte order.
  uint16_t Port() const;

 private:
  TSessionList FConnections;
};

// Buffered reading and writing on a connected socket it does not own, with
// a CR LF line reader.  Buffers grow without limit; consumed bytes leave
// from the front.  They keep their contents after an error.
class TSocketIO {
 public:
  explicit TSocketIO(TSocketHandle handle);
  virtual ~TSocketIO() = default;
  TSocketIO(const TSocketIO&) = delete;
  TSocketIO& operator=(const TSocketIO&) = delete;

  // Reading
  // One recv of at most ReceiveChunkBytes appended to InBuffer.  A peer's
  // close (or "not connected") sets Closed without error; raises "Session
  // fermée" when already closed and "Erreur de lecture N" for other errors,
  // would-block included.
  virtual void Receive();
  // Takes the next CR LF line, without its CR LF.  Once Closed, the
  // unterminated rest is the last line (true if not empty).
  bool ReadLine(std::string& line);

  // Writing
  // Appends to OutBuffer; nothing is sent.
  void Write(const char* data, size_t count);
  void Write(const std::string& data) { Write(data.data(), data.size()); }
  void WriteLine(const std::string& text);
  // One send of OutBuffer.  True only when it sent bytes and emptied the
  // buffer; false for an empty buffer (no call), a would-block or a partial
  // send (the rest stays at the front).  Raises "Session fermée" when send
  // takes 0 bytes and "Erreur d'écriture N" for other errors.
  bool Flush();

  TSocketHandle Handle() const { return FHandle; }
  bool Closed() const { return FClosed; }
  const std::string& InBuffer() const { return FInBuffer; }
  int32_t InCount() const { return static_cast<int32_t>(FInBuffer.size()); }
  const std::string& OutBuffer() const { return FOutBuffer; }

  static constexpr int ReceiveChunkBytes = 1024;

 protected:
  std::string FInBuffer;
  std::string FOutBuffer;

 private:
  TSocketHandle FHandle;
  bool FClosed = false;
};
