#include "platform/SocketEvents.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Errors.h"

// The source keeps one registration per handle.  Each side of a socket has
// its own QSocketNotifier, enabled only while an event of that side may be
// posted: the read side is switched off after FD_READ or FD_ACCEPT until the
// next recv or accept, the write side after FD_WRITE until a send would
// block.  That gives the once-per-call rules without polling and keeps an
// ignored event from repeating forever.  Notifiers of a forgotten handle are
// disabled at once and deleted from the event loop later, because the one
// being delivered may be among them.

namespace {

using ws::TSocketHandle;

enum class TState { Idle, Listening, Connecting, Connected, Failed };

struct TRegistration {
  TSocketHandle Handle = ws::INVALID_SOCKET;
  uint64_t Serial = 0;
  TMessageTarget* Target = nullptr;
  uint32_t Message = 0;
  uint32_t Mask = 0;
  TState State = TState::Idle;
  bool WriteWanted = false;
  bool CloseSent = false;
  // A listening socket resting after an accept failed for want of
  // descriptors.
  bool AcceptPaused = false;
  std::unique_ptr<QSocketNotifier> Reader;
  std::unique_ptr<QSocketNotifier> Writer;
  // Parent of the deferred deliveries, so that they die with the entry.
  std::unique_ptr<QObject> Context;
};

// A closed connection waiting for its peer's end before the fd is closed.
struct TLingerer {
  int Fd = -1;
  uint64_t Serial = 0;
  std::unique_ptr<QSocketNotifier> Reader;
};

class TEventSource {
 public:
  static TEventSource& Instance();

  TRegistration* Find(TSocketHandle handle, uint64_t serial = 0);
  TRegistration& Register(TSocketHandle handle);
  void Update(TRegistration& entry);
  // Drops the registration; Forget also what is known of the socket.
  void Unregister(TSocketHandle handle);
  void Forget(TSocketHandle handle);
  void Readable(TSocketHandle handle, uint64_t serial);
  void Writable(TSocketHandle handle, uint64_t serial);
  void Post(TRegistration& entry, uint16_t event, int error);
  void DeferConnectFailure(TRegistration& entry, int error);
  void AcceptFailed(TRegistration& entry, int error);
  void KeepSpare();

  void Linger(int fd);
  void DrainLingerer(int fd);
  void EndLingerer(int fd);
  bool IsLingering(int fd) const { return FLingering.count(fd) != 0; }
  int LingeringCount() const { return static_cast<int>(FLingering.size()); }

  void ForgetTarget(TMessageTarget* target);
  void CloseAll();

  std::unordered_set<TSocketHandle> PendingConnects;
  std::unordered_map<TSocketHandle, int> Broken;

 private:
  void Retire(std::unique_ptr<QObject> object);
  void DeleteRetired() { FRetired.clear(); }
  TLingerer* FindLingerer(int fd, uint64_t serial);

