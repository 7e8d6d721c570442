// Windows that receive notifications (socket events, the tray icon) handle
// them as numbered messages, as the system was written: a target looks at
// Msg and falls back to DefaultHandler for numbers it does not know.
// Socket notifications carry the handle in WParam and, in LParam, the event
// kind in the low 16 bits and the error code in the high 16 bits.
#pragma once

#include <cstdint>

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

class TMessageTarget {
public:
  virtual ~TMessageTarget() = default;
  // Handles one message; the default passes it to DefaultHandler.
  virtual void Dispatch(TMessage& message) { DefaultHandler(message); }
  // Messages nobody handles end here.
  virtual void DefaultHandler(TMessage&) {}
};
