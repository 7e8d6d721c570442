// Raw peers that speak bytes over TCP on 127.0.0.1: a client that connects
// to a host under test, and a host that a client under test connects to.
// They read only while a test waits on them, running the event loop
// meanwhile, so the program under test may live in the same thread.  Each
// owns its sockets; frames are cut with the tests' own coder (RawFrames).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/RawFrames.h"

// One connection's bytes, both ways.
class TRawConnection {
 public:
  ~TRawConnection() { Close(); }
  TRawConnection(const TRawConnection&) = delete;
  TRawConnection& operator=(const TRawConnection&) = delete;

  // Writing
  void Send(const std::string& bytes);
  void SendFrame(uint32_t id, const std::string& payload = std::string()) { Send(Frame(id, payload)); }
  // Closes in an orderly way.
  void Close();
  // Ends the sending side only: the peer sees the end, this side reads on.
  void ShutdownSending();
  // Closes with a reset instead of an orderly end (SO_LINGER 0).
  void Reset();

  // Reading: each waits until its condition holds; false on time-out.
  bool NextFrame(TRawFrame& frame, int timeoutMs = 3000);
  bool WaitBytes(std::size_t count, int timeoutMs = 3000);
  // Until the peer has ended the connection, reading what comes first.
  bool WaitClosed(int timeoutMs = 3000);
  // The frames that arrive within the time (to show that nothing more comes).
  std::vector<TRawFrame> FramesWithin(int ms);

  // Received and not yet taken as a frame.
  std::string Received;
  bool PeerClosed = false;

 protected:
  TRawConnection() = default;
  // Takes a connected socket, made non-blocking here.
  void Adopt(int handle);
  bool Connected() const { return FHandle >= 0; }

 private:
  void Poll();

  int FHandle = -1;
};

class TRawClient : public TRawConnection {
 public:
  // Connects at once; a receive buffer size other than 0 is set first, and
  // a source address in 127.0.0.0/8 other than 127.0.0.1 when from is given.
  // An IPv6 from connects over IPv6 to to (::1 when not given): from ::1,
  // or from and to other addresses only inside a network namespace the
  // test made for itself.
  explicit TRawClient(uint16_t port, int receiveBufferBytes = 0, const char* from = nullptr,
                      const char* to = nullptr);
};

class TRawHost : public TRawConnection {
 public:
  // Listens on an ephemeral port of 127.0.0.1.
  TRawHost();
  ~TRawHost();

  // 127.0.0.1 in network byte order, and the port in host byte order.
  static uint32_t Address();
  uint16_t Port() const { return FPort; }
  // Stops listening: connecting to Port() is then refused.
  void StopListening();
  // Takes the client's connection, running the event loop meanwhile.
  bool Accept(int timeoutMs = 3000);

 private:
  int FListening = -1;
  uint16_t FPort = 0;
};
