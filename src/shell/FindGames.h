// varozuvod --find: sends discovery queries for some seconds and prints one
// line per game that answers, in the order found, then ends.  It owns its
// finder and runs its own event loop.
#pragma once

#include <cstdio>
#include <string>

#include "net/Discovery.h"
#include "shell/CommandLine.h"

// How often the queries go out while the search lasts, in milliseconds: a
// lost datagram is made good by the next round, and a host is asked far
// less often than its answer limit.
inline constexpr int FindQueryPeriodMs = 500;

// "ADDRESS:PORT<TAB>PLAYERS<TAB>password|open<TAB>HOSTNAME" in UTF-8, no
// line end.
std::string FoundGameLine(const TFoundGame& game);

// Runs the search; lines go to out.  Returns the exit status: 0, also when
// nothing answered; 1 when the search could not start (said on stderr).
int RunFind(int argc, char** argv, const TFindRequest& request, std::FILE* out = stdout);
