// "Local" of the host window: the host's own player, in a client window of
// this process joined to its own game.  The host window knows nothing of
// the client window; this link, made by the shell before the host window
// opens, is how it reaches it.
#pragma once

// Fills ServerLinks with the client window's side.
void LinkLocalPlayer();
