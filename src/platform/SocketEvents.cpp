#include "platform/SocketEvents.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/Errors.h"

// Contents
//   1. Registrations and lingering sockets: what the source knows of a fd
//   2. The epoll set: interest decided from that state, one place
//   3. A wake-up: the ready events of the set, delivered in one pass
//   4. Accept under descriptor exhaustion: the spare descriptor, the pause
//   5. Lingering sockets
//   6. The entry points (SelectEvents, the wrappers' facts)
//
// Every registered socket and every lingering one sits in one epoll set,
// level-triggered; Qt sees only the set's own descriptor, through one
// QSocketNotifier.  A wake-up takes the ready events (at most
// MaxEventsPerPass, so timers and input get their turn) and delivers them
// in order.  What a socket may post next is kept as state (a read posted
// and not yet answered by recv, a write wanted after a would-block, the
// close sent, an accept paused); the epoll interest of the socket follows
// from that state in one function (Interest) and is changed only when it
// differs from what the set holds.  The wrappers report facts (a recv was
// made, a send would block, an accept succeeded or failed) and nothing else.
//
// A socket whose interest is empty leaves the set: epoll reports a hang-up
// or an error whatever the mask, and a level-triggered report that nobody
// answers would wake the loop forever.
//
// Each entry of the set carries the fd and the serial of its registration
// (or lingering socket).  A handler may close any socket, one later in the
// same batch included, and its fd number may be taken again by a socket
// opened meanwhile: an event whose serial is not the current one for that
// fd is stale and dropped.

namespace {

using ws::TSocketHandle;

// Events taken from the set per wake-up; the rest stay ready and come with
// the next turn of the event loop.
constexpr int MaxEventsPerPass = 256;
// How long a listening socket rests after an accept failed for want of
// descriptors or memory, in milliseconds.
constexpr int AcceptPauseMs = 100;
// Waiting connections turned away (accepted and closed at once) per
// accept that failed for want of descriptors.
constexpr int MaxTurnedAway = 64;
// Lingering sockets ended early, the oldest first, per accept that failed
// for want of descriptors while some linger.
constexpr int LingerersEndedPerFailedAccept = 16;
// What a lingering socket drops per wake-up: chunks of this many bytes.
constexpr int LingerDrainChunks = 16;
constexpr size_t LingerChunkBytes = 4096;

enum class TState { Idle, Listening, Connecting, Connected, Failed };

struct TRegistration {
  TSocketHandle Handle = ws::INVALID_SOCKET;
  uint32_t Serial = 0;
  TMessageTarget* Target = nullptr;
  uint32_t Message = 0;
  uint32_t Mask = 0;
  TState State = TState::Idle;
  // FD_READ or FD_ACCEPT was posted and no recv or accept has followed.
  bool ReadPosted = false;
  // FD_WRITE is due once the socket can send.
  bool WriteWanted = false;
  bool CloseSent = false;
  // A listening socket resting after an accept failed for want of
  // descriptors.
  bool AcceptPaused = false;
  // The wake-up during which the last recv was made: readiness seen in that
  // same wake-up may be stale.
  uint64_t ReadWakeUp = 0;
  // The epoll events the set holds for it; 0 when it is not in the set.
  uint32_t Armed = 0;
};

// A closed connection waiting for its peer's end before the fd is closed.
struct TLingerer {
  int Fd = -1;
  uint32_t Serial = 0;
};

uint64_t Key(int fd, uint32_t serial) {
  return (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(fd);
}
int KeyFd(uint64_t key) { return static_cast<int>(static_cast<uint32_t>(key)); }
uint32_t KeySerial(uint64_t key) { return static_cast<uint32_t>(key >> 32); }

bool IsListening(int fd) {
  int on = 0;
  socklen_t size = sizeof(on);
  return ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &size) == 0 && on;
}

bool IsConnected(int fd) {
  sockaddr peer{};
  socklen_t size = sizeof(peer);
  return ::getpeername(fd, &peer, &size) == 0;
}

bool IsOpenFd(TSocketHandle handle) {
  return handle <= static_cast<TSocketHandle>(INT_MAX) && fcntl(static_cast<int>(handle), F_GETFD) >= 0;
}

void MakeNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

class TEventSource {
 public:
  static TEventSource& Instance();

  // 1. Registrations
  TRegistration* Find(TSocketHandle handle, uint32_t serial = 0) const;
  TRegistration& Register(TSocketHandle handle);
  // Drops the registration; Forget also what is known of the socket.
  void Unregister(TSocketHandle handle);
  void Forget(TSocketHandle handle);
  void ForgetTarget(TMessageTarget* target);
  void CloseAll();

