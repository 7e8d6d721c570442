#include "platform/Guardian.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {
constexpr char StandDown = 'S';
constexpr int LinkIn = 0;
constexpr int FirstOtherDescriptor = 3;

// The helper's life: its end of the link as standard input, /dev/null as
// standard output and error, no other descriptor; it waits for a word.
[[noreturn]] void RunGuardian(int link, const char* name, const std::function<void()>& action) {
  setsid();
  prctl(PR_SET_NAME, name);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  dup2(link, LinkIn);
  int nothing = open("/dev/null", O_RDWR);
  dup2(nothing, STDOUT_FILENO);
  dup2(nothing, STDERR_FILENO);
  close_range(FirstOtherDescriptor, ~0U, 0);
  char word = 0;
  ssize_t got;
  do got = read(LinkIn, &word, 1);
  while (got < 0 && errno == EINTR);
  if (got != 1 || word != StandDown) action();
  // Never exit(): the copy must not run the game's exit handlers.
  _exit(0);
}
}  // namespace

TGuardian::TGuardian(const char* name, std::function<void()> action) {
  // A socket pair rather than a pipe: the stand-down word is sent with
  // MSG_NOSIGNAL, so a helper that is already gone raises no SIGPIPE here.
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  FPid = fork();
  if (FPid == 0) RunGuardian(ends[0], name, action);
  close(ends[0]);
  if (FPid < 0) {
    close(ends[1]);
    return;
  }
  FLink = ends[1];
}

TGuardian::~TGuardian() {
  if (!Started()) return;
  ssize_t sent;
  do sent = send(FLink, &StandDown, 1, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  close(FLink);
  while (waitpid(FPid, nullptr, 0) < 0 && errno == EINTR) {
  }
}
