// Game message framing: packed integers, frames decoded from a connection's
// byte stream and routed by message id to handlers of the connection's owner
// (a TZULMessageTarget), and the game host's listening socket with its
// broadcasts.  TZULSocketIO does not own its Owner; a TZULSessionItem owns
// its IO.  User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/Sockets.h"

class QObject;

// The game's messages, by id: what a client sends, what the host sends.
enum : int32_t {
  MsgPassword = 1,  // client: password          host: -
  MsgError = 2,     // client: -                  host: error text
  MsgJoin = 3,      // client: player name        host: the player's own id
  MsgPlayer = 4,    // client: -                  host: id, Reserved, X, Y, flag, name
  MsgChat = 5,      // client: line               host: sender's id, line
  MsgChatAck = 6,   // client: -                  host: empty
  MsgLeave = 7,     // client: empty              host: id, without-warning flag
  MsgPosition = 8,  // client: X, Y, Direction    host: id, Reserved, X, Y, Direction
  MsgWalk = 9,      // client: goal X, goal Y     host: id, goal X, goal Y
  MsgLook = 10,     // client: race, hair, option host: id, race, hair, option
};

// MsgLook is an extension of the catalogue above: a client built from the
// catalogue alone never sends it and must never receive it (it would show
// "Message #10 inconnu").  So the client offers first, the host answers in
// kind only to the clients that offered:
// - a client sends 10 with its look (ZULLooks.h: race 0 human or 1 elf;
//   hair 0 none or 1 to 8; option 0 none or 1 to 3, never 0 for an elf)
//   right after its 3, and again whenever the player picks another look;
// - the host keeps the last look of each player; on a player's first 10
//   it sends that player one 10 for every other admitted player that sent
//   a look, then relays the player's look (its id in front) to every other
//   admitted player that sent one; a later 10 is relayed the same way;
// - a 10 whose payload is not exactly three packed integers within those
//   choices ends its sender's connection like any malformed frame (status
//   "Apparence invalide" or "Erreur de flux 2", the others get 7 flag 1).
// A client draws a player that never sent a look with DefaultLook.

// Packed integer: a 32-bit value as 1 to 5 bytes, 7 bits each, most
// significant group first; every byte but the last has bit 7 set.  Groups
// are emitted while the remaining value, taken as signed, is above 127, so
// a negative value is written as the single byte value AND 0x7F:
//   0 -> 00, 127 -> 7F, 128 -> 81 00, 300 -> 82 2C, 16384 -> 81 80 00.
inline constexpr int MaxPackedBytes = 5;
// Largest payload a frame may announce, in bytes; a larger one is a stream
// error, so a peer cannot make the other side hold unbounded memory.
inline constexpr int32_t MaxPayloadBytes = 64 * 1024;

// A frame, or a payload, that is not what the protocol says: raises
// "Erreur de flux 2".
[[noreturn]] void RaiseStreamError();
// Most output a host's connection may hold unsent, in bytes.  An honest
// client on a slow link never comes near it (a few seconds of a crowded
// game's traffic are a few kilobytes); only a peer that stops reading gets
// there, and it is then released as a departure without warning, so that it
// cannot fill the host's memory.  It holds the largest frame many times.
inline constexpr size_t MaxUnsentBytes = 1024 * 1024;

// Appends the packed form of value to out.
void AppendPacked(std::string& out, int32_t value);
std::string EncodeInteger(int32_t value);
// The packed forms of values, joined.
std::string EncodeIntegers(std::initializer_list<int32_t> values);
// Decodes the packed integer at data[pos] that must end before data[end]:
// on success stores it, moves pos past it and returns true; returns false
// (pos unchanged) when the bytes end first.
bool DecodePacked(const std::string& data, size_t& pos, size_t end, int32_t& value);

// The current-message record handed to handlers.  Positions are 1-based in
// the IO's InBuffer: PayloadEnd is the last payload byte, ReadPos the next
// byte to decode.
struct TZULMessage {
  int32_t MessageId = 0;
  int32_t PayloadLength = 0;
  int32_t PayloadEnd = 0;
  int32_t ReadPos = 0;
};

// Base of the owners of a game connection (the host's session, the client):
// a table from message id to handler, filled in the owner's constructor,
// and DefaultHandler for ids without one.
class TZULMessageTarget {
 public:
  using THandler = std::function<void(TZULMessage&)>;

