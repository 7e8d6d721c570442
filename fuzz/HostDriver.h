// Drives a running game host (TGameHost) from a TScript without a real
// event loop: peers are plain TCP sockets on 127.0.0.1, and the host gets
// the socket notifications the event source would post (accept, read until
// the peer's bytes are taken, write once room is back, close) straight into
// its Dispatch, so every run of one input takes the same path.  The game
// and web targets derive from it.  Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzScript.h"
#include "host/GameHost.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"

// One client connection; the host's session for it is HostHandle.
struct TFuzzPeer {
  int Fd = -1;
  TSocketHandle HostHandle = ws::INVALID_SOCKET;
  // Everything the host sent that the target has not taken yet.
  std::string Received;
  bool HostClosed = false;  // the host's side ended (end of stream or reset)
  bool Released = false;    // the host's session for it is gone
  bool Gone = false;        // this side is closed
};

class THostDriver {
 public:
  static constexpr int MaxPeers = 4;

  // web: the connections go to the web port, else to the game port.
  explicit THostDriver(bool web);
  virtual ~THostDriver();

  // Plays the script, then closes every peer and checks that the host is
  // back where it started: no connection, no row, no lingering socket, no
  // socket more.
  void Run(const uint8_t* data, std::size_t size);

  // A receive buffer this small on each peer (0: the system's) makes the
  // host's sends fill up and wait for write events.
  int PeerReceiveBufferBytes = 0;

  THostSettings Settings;
  TSessionListView List;
  std::unique_ptr<TGameHost> Host;

 protected:
  // The target's own part: the option byte, the bytes a peer has received
  // (called after every step; a peer whose host side ended is told once
  // more with HostClosed set), and whether a session holds unsent output.
  virtual void Option(uint8_t) {}
  virtual void Received(TFuzzPeer&) {}
  virtual bool HasOutput(TSessionItem& session) = 0;
  // Called after every step.
  virtual void CheckHost() {}

  TServer& Server() const;
  std::vector<TFuzzPeer> Peers;

 private:
  void Connect();
  void Send(TFuzzPeer& peer, const std::string& bytes);
  void Close(TFuzzPeer& peer);
  void Reset(TFuzzPeer& peer);
  void Event(TFuzzPeer& peer, uint16_t event, uint16_t error = 0);
  void Deliver(TSocketHandle handle, intptr_t lParam);
  void ReadPending(TFuzzPeer& peer);
  void DrainPeers();
  void WriteEvents();
  void Settle();
  void MarkReleased();
  void Finish();
  TFuzzPeer* PeerAt(uint8_t index);

  uint32_t FNotification;
  int FBaselineSockets = -1;
};
