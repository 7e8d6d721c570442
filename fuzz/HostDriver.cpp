#include "HostDriver.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "FuzzSupport.h"
#include "platform/Errors.h"
#include "platform/SocketEvents.h"

namespace {

// How long the driver waits for bytes the peer has not sent yet (its
// unsent queue, not the unacknowledged one: acknowledgements may be delayed
// while the bytes already wait at the host), in milliseconds; loopback
// delivery takes microseconds, so reaching it means the host stopped reading.
constexpr int InFlightWaitMs = 2000;
constexpr int LingerPumpTurns = 200;
// Rounds of reading and write events after a step; each moves at least a
// receive buffer's worth, so this bounds the answers at some megabytes.
constexpr int SettleRounds = 1000;

// The open sockets of the process, by descriptor (the sanitizers' own
// helpers open pipes of their own as they go, so only sockets are counted).
std::vector<std::string> OpenSockets() {
  std::vector<std::string> sockets;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir)) {
      char target[256] = {};
      std::string link = std::string("/proc/self/fd/") + entry->d_name;
      if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
          std::string(target).starts_with("socket:"))
        sockets.push_back(std::string(entry->d_name) + " " + target);
    }
    ::closedir(dir);
  }
  return sockets;
}

// FUZZ_TRACE=1 in the environment prints every step and what the peers
// received, for reading a found input.
bool Tracing() {
  static const bool tracing = std::getenv("FUZZ_TRACE") != nullptr;
  return tracing;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  char hex[8];
  for (unsigned char c : bytes.substr(0, 200)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return bytes.size() > 200 ? out + "... (" + std::to_string(bytes.size()) + " bytes)" : out;
}

int Pending(int fd, unsigned long request) {
  int bytes = 0;
  return ::ioctl(fd, request, &bytes) == 0 ? bytes : 0;
}

}  // namespace

THostDriver::THostDriver(bool web) : FNotification(web ? CM_WEBSOCKET : CM_GAMESOCKET) {
  StartApplication();
  Settings.Port = 0;
  Settings.Web = web;
  Settings.WebPort = 0;
  Host = std::make_unique<TGameHost>(Settings, List);
  Host->Start();
}

THostDriver::~THostDriver() = default;

TServer& THostDriver::Server() const {
  return FNotification == CM_WEBSOCKET ? *Host->WebServer() : *Host->GameServer();
}

void THostDriver::Run(const uint8_t* data, std::size_t size) {
  if (FBaselineSockets < 0) FBaselineSockets = static_cast<int>(OpenSockets().size());
  TScript script(data, size);
  while (!script.AtEnd()) {
    TStep step = script.NextStep();
    if (step == TStep::Connect) {
      if (Tracing()) std::fprintf(stderr, "connect\n");
      Connect();
    } else if (step == TStep::Option) {
      Option(script.Byte());
    } else {
      uint8_t index = script.Byte();
      std::string bytes = step == TStep::Send ? script.Bytes() : std::string();
      TFuzzPeer* peer = PeerAt(index);
      if (!peer || peer->Gone) continue;
      if (Tracing())
        std::fprintf(stderr, "step %d peer %d: %s\n", static_cast<int>(step),
                     static_cast<int>(peer - Peers.data()), Printable(bytes).c_str());
      switch (step) {
        case TStep::Send:
          Send(*peer, bytes);
          break;
        case TStep::Close:
          Close(*peer);
          break;
        case TStep::Reset:
          Reset(*peer);
          break;
        case TStep::Write:
          Event(*peer, FD_WRITE);
          break;
        default:
          break;
      }
    }
    Settle();
    CheckHost();
  }
  Finish();
}

TFuzzPeer* THostDriver::PeerAt(uint8_t index) {
  return Peers.empty() ? nullptr : &Peers[index % Peers.size()];
}