  // 2. The set
  void Arm(TRegistration& entry);

  // 4. Accept
  void AcceptFailed(TRegistration& entry, int error);
  void KeepSpare();

  // 5. Lingering
  void Linger(int fd);
  int EndOldestLingerers(int most);
  bool IsLingering(int fd) const { return FindLingerer(fd) != nullptr; }
  int LingeringCount() const { return FLingeringCount; }
  uint64_t WakeUps() const { return FWakeUps; }

  void DeferConnectFailure(TRegistration& entry, int error);

  std::unordered_set<TSocketHandle> PendingConnects;
  std::unordered_map<TSocketHandle, int> Broken;

 private:
  bool EnsureSet();
  void Control(int operation, int fd, uint32_t events, uint64_t key);
  // 3. A wake-up
  void WakeUp();
  void Deliver(uint64_t key, uint32_t events);
  void Readable(TRegistration& entry, uint32_t events);
  void Writable(TRegistration& entry);
  void Post(TRegistration& entry, uint16_t event, int error);
  void AfterDelivery(int fd, uint32_t serial);
  void ResumeAccept(TSocketHandle handle, uint32_t serial);

  TLingerer* FindLingerer(int fd, uint32_t serial = 0) const;
  void DrainLingerer(TLingerer& lingerer);
  void EndLingerer(int fd);

  uint32_t NextSerial() {
    if (++FLastSerial == 0) ++FLastSerial;
    return FLastSerial;
  }
  template <class T>
  static T* Slot(const std::vector<std::unique_ptr<T>>& table, int fd) {
    return fd >= 0 && static_cast<size_t>(fd) < table.size() ? table[static_cast<size_t>(fd)].get() : nullptr;
  }
  template <class T>
  static std::unique_ptr<T>& Place(std::vector<std::unique_ptr<T>>& table, int fd) {
    if (static_cast<size_t>(fd) >= table.size()) table.resize(static_cast<size_t>(fd) + 1);
    return table[static_cast<size_t>(fd)];
  }

