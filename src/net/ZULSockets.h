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
#include <vector>

#include "net/Sockets.h"

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
};

// Packed integer: a 32-bit value as 1 to 5 bytes, 7 bits each, most
// significant group first; every byte but the last has bit 7 set.  Groups
// are emitted while the remaining value, taken as signed, is above 127, so
// a negative value is written as the single byte value AND 0x7F:
//   0 -> 00, 127 -> 7F, 128 -> 81 00, 300 -> 82 2C, 16384 -> 81 80 00.
inline constexpr int MaxPackedBytes = 5;
// Largest payload a frame may announce, in bytes; a larger one is a stream
// error, so a peer cannot make the other side hold unbounded memory.
inline constexpr int32_t MaxPayloadBytes = 64 * 1024;

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

// Framing reader and writer over one game connection.
//
// Frame: packed id, packed payload length, then that many payload bytes.
// Payload fields are packed integers and at most one string, which stands
// last and runs to the end of the payload (no length, no terminator).
class TZULSocketIO : public TSocketIO {
 public:
  TZULSocketIO(TZULMessageTarget* owner, TSocketHandle handle);
  ~TZULSocketIO() override;

  // Reading
  // One TSocketIO::Receive, then DecodeFrames.
  void Receive() override;
  // Routes every complete frame in InBuffer to Owner, in order, and removes
  // the handled ones from the front once the outermost call ends.  An
  // incomplete frame waits for more bytes.  A frame header announcing more
  // than MaxPayloadBytes, or a header integer longer than MaxPackedBytes,
  // raises "Erreur de flux 2".  An error from a handler leaves at once with
  // its frame still first in InBuffer.  A handler may destroy this IO
  // (through its owner); decoding then stops without touching it.  A call
  // made while a handler runs (a modal box's event loop delivering the next
  // read) handles the frames after that handler's own, each once, and the
  // waiting handler finds its Message as it left it.
  void DecodeFrames();
  // For handlers: the packed integer at ReadPos; raises "Erreur de flux 2"
  // when it does not end within the current frame's payload.
  int32_t ReadInteger();
  // For handlers: the bytes from ReadPos to PayloadEnd (empty when ReadPos
  // is past it); ReadPos moves past PayloadEnd.
  std::string ReadString();

  // Writing
  // Appends the packed form of value to OutBuffer.
  void WriteInteger(int32_t value);
  // Writes id, payload length and payload, then flushes at once; what the
  // socket does not take waits in OutBuffer for the next write event.
  // Errors of Flush propagate.  A payload above MaxPayloadBytes, which the
  // peer would refuse, raises "Erreur de flux 2" and writes nothing.
  void SendMessage(int32_t id, const std::string& payload = std::string());

  TZULMessageTarget* Owner() const { return FOwner; }
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
};

class TZULServer;

// A connection of the game port as the server's broadcasts see it: the
// host's session derives from it, creates IO with itself as owner in its
// constructor, and is released once Closing is set.
class TZULSessionItem : public TSessionItem {
 public:
  TZULSessionItem(TZULServer& server, TSocketHandle listening);

  // Set when the connection must be released after the current event (a
  // broadcast that failed to send to it sets it too).
  bool Closing = false;
  // The connection's framing; owned.
  std::unique_ptr<TZULSocketIO> IO;
};

// The game port's listening socket; its Connections hold TZULSessionItems.
class TZULServer : public TServer {
 public:
  using TServer::TServer;

  // Sends the message to every connection in list order except `except`
  // (may be null); a connection whose send fails gets Closing and the loop
  // goes on.  A payload above MaxPayloadBytes raises "Erreur de flux 2" to
  // the caller before anything is sent: a relayed message grows by the
  // sender's id, so a frame the host accepted may not fit any more.
  void Broadcast(TZULSessionItem* except, int32_t id, const std::string& payload);
  // Broadcasts 5 with payload to the others when payload is not empty, then
  // sends the acknowledgement 6 to session; its own send errors propagate.
  void RelayChat(TZULSessionItem& session, const std::string& payload);
};