  std::unordered_map<TSocketHandle, std::unique_ptr<TRegistration>> FRegistrations;
  std::unordered_map<int, std::unique_ptr<TLingerer>> FLingering;
  std::vector<std::unique_ptr<QObject>> FRetired;
  uint64_t FNextSerial = 1;
  bool FClosingAll = false;
  int FSpare = -1;
};

// The system's socket registry.  Made once and never destroyed: its
// notifiers are released before the application object goes (CloseAll,
// from WSACleanup or the application's post routine).
TEventSource& TEventSource::Instance() {
  static TEventSource* source = [] {
    qAddPostRoutine([] { socket_events::CloseAll(); });
    return new TEventSource;
  }();
  return *source;
}

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

TRegistration* TEventSource::Find(TSocketHandle handle, uint64_t serial) {
  auto found = FRegistrations.find(handle);
  if (found == FRegistrations.end()) return nullptr;
  if (serial != 0 && found->second->Serial != serial) return nullptr;
  return found->second.get();
}

TRegistration& TEventSource::Register(TSocketHandle handle) {
  Unregister(handle);
  auto entry = std::make_unique<TRegistration>();
  entry->Handle = handle;
  entry->Serial = FNextSerial++;
  int fd = static_cast<int>(handle);
  entry->Context = std::make_unique<QObject>();
  entry->Reader = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  entry->Writer = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  entry->Reader->setEnabled(false);
  entry->Writer->setEnabled(false);
  uint64_t serial = entry->Serial;
  QObject::connect(entry->Reader.get(), &QSocketNotifier::activated,
                   [this, handle, serial] { Readable(handle, serial); });
  QObject::connect(entry->Writer.get(), &QSocketNotifier::activated,
                   [this, handle, serial] { Writable(handle, serial); });
  TRegistration& result = *entry;
  FRegistrations[handle] = std::move(entry);
  return result;
}

// Switches each side on while it may post an event.
void TEventSource::Update(TRegistration& entry) {
  bool read = false, write = false;
  switch (entry.State) {
    case TState::Listening:
      read = !entry.AcceptPaused;
      break;
    case TState::Connecting:
      write = true;
      break;
    case TState::Connected:
      read = !entry.CloseSent;
      write = entry.WriteWanted;
      break;
    case TState::Idle:
    case TState::Failed:
      break;
  }
  entry.Reader->setEnabled(read);
  entry.Writer->setEnabled(write);
}

void TEventSource::Forget(TSocketHandle handle) {
  PendingConnects.erase(handle);
  Broken.erase(handle);
  Unregister(handle);
}

void TEventSource::Unregister(TSocketHandle handle) {
  auto found = FRegistrations.find(handle);
  if (found == FRegistrations.end()) return;
  std::unique_ptr<TRegistration> entry = std::move(found->second);
  FRegistrations.erase(found);
  entry->Reader->setEnabled(false);
  entry->Writer->setEnabled(false);
  Retire(std::move(entry->Reader));
  Retire(std::move(entry->Writer));
  Retire(std::move(entry->Context));
}

void TEventSource::Retire(std::unique_ptr<QObject> object) {
  if (!object) return;
  if (FRetired.empty() && !FClosingAll && QCoreApplication::instance())
    QTimer::singleShot(0, QCoreApplication::instance(), [this] { DeleteRetired(); });
  FRetired.push_back(std::move(object));
}

// Delivers one event.  The handler may close any socket, this one
// included, so the entry must not be touched afterwards.
void TEventSource::Post(TRegistration& entry, uint16_t event, int error) {
  if (!(entry.Mask & event) || !entry.Target) return;
  TMessageTarget* target = entry.Target;
  TMessage message{entry.Message, entry.Handle, WSAMAKESELECTREPLY(event, static_cast<uint16_t>(error))};
  Guarded([&] { target->Dispatch(message); });
}

void TEventSource::Readable(TSocketHandle handle, uint64_t serial) {
  TRegistration* entry = Find(handle, serial);
  if (!entry) return;
  if (entry->State == TState::Listening) {
    entry->Reader->setEnabled(false);
    Post(*entry, FD_ACCEPT, 0);
    return;
  }
  if (entry->State != TState::Connected || entry->CloseSent) {
    entry->Reader->setEnabled(false);
    return;
  }
  // A connection already found reset (by a send) can only end: every recv
  // on it fails with that number.
  auto broken = Broken.find(handle);
  if (broken != Broken.end()) {
    entry->Reader->setEnabled(false);
    entry->CloseSent = true;
    Post(*entry, FD_CLOSE, broken->second);
    return;
  }
  // A one-byte peek tells data from an orderly close or a reset.
  char byte = 0;
  ssize_t got;
  do got = ::recv(static_cast<int>(handle), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  while (got < 0 && errno == EINTR);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
  entry->Reader->setEnabled(false);
  if (got > 0) {
    Post(*entry, FD_READ, 0);
    return;
  }
  entry->CloseSent = true;
  int error = got == 0 ? 0 : ws::TranslateErrno(errno);
  // The peek has taken the socket's pending error; the next recv must
  // still report it.
  if (error != 0) Broken[handle] = error;
  Post(*entry, FD_CLOSE, error);
}

void TEventSource::Writable(TSocketHandle handle, uint64_t serial) {
  TRegistration* entry = Find(handle, serial);
  if (!entry) return;
  if (entry->State == TState::Connecting) {
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_ERROR, &error, &size) < 0) error = errno;
    if (error != 0) {
      entry->State = TState::Failed;
      Update(*entry);
      Post(*entry, FD_CONNECT, ws::TranslateErrno(error));
      return;
    }
    // The first FD_WRITE follows on the next turn of the event loop.
    entry->State = TState::Connected;
    entry->WriteWanted = true;
    Update(*entry);
    Post(*entry, FD_CONNECT, 0);
    return;
  }
  entry->Writer->setEnabled(false);
  if (entry->State != TState::Connected || !entry->WriteWanted) return;
  entry->WriteWanted = false;
  Post(*entry, FD_WRITE, 0);
}