void THostDriver::Connect() {
  int live = 0;
  for (const TFuzzPeer& peer : Peers) live += peer.Gone ? 0 : 1;
  if (live >= MaxPeers) return;
  TFuzzPeer peer;
  peer.Fd = ::socket(AF_INET, SOCK_STREAM, 0);
  Require(peer.Fd >= 0, "a peer socket opens");
  if (PeerReceiveBufferBytes > 0)
    ::setsockopt(peer.Fd, SOL_SOCKET, SO_RCVBUF, &PeerReceiveBufferBytes, sizeof PeerReceiveBufferBytes);
  // Each peer speaks from the next address of 127.1.0.0/16: a run makes
  // thousands of connections a second, and each leaves its port in
  // TIME-WAIT for a minute, more than one source address has ports for.
  static uint32_t nextSource = 0;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl((127u << 24 | 1u << 16) + 1 + nextSource++ % 0xFFFE);
  Require(::bind(peer.Fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0,
          "a peer takes its address");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(Server().Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int result = ::connect(peer.Fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (result != 0 && errno == EINTR) {
    // libFuzzer's watchdog signal cut the wait short; the connect goes on.
    pollfd wait{peer.Fd, POLLOUT, 0};
    while (::poll(&wait, 1, InFlightWaitMs) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(peer.Fd, SOL_SOCKET, SO_ERROR, &error, &size);
    result = error == 0 ? 0 : -1;
    errno = error;
  }
  if (result != 0) {
    std::fprintf(stderr, "connect: %s\n", std::strerror(errno));
    Require(false, "a peer connects");
  }
  int before = Server().Connections().Count();
  Deliver(Server().Handle(), FD_ACCEPT);
  TSessionList& sessions = Server().Connections();
  Require(sessions.Count() == before + 1, "an accept makes one connection");
  peer.HostHandle = sessions[sessions.Count() - 1]->Handle();
  Require(peer.HostHandle != ws::INVALID_SOCKET, "a pending connection is accepted");
  Peers.push_back(std::move(peer));
}

void THostDriver::Send(TFuzzPeer& peer, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t count = ::send(peer.Fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host's buffers are full: let it read before sending on.
      ReadPending(peer);
      DrainPeers();
      if (peer.Released) return;
      continue;
    }
    return;  // the host has gone away; the bytes are lost as on a real link
  }
  ReadPending(peer);
}

void THostDriver::Close(TFuzzPeer& peer) {
  ::close(peer.Fd);
  peer.Gone = true;
  ReadPending(peer);
  Event(peer, FD_CLOSE);
}

void THostDriver::Reset(TFuzzPeer& peer) {
  linger abort{1, 0};
  ::setsockopt(peer.Fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(peer.Fd);
  peer.Gone = true;
  Event(peer, FD_CLOSE, ws::WSAECONNRESET);
}

// The event source posts nothing for a connection that the host released.
void THostDriver::Event(TFuzzPeer& peer, uint16_t event, uint16_t error) {
  if (peer.Released) return;
  Deliver(peer.HostHandle, WSAMAKESELECTREPLY(event, error));
}

// As the event source delivers: through the guard that stands between the
// event loop and the system (the system's own errors end there).
void THostDriver::Deliver(TSocketHandle handle, intptr_t lParam) {
  TMessage message{FNotification, handle, lParam};
  try {
    Host->Dispatch(message);
  } catch (const Exception&) {
  }
  MarkReleased();
}

// Handles are descriptor numbers, which the next accept may reuse: a peer
// learns at once that its session is gone.
void THostDriver::MarkReleased() {
  for (TFuzzPeer& peer : Peers)
    if (!peer.Released && !Server().Connections().FindBySocket(peer.HostHandle)) peer.Released = true;
}

// One read event per receive while bytes wait, as the event source posts
// them, until the peer's bytes have all arrived and been taken.
void THostDriver::ReadPending(TFuzzPeer& peer) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(InFlightWaitMs);
  while (!peer.Released) {
    int hostFd = static_cast<int>(peer.HostHandle);
    if (Pending(hostFd, FIONREAD) > 0) {
      Event(peer, FD_READ);
      continue;
    }
    bool inFlight = !peer.Gone && Pending(peer.Fd, SIOCOUTQNSD) > 0;
    if (!inFlight || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::yield();
  }
}

void THostDriver::DrainPeers() {
  char chunk[4096];
  for (TFuzzPeer& peer : Peers) {
    if (peer.Gone || peer.HostClosed) continue;
    for (;;) {
      ssize_t count = ::recv(peer.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (count > 0) {
        peer.Received.append(chunk, static_cast<std::size_t>(count));
        continue;
      }
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (count < 0 && errno == EINTR) continue;
      peer.HostClosed = true;
      break;
    }
    if (Tracing() && !peer.Received.empty())
      std::fprintf(stderr, "  peer %d got%s: %s\n", static_cast<int>(&peer - Peers.data()),
                   peer.HostClosed ? " (host closed)" : "", Printable(peer.Received).c_str());
    Received(peer);
  }
}

// Room came back for every session that holds unsent output (the peers
// have just read what they had).
void THostDriver::WriteEvents() {
  for (TFuzzPeer& peer : Peers) {
    if (peer.Released) continue;
    TSessionItem* session = Server().Connections().FindBySocket(peer.HostHandle);
    if (session && HasOutput(*session)) Event(peer, FD_WRITE);
  }
}

// The peers read until the host has nothing more to send them.
void THostDriver::Settle() {
  for (int round = 0; round < SettleRounds; ++round) {
    DrainPeers();
    bool waiting = false;
    for (TFuzzPeer& peer : Peers) {
      if (peer.Released || peer.Gone) continue;
      TSessionItem* session = Server().Connections().FindBySocket(peer.HostHandle);
      waiting = waiting || (session && HasOutput(*session));
    }
    if (!waiting) return;
    WriteEvents();
  }
}

void THostDriver::Finish() {
  for (TFuzzPeer& peer : Peers) {
    if (peer.Gone) continue;
    Settle();
    Close(peer);
  }
  // A download whose peer closed goes on until a send fails: as in the
  // event loop, the host's sending passes run and the sockets that hold
  // output are told they can write again.
  for (int turn = 0; turn < LingerPumpTurns && Server().Connections().Count() > 0; ++turn) {
    WriteEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // The passes are paced by time: let a period go by.
    if (Server().Connections().Count() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Require(Server().Connections().Count() == 0, "every connection ends when its peer closes");
  Require(List.Count() == 0, "every row leaves the list with its connection");
  // Released sessions whose peers were still there linger until these
  // closes reach them.
  for (int turn = 0; turn < LingerPumpTurns && LingeringSockets() > 0; ++turn) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (LingeringSockets() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Require(LingeringSockets() == 0, "a released connection stops lingering once its peer has closed");
  Peers.clear();
  std::vector<std::string> sockets = OpenSockets();
  if (static_cast<int>(sockets.size()) != FBaselineSockets) {
    std::fprintf(stderr, "%zu sockets open, %d at the start:\n", sockets.size(), FBaselineSockets);
    for (const std::string& socket : sockets) std::fprintf(stderr, "  %s\n", socket.c_str());
    Require(false, "no socket is left open");
  }
}