  // Indexed by fd.
  std::vector<std::unique_ptr<TRegistration>> FRegistrations;
  std::vector<std::unique_ptr<TLingerer>> FLingerers;
  int FLingeringCount = 0;
  int FEpoll = -1;
  std::unique_ptr<QSocketNotifier> FNotifier;
  // Parent of the source's timers, so that CloseAll cancels them.
  std::unique_ptr<QObject> FTimers;
  int FSpare = -1;
  uint32_t FLastSerial = 0;
  // The registration whose event is being delivered: its interest is set
  // once the handler returns, with whatever the handler did to it.
  uint64_t FDelivering = 0;
  // Counts wake-ups; a handler that runs a nested event loop (a modal box)
  // makes the rest of the outer batch stale.
  uint64_t FWakeUps = 0;
};

// The system's socket registry.  Made once and never destroyed: its
// notifier and timers are released before the application object goes
// (CloseAll, from WSACleanup or the application's post routine).
TEventSource& TEventSource::Instance() {
  static TEventSource* source = [] {
    qAddPostRoutine([] { socket_events::CloseAll(); });
    return new TEventSource;
  }();
  return *source;
}

// ---------------------------------------------------------------------------
// 1. Registrations

TRegistration* TEventSource::Find(TSocketHandle handle, uint32_t serial) const {
  if (handle > static_cast<TSocketHandle>(INT_MAX)) return nullptr;
  TRegistration* entry = Slot(FRegistrations, static_cast<int>(handle));
  if (!entry || (serial != 0 && entry->Serial != serial)) return nullptr;
  return entry;
}

TRegistration& TEventSource::Register(TSocketHandle handle) {
  Unregister(handle);
  auto entry = std::make_unique<TRegistration>();
  entry->Handle = handle;
  entry->Serial = NextSerial();
  TRegistration& result = *entry;
  Place(FRegistrations, static_cast<int>(handle)) = std::move(entry);
  return result;
}

void TEventSource::Unregister(TSocketHandle handle) {
  TRegistration* entry = Find(handle);
  if (!entry) return;
  if (entry->Armed) Control(EPOLL_CTL_DEL, static_cast<int>(handle), 0, 0);
  Place(FRegistrations, static_cast<int>(handle)).reset();
}

void TEventSource::Forget(TSocketHandle handle) {
  PendingConnects.erase(handle);
  Broken.erase(handle);
  Unregister(handle);
}

void TEventSource::ForgetTarget(TMessageTarget* target) {
  for (size_t fd = 0; fd < FRegistrations.size(); ++fd)
    if (FRegistrations[fd] && FRegistrations[fd]->Target == target) Forget(static_cast<TSocketHandle>(fd));
}

void TEventSource::CloseAll() {
  for (size_t fd = 0; fd < FRegistrations.size(); ++fd)
    if (FRegistrations[fd]) Forget(static_cast<TSocketHandle>(fd));
  for (size_t fd = 0; fd < FLingerers.size(); ++fd)
    if (FLingerers[fd]) EndLingerer(static_cast<int>(fd));
  Broken.clear();
  PendingConnects.clear();
  FTimers.reset();
  // The notifier may be the one whose activation is running.
  if (FNotifier) {
    FNotifier->setEnabled(false);
    if (FDelivering != 0 && QCoreApplication::instance())
      FNotifier.release()->deleteLater();
    else
      FNotifier.reset();
  }
  if (FEpoll >= 0) ::close(FEpoll);
  FEpoll = -1;
  if (FSpare >= 0) ::close(FSpare);
  FSpare = -1;
}

// ---------------------------------------------------------------------------
// 2. The epoll set

bool TEventSource::EnsureSet() {
  if (FEpoll < 0) FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (FEpoll < 0) return false;
  if (!FNotifier && QCoreApplication::instance()) {
    FNotifier = std::make_unique<QSocketNotifier>(FEpoll, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { WakeUp(); });
  }
  if (!FTimers && QCoreApplication::instance()) FTimers = std::make_unique<QObject>();
  return true;
}

void TEventSource::Control(int operation, int fd, uint32_t events, uint64_t key) {
  if (!EnsureSet()) return;
  epoll_event event{};
  event.events = events;
  event.data.u64 = key;
  if (::epoll_ctl(FEpoll, operation, fd, &event) == 0) return;
  // A fd closed behind the source's back left the set by itself; one that
  // is still there under an older entry is taken over.
  if (operation == EPOLL_CTL_ADD && errno == EEXIST) ::epoll_ctl(FEpoll, EPOLL_CTL_MOD, fd, &event);
  if (operation == EPOLL_CTL_MOD && errno == ENOENT) ::epoll_ctl(FEpoll, EPOLL_CTL_ADD, fd, &event);
}

// What a socket may post next, as epoll events.
uint32_t Interest(const TRegistration& entry) {
  switch (entry.State) {
    case TState::Listening:
      return entry.ReadPosted || entry.AcceptPaused ? 0u : uint32_t(EPOLLIN);
    case TState::Connecting:
      return EPOLLOUT;
    case TState::Connected: {
      uint32_t events = entry.ReadPosted || entry.CloseSent ? 0u : uint32_t(EPOLLIN | EPOLLRDHUP);
      return entry.WriteWanted ? events | uint32_t(EPOLLOUT) : events;
    }
    case TState::Idle:
    case TState::Failed:
      break;
  }
  return 0;
}

// The one place where a registration's interest reaches the set.  While
// its own event is being delivered, the change waits for the handler's
// return, so that a recv inside the handler costs no change at all.
void TEventSource::Arm(TRegistration& entry) {
  int fd = static_cast<int>(entry.Handle);
  if (FDelivering == Key(fd, entry.Serial)) return;
  uint32_t wanted = Interest(entry);
  if (wanted == entry.Armed) return;
  if (wanted == 0)
    Control(EPOLL_CTL_DEL, fd, 0, 0);
  else
    Control(entry.Armed == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, wanted, Key(fd, entry.Serial));
  entry.Armed = wanted;
}

// ---------------------------------------------------------------------------
// 3. A wake-up

void TEventSource::WakeUp() {
  if (FEpoll < 0) return;
  epoll_event events[MaxEventsPerPass];
  int count;
  do count = ::epoll_wait(FEpoll, events, MaxEventsPerPass, 0);
  while (count < 0 && errno == EINTR);
  uint64_t wakeUp = ++FWakeUps;
  for (int i = 0; i < count; ++i) {
    Deliver(events[i].data.u64, events[i].events);
    // A nested event loop took its own events meanwhile: what this batch
    // still holds may be stale.  Level-triggered readiness brings back
    // whatever is still due.
    if (FWakeUps != wakeUp) break;
  }
}

void TEventSource::Deliver(uint64_t key, uint32_t events) {
  int fd = KeyFd(key);
  uint32_t serial = KeySerial(key);
  if (TLingerer* lingerer = FindLingerer(fd, serial)) {
    DrainLingerer(*lingerer);
    return;
  }
  TRegistration* entry = Find(static_cast<TSocketHandle>(fd), serial);
  if (!entry) return;  // closed earlier in this batch
  constexpr uint32_t EndEvents = EPOLLHUP | EPOLLERR;
  bool readable = (events & (EPOLLIN | EPOLLRDHUP | EndEvents)) && (entry->Armed & EPOLLIN);
  bool writable = (events & (EPOLLOUT | EndEvents)) && (entry->Armed & EPOLLOUT);
  // Writes first: a connect's outcome comes before anything read, and a
  // send that meets a reset makes the close that follows carry it.
  if (writable) {
    Writable(*entry);
    entry = Find(static_cast<TSocketHandle>(fd), serial);
    if (!entry) return;
  }
  if (readable) {
    Readable(*entry, events);
    entry = Find(static_cast<TSocketHandle>(fd), serial);
    if (!entry) return;
  }
  Arm(*entry);
}

// Delivers one event, then sets the socket's interest from what the
// handler left.  The handler may close any socket, this one included: the
// entry must be found again afterwards.  The target lives until its handler
// returns.
void TEventSource::Post(TRegistration& entry, uint16_t event, int error) {
  TSocketHandle handle = entry.Handle;
  uint32_t serial = entry.Serial;
  if ((entry.Mask & event) && entry.Target) {
    TMessageTarget* target = entry.Target;
    TMessage message{entry.Message, handle, WSAMAKESELECTREPLY(event, static_cast<uint16_t>(error))};
    uint64_t outer = FDelivering;
    FDelivering = Key(static_cast<int>(handle), serial);
    Guarded(*target, [&] { target->Dispatch(message); });
    FDelivering = outer;
  }
  if (TRegistration* current = Find(handle, serial)) Arm(*current);
}

void TEventSource::Readable(TRegistration& entry, uint32_t events) {
  TSocketHandle handle = entry.Handle;
  if (entry.State == TState::Listening) {
    entry.ReadPosted = true;
    Post(entry, FD_ACCEPT, 0);
    return;
  }
  if (entry.State != TState::Connected || entry.ReadPosted || entry.CloseSent) return;
  // A connection already found reset (by a send) can only end: every recv
  // on it fails with that number.
  auto broken = Broken.find(handle);
  if (broken != Broken.end()) {
    entry.CloseSent = true;
    Post(entry, FD_CLOSE, broken->second);
    return;
  }
  // Fresh readiness without a hang-up is data; otherwise a one-byte peek
  // tells data from an orderly close or a reset.
  bool fresh = entry.ReadWakeUp != FWakeUps && !(events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR));
  if (!fresh) {
    char byte = 0;
    ssize_t got;
    do got = ::recv(static_cast<int>(handle), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      entry.CloseSent = true;
      int error = got == 0 ? 0 : ws::TranslateErrno(errno);
      // The peek has taken the socket's pending error; the next recv must
      // still report it.
      if (error != 0) Broken[handle] = error;
      Post(entry, FD_CLOSE, error);
      return;
    }
  }
  entry.ReadPosted = true;
  Post(entry, FD_READ, 0);
}

