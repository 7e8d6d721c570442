#include "platform/SocketEvents.h"

#include "platform/Errors.h"

int SelectEvents(ws::TSocketHandle, TMessageTarget*, uint32_t, uint32_t) { throw Exception("not yet"); }
void ForgetTarget(TMessageTarget*) {}
int LingeringSockets() { return 0; }
namespace socket_events {
void Received(ws::TSocketHandle) {}
void SendBlocked(ws::TSocketHandle) {}
void Accepted(ws::TSocketHandle, ws::TSocketHandle) {}
bool ConnectStarted(ws::TSocketHandle, int) { return false; }
void Forget(ws::TSocketHandle) {}
void Linger(int) {}
bool IsLingering(ws::TSocketHandle) { return false; }
void CloseAll() {}
}  // namespace socket_events
