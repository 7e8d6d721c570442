// Windows that receive notifications (socket events, the tray icon) handle
// them as numbered messages, as the system was written: a target looks at
// Msg and falls back to DefaultHandler for numbers it does not know.
// Socket notifications carry the handle in WParam and, in LParam, the event
// kind in the low 16 bits and the error code in the high 16 bits.
//
// Every window and connection is a THandlerOwner: whatever enters one of its
// handlers from the event loop holds a THandlerScope on it, and the object is
// destroyed only when no such scope is open.  A modal box runs a nested event
// loop under a handler; a close, a hang-up or a deferred deletion that
// arrives there puts the destruction off until that handler has returned.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <vector>

struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
};

// Event kinds of a socket notification.
enum : uint16_t { FD_READ = 1, FD_WRITE = 2, FD_ACCEPT = 8, FD_CONNECT = 16, FD_CLOSE = 32 };

// Message numbers used by the windows.
enum : uint32_t { WM_USER = 1024 };

inline uint16_t WSAGETSELECTEVENT(intptr_t lParam) { return static_cast<uint16_t>(lParam & 0xFFFF); }
inline uint16_t WSAGETSELECTERROR(intptr_t lParam) { return static_cast<uint16_t>((lParam >> 16) & 0xFFFF); }
inline intptr_t WSAMAKESELECTREPLY(uint16_t event, uint16_t error) {
  return static_cast<intptr_t>(event) | (static_cast<intptr_t>(error) << 16);
}

class THandlerScope;

class THandlerOwner {
 public:
  THandlerOwner() = default;
  THandlerOwner(const THandlerOwner&) = delete;
  THandlerOwner& operator=(const THandlerOwner&) = delete;
  // Destroying an owner directly while one of its handlers is on the stack
  // breaks the rule above; its open scopes are then left alone.
  virtual ~THandlerOwner();

  // True while one of its handlers runs.
  bool Handling() const { return FInnermost != nullptr; }
  // True once its end was asked for and put off.
  bool Ending() const { return FEnding; }
  // Ends the object through Destroy: at once when none of its handlers
  // runs, otherwise as the last of them returns.
  void Dispose();
  // For an end asked for by other means (a release, a deferred deletion
  // the event loop delivers): true when a handler of its own runs, and the
  // end then comes through Destroy as the last of them returns; false when
  // the caller may end it now.
  bool PostponeEnd();

 protected:
  // How the object ends; a QObject posts its deletion instead.  Must not
  // raise: it runs as the last scope closes.
  virtual void Destroy() { delete this; }

 private:
  friend class THandlerScope;
  friend class TBoxScope;
  THandlerScope* FInnermost = nullptr;
  bool FEnding = false;
  bool FBoxOpen = false;  // a box of one of its handlers is open
};

// Marks a handler of owner as running for the life of the scope.  Scopes
// live on the stack and close in the reverse order of their opening.
class THandlerScope {
 public:
  explicit THandlerScope(THandlerOwner& owner);
  ~THandlerScope();
  THandlerScope(const THandlerScope&) = delete;
  THandlerScope& operator=(const THandlerScope&) = delete;

  // Null once the owner was destroyed directly under the scope.
  THandlerOwner* Owner() const { return FOwner; }

 private:
  friend class THandlerOwner;
  friend class TBoxScope;
  THandlerOwner* FOwner;
  THandlerScope* FOuterOfOwner;  // the owner's previous innermost scope
  THandlerScope* FOuter;         // the previous innermost scope of all
};

// A message box belongs to the owners whose handlers the current event
// entered, that is the scopes opened since the innermost box opened.  While
// it is open, another text raised for one of them shows no box of its own:
// a peer that keeps failing cannot stack boxes up.  Boxes raised for other
// owners (another window of the process) still open.
class TBoxScope {
 public:
  // Opens the box for the current owners, unless one of them has one open.
  TBoxScope();
  ~TBoxScope();
  TBoxScope(const TBoxScope&) = delete;
  TBoxScope& operator=(const TBoxScope&) = delete;

  // False when a box of a current owner is open: show nothing.
  bool Allowed() const { return FAllowed; }

 private:
  bool FAllowed = true;
  THandlerScope* FOuterFloor;
  std::vector<THandlerScope*> FMarked;
};

// A deleter for owners held by a unique_ptr: ends them through Dispose.
struct TDisposer {
  void operator()(THandlerOwner* owner) const { owner->Dispose(); }
};

class TMessageTarget : public THandlerOwner {
 public:
  ~TMessageTarget() override = default;
  // Handles one message; the default passes it to DefaultHandler.
  virtual void Dispatch(TMessage& message) { DefaultHandler(message); }
  // Messages nobody handles end here.
  virtual void DefaultHandler(TMessage&) {}
};