void TEventSource::Writable(TRegistration& entry) {
  TSocketHandle handle = entry.Handle;
  if (entry.State == TState::Connecting) {
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
    if (error != 0) {
      entry.State = TState::Failed;
      Post(entry, FD_CONNECT, ws::TranslateErrno(error));
      return;
    }
    // The first FD_WRITE follows on the next wake-up.
    entry.State = TState::Connected;
    entry.WriteWanted = true;
    Post(entry, FD_CONNECT, 0);
    return;
  }
  if (entry.State != TState::Connected || !entry.WriteWanted) return;
  entry.WriteWanted = false;
  Post(entry, FD_WRITE, 0);
}

// A connect that failed at once still reports through its event, from the
// event loop, so that callers see one order of events.
void TEventSource::DeferConnectFailure(TRegistration& entry, int error) {
  TSocketHandle handle = entry.Handle;
  uint32_t serial = entry.Serial;
  if (!EnsureSet() || !FTimers) return;
  QTimer::singleShot(0, FTimers.get(), [this, handle, serial, error] {
    if (TRegistration* current = Find(handle, serial)) Post(*current, FD_CONNECT, error);
  });
}

// ---------------------------------------------------------------------------
// 4. Accept under descriptor exhaustion
//
// With the descriptor table full, a waiting connection can be neither
// accepted nor left in the backlog without the listening socket staying
// ready, and a level-triggered wait would then spin.  So the source keeps
// one spare descriptor: when an accept fails for want of descriptors, the
// spare is let go, the waiting connections are accepted and closed at once
// (their peers learn at once instead of hanging), the spare is taken again,
// and the listening socket rests for AcceptPauseMs before it is watched
// again.  Connections already accepted are served all along.  Before any
// of that, lingering sockets give their descriptors back: lingering is a
// courtesy to peers that have not closed yet, and a flood of them must not
// turn away a player who connects meanwhile.

