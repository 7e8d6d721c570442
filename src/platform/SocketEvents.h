// The socket event source (the system's WSAAsyncSelect): a registered socket
// is non-blocking and its events reach a TMessageTarget as numbered messages
// (handle in WParam, WSAMAKESELECTREPLY(event, error) in LParam), delivered
// on the user-interface thread.  Every registered or lingering socket sits
// in one epoll set, which Qt watches through one QSocketNotifier: the cost
// of a turn of the loop follows the events, not the connections.  The
// source owns the set; targets and sockets stay their owners'.
//
// Rules the callers rely on:
//  - FD_READ while data waits, one per recv: after an FD_READ the read side
//    stays quiet (no FD_READ, no FD_CLOSE) until recv is called on the
//    handle, then FD_READ comes again if data remains;
//  - FD_WRITE once when a connected or accepted socket can first send, and
//    again only after a send failed with WSAEWOULDBLOCK (or took only part
//    of its bytes) and room came back;
//  - FD_ACCEPT while a connection waits (again after each accept);
//  - FD_CONNECT once when a connect ends, its outcome as the error code
//    (0, or e.g. 10061), followed on success by the first FD_WRITE;
//  - FD_CLOSE once when the peer has closed (0, or 10054 after a reset),
//    after the FD_READs for the data that came before the close;
//  - nothing after closesocket; accepted sockets inherit the registration;
//  - a handler may close any socket while its event is being delivered.
// Delivery runs inside Guarded(): an error that escapes the target's
// Dispatch is shown in the error box and the event loop goes on, so Qt never
// sees an exception.  Targets that keep their own error trap may still have
// one inside Dispatch.
#pragma once

#include <cstdint>

#include "platform/MessageTarget.h"
#include "platform/WinSock.h"

// Registers handle for the events in mask (FD_* bits) to target under
// message, replacing an earlier registration; mask 0 or a null target
// cancels it.  Makes the socket non-blocking.  Returns 0, or SOCKET_ERROR
// with WSAENOTSOCK for a handle that is not an open socket.
int SelectEvents(ws::TSocketHandle handle, TMessageTarget* target, uint32_t message, uint32_t mask);

// Cancels every registration that delivers to target.  A target that may
// die before its sockets are closed calls it from its destructor.
void ForgetTarget(TMessageTarget* target);

// How many sockets are still closing gracefully (tests and shutdown).
int LingeringSockets();

// Called by the WinSock wrappers only: they tell the event source what
// happened to a handle (facts, never what to watch); the source decides
// from its own state what it watches next.
namespace socket_events {
void Received(ws::TSocketHandle handle);
void SendBlocked(ws::TSocketHandle handle);
void Accepted(ws::TSocketHandle listening, ws::TSocketHandle accepted);
// error: the WinSock number of the failed accept.  Out of descriptors
// (WSAEMFILE) or memory (WSAENOBUFS), the listening socket rests a while.
void AcceptFailed(ws::TSocketHandle listening, int error);
// error: 0 when the connect is under way or done, otherwise its WinSock
// number.  Returns true when the outcome will arrive as FD_CONNECT.
bool ConnectStarted(ws::TSocketHandle handle, int error);
// A connection found reset or timed out keeps failing with that number, as
// WinSock's does; the system reads only the first failure on Linux.
void SetBroken(ws::TSocketHandle handle, int error);
int BrokenError(ws::TSocketHandle handle);
// The handle is being closed: drops everything known about it.
void Forget(ws::TSocketHandle handle);
// Takes over a connected fd whose sending side is shut down and closes it
// once the peer closes or after ws::LingerMs, or sooner, oldest first, when
// an accept finds no descriptor left.
void Linger(int fd);
bool IsLingering(ws::TSocketHandle handle);
// Closes every lingering fd at once and drops every registration.
void CloseAll();
}  // namespace socket_events
