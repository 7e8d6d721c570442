// The process's limit on open descriptors.  Every connection costs one, so
// a host for hundreds of players (and a swarm of hundreds of bots) needs
// more than the 1024 that a session or a service often starts with; the
// soft limit may be raised up to the hard one without privileges.
#pragma once

#include <cstdint>

struct TDescriptorLimit {
  uint64_t Soft = 0;  // in force: a descriptor numbered Soft or above is refused
  uint64_t Hard = 0;  // the most the soft limit may be raised to
};

// Raises the soft limit to the hard one (or to the most the kernel allows
// a process, when the hard one is unlimited) and returns the limits in
// force afterwards; a limit that cannot be raised stays as it was.
TDescriptorLimit RaiseDescriptorLimit();
