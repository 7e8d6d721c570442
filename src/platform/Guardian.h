// A helper process that undoes one thing if this process ends without doing
// it itself: a crash, SIGKILL, anything.  The helper is a copy of this
// process (fork) that keeps one end of a socket pair whose other end only
// this process holds.  When that end closes without the word "stand down",
// this process is gone: the helper runs its action, then ends.  It lives no
// longer than this process, in a session of its own (signals meant for the
// game's terminal or process group do not reach it), holding no other
// descriptor; this process's end is closed on exec.  User-interface thread
// only.
#pragma once

#include <sys/types.h>

#include <functional>

class TGuardian {
 public:
  // Starts the helper under that process name (at most 15 bytes).  Call it
  // while this process has a single thread: the action runs in the copy,
  // which holds only what that thread had.
  TGuardian(const char* name, std::function<void()> action);
  // Tells the helper its action is not needed any more and waits for it to
  // end.
  ~TGuardian();
  TGuardian(const TGuardian&) = delete;
  TGuardian& operator=(const TGuardian&) = delete;

  // Whether the helper runs (socketpair and fork may fail).
  bool Started() const { return FPid > 0; }

 private:
  pid_t FPid = -1;
  int FLink = -1;
};