  virtual ~TZULMessageTarget() = default;
  // Runs the handler registered for message.MessageId, else DefaultHandler.
  void RouteMessage(TZULMessage& message);
  // Messages without a handler end here; the frame is skipped either way.
  virtual void DefaultHandler(TZULMessage&) {}

 protected:
  void SetHandler(int32_t id, THandler handler);
  // SetHandler(3, &TZULSession::HandleJoin) from the owner's constructor.
  template <class TOwner>
  void SetHandler(int32_t id, void (TOwner::*handler)(TZULMessage&)) {
    TOwner* owner = static_cast<TOwner*>(this);
    SetHandler(id, THandler([owner, handler](TZULMessage& message) { (owner->*handler)(message); }));
  }

 private:
  std::vector<std::pair<int32_t, THandler>> FHandlers;
};

class TZULServer;
class TZULSessionItem;

// Framing reader and writer over one game connection.
//
// Frame: packed id, packed payload length, then that many payload bytes.
// Payload fields are packed integers and at most one string, which stands
// last and runs to the end of the payload (no length, no terminator).
//
// Writing is immediate (every message is flushed as it is sent) unless the
// IO belongs to a host's connection: then messages are gathered and the
// server sends each connection's share with one call at the end of the
// event loop's pass (TZULServer::SendGathered).
class TZULSocketIO : public TSocketIO {
 public:
  // Immediate writing (the client, tools).
  TZULSocketIO(TZULMessageTarget* owner, TSocketHandle handle);
  // Over session's connection, its output gathered by the session's server
  // (immediate when the server has no event loop to gather for).
  TZULSocketIO(TZULMessageTarget* owner, TZULSessionItem& session);
  // A gathering IO hands what it still holds to the socket first (one send,
  // as far as the socket takes it), so that a last message sent before a
  // close still leaves; then it leaves its server's list.
  ~TZULSocketIO() override;

  // Reading
  // One TSocketIO::Receive, then DecodeFrames.
  void Receive() override;
  // Routes every complete frame in InBuffer to Owner, in order, and removes
  // the handled ones once the call ends.  An incomplete frame waits for
  // more bytes.  A frame header announcing more than MaxPayloadBytes, or a
  // header integer longer than MaxPackedBytes, raises "Erreur de flux 2".
  // An error from a handler leaves at once with its frame the first one not
  // handled.  A handler may destroy this IO (through its owner); decoding
  // then stops without touching it.  A call made while a handler runs (a
  // modal box's event loop delivering the next read) handles and removes
  // the frames after that handler's own, each once, and the waiting handler
  // finds its frame and its Message as it left them.
  void DecodeFrames();
  // For handlers: the packed integer at ReadPos; raises "Erreur de flux 2"
  // when it does not end within the current frame's payload.
  int32_t ReadInteger();
  // For handlers: the bytes from ReadPos to PayloadEnd (empty when ReadPos
  // is past it); ReadPos moves past PayloadEnd.
  std::string ReadString();
  // ReadString without a copy: a view into InBuffer, valid until the
  // handler returns.
  std::string_view ReadStringView();

  // Writing
  // Appends the packed form of value to OutBuffer.
  void WriteInteger(int32_t value);
  // Writes id, payload length and payload, then flushes at once; what the
  // socket does not take waits in OutBuffer for the next write event.
  // Errors of Flush propagate.  A payload above MaxPayloadBytes, which the
  // peer would refuse, raises "Erreur de flux 2" and writes nothing.
  // Gathering: the frame is appended and the server told, nothing is sent
  // yet; a frame that would take the unsent output past MaxUnsentBytes,
  // after one send to make room, marks the connection Overflowed instead
  // and nothing more is kept for it.
  void SendMessage(int32_t id, const std::string& payload = std::string());
  // The same with the payload in two parts (a sender's id and what it
  // sent), joined only in OutBuffer.
  void SendMessage(int32_t id, std::string_view head, std::string_view tail);

  TZULMessageTarget* Owner() const { return FOwner; }
  // True for a host's connection whose output is gathered.
  bool Gathering() const { return FServer != nullptr; }
  // The frame being handled.
  TZULMessage Message;

