// Raw test clients that speak bytes to a host on 127.0.0.1: a plain TCP
// socket, non-blocking, read while the test's event loop runs (the host may
// live in the same thread).  Frames are built and cut with a packed-integer
// coder of the tests' own, so the host's coder is checked, not reused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The 7-bit packed form of a number, most significant group first.
std::string Packed(uint32_t value);
// A frame: packed id, packed payload length, payload.
std::string Frame(uint32_t id, const std::string& payload);

struct TRawFrame {
  uint32_t Id = 0;
  std::string Payload;
};

class TRawClient {
public:
  // Connects at once (blocking connect, then non-blocking reads); a
  // receive buffer size other than 0 is set before connecting.
  explicit TRawClient(uint16_t port, int receiveBufferBytes = 0);
  ~TRawClient();
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connected() const { return FHandle >= 0; }
  void Send(const std::string& bytes);
  void SendFrame(uint32_t id, const std::string& payload) { Send(Frame(id, payload)); }

  // Waits until a whole frame is there and takes it; false on time-out.
  bool NextFrame(TRawFrame& frame, int timeoutMs = 3000);
  // Collects the frames that arrive within the time (to show that nothing,
  // or nothing more, comes).
  std::vector<TRawFrame> FramesWithin(int ms);
  // Waits until the peer has closed the connection (reads what comes first).
  bool WaitClosed(int timeoutMs = 3000);
  // Waits until at least count bytes are in Received.
  bool WaitBytes(std::size_t count, int timeoutMs = 3000);
  // Everything received and not yet taken as a frame.
  std::string Received;
  bool PeerClosed() const { return FPeerClosed; }
  // Ends the connection with a reset instead of an orderly close.
  void Abort();
  void Close();

private:
  void Poll();
  bool TakeFrame(TRawFrame& frame);

  int FHandle = -1;
  bool FPeerClosed = false;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
uint16_t FreePort();
