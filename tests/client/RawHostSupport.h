// A raw game host for the client's tests: a listening TCP socket of the
// test's own on 127.0.0.1 that accepts one connection and speaks bytes,
// read and written while the test's event loop runs (the client lives in
// the same thread).  Frames are built and cut with a packed-integer coder of
// the tests' own, so the client's framing is checked, not reused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 7-bit packed form of a number, most significant group first.
std::string Packed(uint32_t value);
// A frame: packed id, packed payload length, payload.
std::string Frame(uint32_t id, const std::string& payload = std::string());

struct TRawFrame {
  uint32_t Id = 0;
  std::string Payload;
  friend bool operator==(const TRawFrame&, const TRawFrame&) = default;
};

class TRawHost {
 public:
  // Listens on an ephemeral port of 127.0.0.1.
  TRawHost();
  ~TRawHost();
  TRawHost(const TRawHost&) = delete;
  TRawHost& operator=(const TRawHost&) = delete;

  // 127.0.0.1 in network byte order, and the port in host byte order.
  static uint32_t Address();
  uint16_t Port() const { return FPort; }
  // Stops listening: connecting to Port() is then refused.
  void StopListening();

  // Takes the client's connection, running the event loop meanwhile.
  bool Accept(int timeoutMs = 3000);
  void Send(const std::string& bytes);
  void SendFrame(uint32_t id, const std::string& payload = std::string()) { Send(Frame(id, payload)); }
  // Closes the connection in an orderly way.
  void CloseConnection();
  // Ends the connection with a reset instead of an orderly close.
  void Abort();
  // Ends the sending side only: the client sees the close, the host still reads.
  void ShutdownSending();

  // Waits until a whole frame is there and takes it; false on time-out.
  bool NextFrame(TRawFrame& frame, int timeoutMs = 3000);
  // The frames that arrive within the time (to show that nothing more comes).
  std::vector<TRawFrame> FramesWithin(int ms);
  // Waits until at least count bytes are in Received.
  bool WaitBytes(std::size_t count, int timeoutMs = 3000);
  // Waits until the client has closed the connection, reading what comes first.
  bool WaitClosed(int timeoutMs = 3000);
  // Everything received and not yet taken as a frame.
  std::string Received;
  bool PeerClosed() const { return FPeerClosed; }

 private:
  void Poll();
  bool TakeFrame(TRawFrame& frame);

  int FListening = -1;
  int FConnection = -1;
  uint16_t FPort = 0;
  bool FPeerClosed = false;
};