void TEventSource::KeepSpare() {
  if (FSpare < 0) FSpare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void TEventSource::AcceptFailed(TRegistration& entry, int error) {
  if (error != ws::WSAEMFILE && error != ws::WSAENOBUFS) return;
  // The listening socket stays watched: the next wake-up accepts again.
  if (error == ws::WSAEMFILE && EndOldestLingerers(LingerersEndedPerFailedAccept) > 0) return;
  int fd = static_cast<int>(entry.Handle);
  if (error == ws::WSAEMFILE && FSpare >= 0) {
    ::close(FSpare);
    FSpare = -1;
    for (int turned = 0; turned < MaxTurnedAway; ++turned) {
      int waiting = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (waiting < 0 && errno == EINTR) continue;
      if (waiting < 0) break;
      ::close(waiting);
    }
    KeepSpare();
  }
  entry.AcceptPaused = true;
  if (!EnsureSet() || !FTimers) return;
  TSocketHandle handle = entry.Handle;
  uint32_t serial = entry.Serial;
  QTimer::singleShot(AcceptPauseMs, FTimers.get(), [this, handle, serial] { ResumeAccept(handle, serial); });
}

void TEventSource::ResumeAccept(TSocketHandle handle, uint32_t serial) {
  TRegistration* entry = Find(handle, serial);
  if (!entry) return;
  KeepSpare();
  entry->AcceptPaused = false;
  Arm(*entry);
}

// ---------------------------------------------------------------------------
// 5. Lingering sockets

TLingerer* TEventSource::FindLingerer(int fd, uint32_t serial) const {
  TLingerer* lingerer = Slot(FLingerers, fd);
  return lingerer && (serial == 0 || lingerer->Serial == serial) ? lingerer : nullptr;
}

void TEventSource::Linger(int fd) {
  MakeNonBlocking(fd);
  auto lingerer = std::make_unique<TLingerer>();
  lingerer->Fd = fd;
  lingerer->Serial = NextSerial();
  TLingerer& placed = *(Place(FLingerers, fd) = std::move(lingerer));
  ++FLingeringCount;
  uint32_t serial = placed.Serial;
  // The peer may have closed already.
  DrainLingerer(placed);
  if (!FindLingerer(fd, serial)) return;
  if (!EnsureSet() || !FTimers) {
    // No event loop to wait in: close now.
    EndLingerer(fd);
    return;
  }
  Control(EPOLL_CTL_ADD, fd, EPOLLIN | EPOLLRDHUP, Key(fd, serial));
  QTimer::singleShot(ws::LingerMs, Qt::PreciseTimer, FTimers.get(), [this, fd, serial] {
    if (FindLingerer(fd, serial)) EndLingerer(fd);
  });
}

// Ends up to `most` lingering sockets, those that began first; returns how
// many.  Only when descriptors run out, so the scan costs nothing otherwise.
int TEventSource::EndOldestLingerers(int most) {
  std::vector<std::pair<uint32_t, int>> bySerial;
  bySerial.reserve(static_cast<size_t>(FLingeringCount));
  for (const std::unique_ptr<TLingerer>& lingerer : FLingerers)
    if (lingerer) bySerial.emplace_back(lingerer->Serial, lingerer->Fd);
  const size_t ended = std::min(bySerial.size(), static_cast<size_t>(most));
  std::partial_sort(bySerial.begin(), bySerial.begin() + static_cast<std::ptrdiff_t>(ended), bySerial.end());
  for (size_t k = 0; k < ended; ++k) EndLingerer(bySerial[k].second);
  return static_cast<int>(ended);
}

// Drops what the peer still sends, bounded per wake-up so that a peer that
// keeps sending cannot hold the loop; ends at the peer's close or an error.
void TEventSource::DrainLingerer(TLingerer& lingerer) {
  int fd = lingerer.Fd;
  char sink[LingerChunkBytes];
  for (int chunk = 0; chunk < LingerDrainChunks; ++chunk) {
    ssize_t got = ::recv(fd, sink, sizeof(sink), MSG_DONTWAIT);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    EndLingerer(fd);
    return;
  }
}

void TEventSource::EndLingerer(int fd) {
  std::unique_ptr<TLingerer>& lingerer = Place(FLingerers, fd);
  if (!lingerer) return;
  lingerer.reset();
  --FLingeringCount;
  if (FEpoll >= 0) ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, fd, nullptr);
  ::close(fd);
}

}  // namespace

