#include "platform/Descriptors.h"

#include <sys/resource.h>

#include <fstream>

namespace {
// Where Linux keeps the most descriptors one process may have; setrlimit
// refuses an unlimited soft limit for descriptors.
constexpr const char* NrOpenPath = "/proc/sys/fs/nr_open";

TDescriptorLimit FromRlimit(const rlimit& limit) {
  return {static_cast<uint64_t>(limit.rlim_cur), static_cast<uint64_t>(limit.rlim_max)};
}
}  // namespace

TDescriptorLimit RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
  rlim_t wanted = limit.rlim_max;
  if (wanted == RLIM_INFINITY) {
    uint64_t most = 0;
    std::ifstream(NrOpenPath) >> most;
    if (most == 0) return FromRlimit(limit);
    wanted = static_cast<rlim_t>(most);
  }
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return FromRlimit(limit);
}
