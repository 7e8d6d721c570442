// A minimal relay of the game's frames on plain sockets and epoll: the
// ceiling on this machine against which the host's relaying is measured.
// It answers a join as the host does (3 with the id, 8 with the start cell,
// 4 to and about every other connection), relays 5 (with 6 back to the
// sender), 7, 8 and 9 with the sender's id in front, and announces a
// connection that ends without 7.  No password, no list, no Qt: one thread,
// non-blocking sockets read until they are empty, and the frames for each
// connection gathered and sent with one call per turn of the loop.
//
// Usage: bench_EpollRelay [--port N] [--seconds S]
// Listens on 127.0.0.1 only; prints "port N" once listening; ends on SIGTERM,
// SIGINT or after S seconds (default 600).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr int MaxEvents = 256;
constexpr size_t ReadChunkBytes = 64 * 1024;
constexpr int32_t MaxPayloadBytes = 64 * 1024;
constexpr int MaxPackedBytes = 5;
constexpr int ListenBacklog = 128;
constexpr int DefaultSeconds = 600;
constexpr int WaitMs = 100;
constexpr int32_t StartColumn = 127;
constexpr int32_t StartRowBase = 126;

enum : int32_t {
  MsgJoin = 3,
  MsgPlayer = 4,
  MsgChat = 5,
  MsgChatAck = 6,
  MsgLeave = 7,
  MsgPosition = 8,
  MsgWalk = 9
};

// Packed integer: 7-bit groups, most significant first, bit 7 set on every
// byte but the last; a negative value is sent as its low 7 bits.
void Pack(std::string& out, int32_t value) {
  if (value <= 0x7F) {
    out.push_back(static_cast<char>(value & 0x7F));
    return;
  }
  char groups[MaxPackedBytes];
  int count = 0;
  for (auto rest = static_cast<uint32_t>(value); rest > 0; rest >>= 7) groups[count++] = char(rest & 0x7F);
  while (--count > 0) out.push_back(static_cast<char>(groups[count] | 0x80));
  out.push_back(groups[0]);
}

// Decodes at data[pos..end); false when the bytes end first or the integer
// runs longer than MaxPackedBytes (then `bad` is set).
bool Unpack(const std::string& data, size_t& pos, size_t end, int32_t& value, bool& bad) {
  uint32_t sum = 0;
  size_t at = pos;
  for (int count = 0; at < end; ++count) {
    if (count == MaxPackedBytes) {
      bad = true;
      return false;
    }
    auto byte = static_cast<uint8_t>(data[at++]);
    sum += byte & 0x7F;
    if (!(byte & 0x80)) {
      value = static_cast<int32_t>(sum);
      pos = at;
      return true;
    }
    sum <<= 7;
  }
  return false;
}

struct TConnection {
  int Fd = -1;
  std::string Id;  // packed fd
  int32_t Y = 0;
  std::string Name;
  bool Left = false;
  bool Closing = false;
  bool Dirty = false;
  bool WantWrite = false;
  std::string In;
  std::string Out;
};

class TRelay {
 public:
  bool Listen(uint16_t port);
  uint16_t Port() const;
  int Run(int seconds);

 private:
  void Accept();
  void Read(TConnection& c);
  void Frame(TConnection& c, int32_t id, const std::string& payload);
  void Queue(TConnection& c, int32_t id, const std::string& payload);
  void Broadcast(const TConnection& except, int32_t id, const std::string& payload);
  void Flush(TConnection& c);
  void Close(TConnection& c);
  void Watch(TConnection& c, bool write);

  int FListen = -1;
  int FPoll = -1;
  std::unordered_map<int, std::unique_ptr<TConnection>> FConnections;
  std::vector<int> FOrder;  // accept order, for the 4s a newcomer gets
  std::vector<TConnection*> FDirty;
};

bool TRelay::Listen(uint16_t port) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  if (::listen(FListen, ListenBacklog) != 0) return false;
  FPoll = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = FListen;
  return ::epoll_ctl(FPoll, EPOLL_CTL_ADD, FListen, &event) == 0;
}

uint16_t TRelay::Port() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

int TRelay::Run(int seconds) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  int signals = ::signalfd(-1, &stop, SFD_NONBLOCK | SFD_CLOEXEC);
  epoll_event watch{};
  watch.events = EPOLLIN;
  watch.data.fd = signals;
  ::epoll_ctl(FPoll, EPOLL_CTL_ADD, signals, &watch);

  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  epoll_event events[MaxEvents];
  for (bool running = true; running && std::chrono::steady_clock::now() < end;) {
    int ready = ::epoll_wait(FPoll, events, MaxEvents, WaitMs);
    for (int i = 0; i < ready; ++i) {
      int fd = events[i].data.fd;
      if (fd == signals) {
        running = false;
      } else if (fd == FListen) {
        Accept();
      } else if (auto found = FConnections.find(fd); found != FConnections.end()) {
        TConnection& c = *found->second;
        if (events[i].events & EPOLLOUT) Flush(c);
        if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) Read(c);
      }
    }
    for (TConnection* c : FDirty) Flush(*c);
    FDirty.clear();
    // Closing announces with 7 and so dirties others; repeat until settled.
    for (bool again = true; again;) {
      again = false;
      for (auto it = FConnections.begin(); it != FConnections.end(); ++it)
        if (it->second->Closing) {
          Close(*it->second);
          again = true;
          break;
        }
      for (TConnection* c : FDirty) Flush(*c);
      FDirty.clear();
    }
  }
  ::close(signals);
  return 0;
}