// A connect that failed at once still reports through its event, from the
// event loop, so that callers see one order of events.
void TEventSource::DeferConnectFailure(TRegistration& entry, int error) {
  TSocketHandle handle = entry.Handle;
  uint64_t serial = entry.Serial;
  QTimer::singleShot(0, entry.Context.get(), [this, handle, serial, error] {
    if (TRegistration* current = Find(handle, serial)) Post(*current, FD_CONNECT, error);
  });
}

// With the descriptor table full, a waiting connection can be neither
// accepted nor left in the backlog without the listening socket staying
// ready, and the loop would then spin.  So the source keeps one spare
// descriptor: when an accept fails for want of descriptors, the spare is
// let go, the waiting connections are accepted and closed at once (their
// peers learn at once instead of hanging), the spare is taken again, and
// the listening socket rests for AcceptPauseMs before it is watched again.
void TEventSource::KeepSpare() {
  if (FSpare < 0) FSpare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void TEventSource::AcceptFailed(TRegistration& entry, int error) {
  if (error != ws::WSAEMFILE && error != ws::WSAENOBUFS) return;
  // How long a listening socket rests, in milliseconds, and how many
  // waiting connections are turned away at most per failed accept.
  constexpr int AcceptPauseMs = 100;
  constexpr int MaxTurnedAway = 64;
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
  TSocketHandle handle = entry.Handle;
  uint64_t serial = entry.Serial;
  QTimer::singleShot(AcceptPauseMs, entry.Context.get(), [this, handle, serial] {
    TRegistration* current = Find(handle, serial);
    if (!current) return;
    KeepSpare();
    current->AcceptPaused = false;
    Update(*current);
  });
}

void TEventSource::Linger(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto lingerer = std::make_unique<TLingerer>();
  lingerer->Fd = fd;
  lingerer->Serial = FNextSerial++;
  uint64_t serial = lingerer->Serial;
  if (!QCoreApplication::instance()) {
    // No event loop to wait in: drop what has arrived and close.
    FLingering[fd] = std::move(lingerer);
    DrainLingerer(fd);
    EndLingerer(fd);
    return;
  }
  lingerer->Reader = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(lingerer->Reader.get(), &QSocketNotifier::activated, [this, fd] { DrainLingerer(fd); });
  QTimer::singleShot(ws::LingerMs, Qt::PreciseTimer, lingerer->Reader.get(), [this, fd, serial] {
    if (FindLingerer(fd, serial)) EndLingerer(fd);
  });
  FLingering[fd] = std::move(lingerer);
  // The peer may have closed already.
  DrainLingerer(fd);
}

TLingerer* TEventSource::FindLingerer(int fd, uint64_t serial) {
  auto found = FLingering.find(fd);
  return found != FLingering.end() && found->second->Serial == serial ? found->second.get() : nullptr;
}

void TEventSource::DrainLingerer(int fd) {
  if (!IsLingering(fd)) return;
  // Bounded per turn so that a peer that keeps sending cannot hold the loop.
  constexpr int DrainChunks = 16;
  char sink[4096];
  for (int chunk = 0; chunk < DrainChunks; ++chunk) {
    ssize_t got = ::recv(fd, sink, sizeof(sink), MSG_DONTWAIT);
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    EndLingerer(fd);
    return;
  }
}

void TEventSource::EndLingerer(int fd) {
  auto found = FLingering.find(fd);
  if (found == FLingering.end()) return;
  std::unique_ptr<TLingerer> lingerer = std::move(found->second);
  FLingering.erase(found);
  if (lingerer->Reader) {
    lingerer->Reader->setEnabled(false);
    Retire(std::move(lingerer->Reader));
  }
  ::close(fd);
}

void TEventSource::ForgetTarget(TMessageTarget* target) {
  std::vector<TSocketHandle> handles;
  for (auto& [handle, entry] : FRegistrations)
    if (entry->Target == target) handles.push_back(handle);
  for (TSocketHandle handle : handles) Forget(handle);
}

void TEventSource::CloseAll() {
  FClosingAll = true;
  std::vector<TSocketHandle> handles;
  for (auto& [handle, entry] : FRegistrations) handles.push_back(handle);
  for (TSocketHandle handle : handles) Forget(handle);
  Broken.clear();
  std::vector<int> fds;
  for (auto& [fd, lingerer] : FLingering) fds.push_back(fd);
  for (int fd : fds) EndLingerer(fd);
  PendingConnects.clear();
  if (FSpare >= 0) ::close(FSpare);
  FSpare = -1;
  DeleteRetired();
  FClosingAll = false;
}

}  // namespace

