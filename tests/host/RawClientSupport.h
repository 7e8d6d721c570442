// Raw test clients that speak bytes to a host on 127.0.0.1.  They read only
// while a test waits on them, running the event loop meanwhile, so the host
// may live in the same thread.  Frames are cut with a coder of the tests'
// own, so the host's coder is checked, not reused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The packed form of a number, and a whole frame (packed id, packed length).
std::string Packed(uint32_t value);
std::string Frame(uint32_t id, const std::string& payload);

struct TRawFrame {
  uint32_t Id = 0;
  std::string Payload;
};

class TRawClient {
 public:
  // Connects at once; a receive buffer size other than 0 is set first, and
  // a source address in 127.0.0.0/8 other than 127.0.0.1 when from is given.
  // An IPv6 from connects over IPv6 to to (::1 when not given): from ::1,
  // or from and to other addresses only inside a network namespace the
  // test made for itself.
  explicit TRawClient(uint16_t port, int receiveBufferBytes = 0, const char* from = nullptr,
                      const char* to = nullptr);
  ~TRawClient() { Close(); }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  void Send(const std::string& bytes);
  void SendFrame(uint32_t id, const std::string& payload) { Send(Frame(id, payload)); }
  void Close();
  // Ends the sending side only; the client reads on.
  void ShutdownSending();
  // Closes with a reset instead of an orderly end (SO_LINGER 0).
  void Reset();

  // Each waits until its condition holds; false on time-out.
  bool NextFrame(TRawFrame& frame, int timeoutMs = 3000);
  bool WaitBytes(std::size_t count, int timeoutMs = 3000);
  bool WaitClosed(int timeoutMs = 3000);
  // The frames that arrive within the time (to show that nothing comes).
  std::vector<TRawFrame> FramesWithin(int ms);

  // Received and not yet taken as a frame.
  std::string Received;
  bool PeerClosed = false;

 private:
  void Poll();
  bool TakeFrame(TRawFrame& frame);

  int FHandle = -1;
};