// ---------------------------------------------------------------------------
// 6. The entry points

int SelectEvents(ws::TSocketHandle handle, TMessageTarget* target, uint32_t message, uint32_t mask) {
  TEventSource& source = TEventSource::Instance();
  if (!IsOpenFd(handle) || source.IsLingering(static_cast<int>(handle))) {
    ws::WSASetLastError(ws::WSAENOTSOCK);
    return ws::SOCKET_ERROR;
  }
  int fd = static_cast<int>(handle);
  MakeNonBlocking(fd);
  if (!target || mask == 0) {
    source.Unregister(handle);
    return 0;
  }
  TRegistration* entry = source.Find(handle);
  if (!entry) {
    entry = &source.Register(handle);
    if (IsListening(fd)) {
      entry->State = TState::Listening;
      source.KeepSpare();
    } else if (IsConnected(fd)) {
      entry->State = TState::Connected;
      entry->WriteWanted = true;
    } else if (source.PendingConnects.count(handle)) {
      entry->State = TState::Connecting;
    }
    source.PendingConnects.erase(handle);
  }
  entry->Target = target;
  entry->Message = message;
  entry->Mask = mask;
  source.Arm(*entry);
  return 0;
}

void ForgetTarget(TMessageTarget* target) { TEventSource::Instance().ForgetTarget(target); }

int LingeringSockets() { return TEventSource::Instance().LingeringCount(); }

namespace socket_events {

void Received(ws::TSocketHandle handle) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(handle);
  if (!entry) return;
  entry->ReadPosted = false;
  entry->ReadWakeUp = source.WakeUps();
  source.Arm(*entry);
}

void SendBlocked(ws::TSocketHandle handle) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(handle);
  if (!entry || entry->State != TState::Connected) return;
  entry->WriteWanted = true;
  source.Arm(*entry);
}

void Accepted(ws::TSocketHandle listening, ws::TSocketHandle accepted) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* parent = source.Find(listening);
  if (!parent) return;
  parent->ReadPosted = false;
  source.Arm(*parent);
  TMessageTarget* target = parent->Target;
  uint32_t message = parent->Message, mask = parent->Mask;
  MakeNonBlocking(static_cast<int>(accepted));
  TRegistration& entry = source.Register(accepted);
  entry.Target = target;
  entry.Message = message;
  entry.Mask = mask;
  entry.State = TState::Connected;
  entry.WriteWanted = true;
  source.Arm(entry);
}

void AcceptFailed(ws::TSocketHandle listening, int error) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(listening);
  if (!entry) return;
  entry->ReadPosted = false;
  source.AcceptFailed(*entry, error);
  source.Arm(*entry);
}

bool ConnectStarted(ws::TSocketHandle handle, int error) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(handle);
  if (!entry) {
    if (error == 0 && !IsConnected(static_cast<int>(handle))) source.PendingConnects.insert(handle);
    return false;
  }
  entry->State = error == 0 ? TState::Connecting : TState::Failed;
  source.Arm(*entry);
  if (error != 0) source.DeferConnectFailure(*entry, error);
  return true;
}

void SetBroken(ws::TSocketHandle handle, int error) { TEventSource::Instance().Broken[handle] = error; }

int BrokenError(ws::TSocketHandle handle) {
  TEventSource& source = TEventSource::Instance();
  auto found = source.Broken.find(handle);
  return found == source.Broken.end() ? 0 : found->second;
}

void Forget(ws::TSocketHandle handle) { TEventSource::Instance().Forget(handle); }

void Linger(int fd) { TEventSource::Instance().Linger(fd); }

bool IsLingering(ws::TSocketHandle handle) {
  return handle <= static_cast<TSocketHandle>(INT_MAX) &&
         TEventSource::Instance().IsLingering(static_cast<int>(handle));
}

void CloseAll() { TEventSource::Instance().CloseAll(); }

}  // namespace socket_events