int SelectEvents(ws::TSocketHandle handle, TMessageTarget* target, uint32_t message, uint32_t mask) {
  TEventSource& source = TEventSource::Instance();
  if (!IsOpenFd(handle) || source.IsLingering(static_cast<int>(handle))) {
    ws::WSASetLastError(ws::WSAENOTSOCK);
    return ws::SOCKET_ERROR;
  }
  int fd = static_cast<int>(handle);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
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
  source.Update(*entry);
  return 0;
}

void ForgetTarget(TMessageTarget* target) { TEventSource::Instance().ForgetTarget(target); }

int LingeringSockets() { return TEventSource::Instance().LingeringCount(); }

namespace socket_events {

void Received(ws::TSocketHandle handle) {
  TEventSource& source = TEventSource::Instance();
  if (TRegistration* entry = source.Find(handle)) source.Update(*entry);
}

void SendBlocked(ws::TSocketHandle handle) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(handle);
  if (!entry || entry->State != TState::Connected) return;
  entry->WriteWanted = true;
  source.Update(*entry);
}

void Accepted(ws::TSocketHandle listening, ws::TSocketHandle accepted) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* parent = source.Find(listening);
  if (!parent) return;
  source.Update(*parent);
  TMessageTarget* target = parent->Target;
  uint32_t message = parent->Message, mask = parent->Mask;
  int fd = static_cast<int>(accepted);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  TRegistration& entry = source.Register(accepted);
  entry.Target = target;
  entry.Message = message;
  entry.Mask = mask;
  entry.State = TState::Connected;
  entry.WriteWanted = true;
  source.Update(entry);
}

void AcceptFailed(ws::TSocketHandle listening, int error) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(listening);
  if (!entry) return;
  source.AcceptFailed(*entry, error);
  source.Update(*entry);
}

bool ConnectStarted(ws::TSocketHandle handle, int error) {
  TEventSource& source = TEventSource::Instance();
  TRegistration* entry = source.Find(handle);
  if (!entry) {
    if (error == 0 && !IsConnected(static_cast<int>(handle))) source.PendingConnects.insert(handle);
    return false;
  }
  if (error == 0) {
    entry->State = TState::Connecting;
    source.Update(*entry);
  } else {
    entry->State = TState::Failed;
    source.Update(*entry);
    source.DeferConnectFailure(*entry, error);
  }
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