 private:
  // One running DecodeFrames; the destructor marks every one.
  struct TDecodeLevel {
    bool Destroyed = false;
    TDecodeLevel* Outer = nullptr;
  };

  TZULMessageTarget* FOwner;
  TDecodeLevel* FLevels = nullptr;  // the innermost running DecodeFrames
  size_t FNext = 0;                 // where the first frame not yet routed starts

  friend class TZULServer;
  // Whether a frame of frameBytes may join OutBuffer under the cap.
  bool Room(size_t frameBytes);
  // Gathering only: the server and the connection, and whether the IO is
  // in the server's list of connections with output to send.
  TZULServer* FServer = nullptr;
  TZULSessionItem* FSession = nullptr;
  bool FListed = false;
  bool FOverflowed = false;
};

// A connection of the game port as the server's broadcasts see it: the
// host's session derives from it, creates IO with itself as owner in its
// constructor, and is released once Closing is set.
class TZULSessionItem : public TSessionItem {
 public:
  TZULSessionItem(TZULServer& server, TSocketHandle listening);

  // Ends the connection for a fault found outside its own events (its
  // output past MaxUnsentBytes); reason says why.  Releases it: `this` is
  // gone afterwards.
  virtual void Abandon(const std::string& reason);

  // Set when the connection must be released after the current event (a
  // broadcast that failed to send to it sets it too).
  bool Closing = false;
  // Set once the peer has logged in past the password: until then it hears
  // nothing relayed, only the answers to its own messages.
  bool Admitted = false;
  // The connection's framing; owned.
  std::unique_ptr<TZULSocketIO> IO;
};

// The game port's listening socket; its Connections hold TZULSessionItems.
//
// Output of its connections whose IO gathers (the host's sessions) is sent
// once per pass of the event loop: SendGathered runs when the loop's event
// dispatcher wakes (before its next batch of events) and when it is about
// to wait, so what the handlers of one batch sent has left, one send per
// connection, before the loop sleeps again.  Without an event loop the
// output leaves at once.
class TZULServer : public TServer {
 public:
  TZULServer(TMessageTarget* window, uint16_t port, uint32_t notification);
  // Destroys every connection (without announcements) while the lists of
  // gathered output still exist.
  ~TZULServer() override;

  // Sends the message to every admitted connection in list order except
  // `except` (may be null); a connection whose send fails gets Closing and the loop
  // goes on.  A payload above MaxPayloadBytes raises "Erreur de flux 2" to
  // the caller before anything is sent: a relayed message grows by the
  // sender's id, so a frame the host accepted may not fit any more.
  void Broadcast(TZULSessionItem* except, int32_t id, const std::string& payload);
  // The same with the payload in two parts, joined only in each receiver's
  // output (no payload is built per relayed message).
  void Broadcast(TZULSessionItem* except, int32_t id, std::string_view head, std::string_view tail);
  // Broadcasts 5 with payload to the others when payload is not empty, then
  // sends the acknowledgement 6 to session; its own send errors propagate.
  void RelayChat(TZULSessionItem& session, const std::string& payload);
  // The same with the payload as the sender's id and the line.
  void RelayChat(TZULSessionItem& session, std::string_view id, std::string_view line);

  // Whether its connections' IO may gather: only under an event loop.
  bool GathersOutput() const { return FPassHooks != nullptr; }
  // Sends the output every gathering connection holds, one send each;
  // a connection whose send fails gets Closing (released on its own next
  // event, as after a failed broadcast).  Then releases, through Abandon
  // with "Trop de données en attente", every connection whose output went
  // past MaxUnsentBytes; what their departures send goes out in the same
  // call.
  void SendGathered();

 private:
  friend class TZULSocketIO;
  // A gathering IO has output to send at the end of the pass.
  void Gathered(TZULSocketIO& io);
  // A gathering IO is going away.
  void Forget(TZULSocketIO& io);

  // Connections with output this pass, in the order they first had some;
  // swapped with FSending while sent, so neither allocates once grown.
  std::vector<TZULSocketIO*> FGathered;
  std::vector<TZULSocketIO*> FSending;
  std::vector<TZULSessionItem*> FOverflowed;
  bool FSendingNow = false;
  // Holds the connections to the event dispatcher's signals.
  std::unique_ptr<QObject> FPassHooks;
};