void TRelay::Accept() {
  for (;;) {
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    auto c = std::make_unique<TConnection>();
    c->Fd = fd;
    // Frames go out as soon as a turn of the loop has gathered them.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Pack(c->Id, fd);
    FOrder.push_back(fd);
    c->Y = StartRowBase + static_cast<int32_t>(FConnections.size()) + 1;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(FPoll, EPOLL_CTL_ADD, fd, &event);
    FConnections[fd] = std::move(c);
  }
}

// Frame: packed id, packed payload length, payload.
void TRelay::Read(TConnection& c) {
  char chunk[ReadChunkBytes];
  for (;;) {
    ssize_t got = ::recv(c.Fd, chunk, sizeof chunk, 0);
    if (got > 0) {
      c.In.append(chunk, static_cast<size_t>(got));
      if (static_cast<size_t>(got) < sizeof chunk) break;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    c.Closing = true;
    break;
  }
  size_t done = 0;
  for (;;) {
    size_t pos = done;
    int32_t id = 0, length = 0;
    bool bad = false;
    if (!Unpack(c.In, pos, c.In.size(), id, bad) || !Unpack(c.In, pos, c.In.size(), length, bad)) {
      if (bad) c.Closing = true;
      break;
    }
    if (length < 0 || length > MaxPayloadBytes) {
      c.Closing = true;
      break;
    }
    if (c.In.size() - pos < static_cast<size_t>(length)) break;
    Frame(c, id, c.In.substr(pos, static_cast<size_t>(length)));
    done = pos + static_cast<size_t>(length);
  }
  c.In.erase(0, done);
}

void TRelay::Frame(TConnection& c, int32_t id, const std::string& payload) {
  switch (id) {
    case MsgJoin: {
      c.Name = payload;
      Queue(c, MsgJoin, c.Id);
      std::string place = c.Id;
      for (int32_t value : {0, StartColumn, c.Y, 0}) Pack(place, value);
      Queue(c, MsgPosition, place);
      auto describe = [](const TConnection& who, char flag) {
        std::string out = who.Id;
        for (int32_t value : {0, StartColumn, who.Y}) Pack(out, value);
        return out + flag + who.Name;
      };
      Broadcast(c, MsgPlayer, describe(c, 0));
      for (int fd : FOrder)
        if (fd != c.Fd) Queue(c, MsgPlayer, describe(*FConnections[fd], 1));
      break;
    }
    case MsgChat:
      if (payload.empty()) break;
      Broadcast(c, MsgChat, c.Id + payload);
      Queue(c, MsgChatAck, std::string());
      break;
    case MsgLeave:
      if (c.Left) break;
      c.Left = true;
      Broadcast(c, MsgLeave, c.Id + '\0');
      break;
    case MsgPosition:
      Broadcast(c, MsgPosition, c.Id + '\0' + payload);
      break;
    case MsgWalk:
      Broadcast(c, MsgWalk, c.Id + payload);
      break;
    default:
      break;
  }
}

void TRelay::Queue(TConnection& c, int32_t id, const std::string& payload) {
  if (c.Closing) return;
  Pack(c.Out, id);
  Pack(c.Out, static_cast<int32_t>(payload.size()));
  c.Out += payload;
  if (!c.Dirty) {
    c.Dirty = true;
    FDirty.push_back(&c);
  }
}

void TRelay::Broadcast(const TConnection& except, int32_t id, const std::string& payload) {
  for (int fd : FOrder)
    if (fd != except.Fd) Queue(*FConnections[fd], id, payload);
}

void TRelay::Flush(TConnection& c) {
  c.Dirty = false;
  while (!c.Out.empty()) {
    ssize_t sent = ::send(c.Fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      c.Out.erase(0, static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    c.Closing = true;
    c.Out.clear();
  }
  Watch(c, !c.Out.empty());
}

void TRelay::Watch(TConnection& c, bool write) {
  if (c.WantWrite == write) return;
  c.WantWrite = write;
  epoll_event event{};
  event.events = EPOLLIN | (write ? EPOLLOUT : 0u);
  event.data.fd = c.Fd;
  ::epoll_ctl(FPoll, EPOLL_CTL_MOD, c.Fd, &event);
}

// The peer is told nothing more; the others hear of it unless it said
// goodbye.  What was queued for it is sent first, as far as it goes.
void TRelay::Close(TConnection& c) {
  int fd = c.Fd;
  std::string id = c.Id;
  bool left = c.Left;
  if (!c.Out.empty()) ::send(fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::epoll_ctl(FPoll, EPOLL_CTL_DEL, fd, nullptr);
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
  for (size_t i = 0; i < FDirty.size(); ++i)
    if (FDirty[i] == &c) FDirty.erase(FDirty.begin() + static_cast<long>(i));
  for (size_t i = 0; i < FOrder.size(); ++i)
    if (FOrder[i] == fd) FOrder.erase(FOrder.begin() + static_cast<long>(i));
  FConnections.erase(fd);
  if (!left) {
    TConnection nobody;
    Broadcast(nobody, MsgLeave, id + '\1');
  }
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0, seconds = DefaultSeconds;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0)
      port = std::strtol(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--seconds") == 0)
      seconds = std::strtol(argv[i + 1], nullptr, 10);
  }
  if (port < 0 || port > 65535 || seconds <= 0) {
    std::fprintf(stderr, "Usage: bench_EpollRelay [--port N] [--seconds S]\n");
    return 2;
  }
  TRelay relay;
  if (!relay.Listen(static_cast<uint16_t>(port))) {
    std::fprintf(stderr, "bench_EpollRelay: cannot listen on 127.0.0.1:%ld: %s\n", port,
                 std::strerror(errno));
    return 1;
  }
  std::printf("port %u\n", relay.Port());
  std::fflush(stdout);
  return relay.Run(static_cast<int>(seconds));
}
