#include "platform/Signals.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdlib>

TSignalWatcher::TSignalWatcher(std::initializer_list<int> numbers) {
  sigset_t wanted;
  sigemptyset(&wanted);
  for (int number : numbers) sigaddset(&wanted, number);
  pthread_sigmask(SIG_BLOCK, &wanted, &FPrevious);
  FHandle = signalfd(-1, &wanted, SFD_NONBLOCK | SFD_CLOEXEC);
}

TSignalWatcher::~TSignalWatcher() {
  FNotifier.reset();
  if (FHandle >= 0) ::close(FHandle);
  pthread_sigmask(SIG_SETMASK, &FPrevious, nullptr);
}

void TSignalWatcher::Watch(std::function<void(int)> onSignal) {
  FOnSignal = std::move(onSignal);
  if (FHandle < 0 || FNotifier) return;
  FNotifier = std::make_unique<QSocketNotifier>(FHandle, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { Take(); });
}

void TSignalWatcher::Take() {
  signalfd_siginfo info;
  while (::read(FHandle, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
    if (FOnSignal) FOnSignal(static_cast<int>(info.ssi_signo));
}

TEndSignals::TEndSignals() : FWatcher{SIGTERM, SIGINT, SIGHUP} {}

TEndSignals::~TEndSignals() {
  if (FCaught) EndBySignal(FCaught);
}

void TEndSignals::QuitOnSignal() {
  // exit, not quit: quit asks the windows first, and the host window
  // refuses to close (it hides in the tray).
  FWatcher.Watch([this](int number) {
    if (!FCaught) FCaught = number;
    QCoreApplication::exit();
  });
}

void EndBySignal(int number) {
  struct sigaction usual = {};
  usual.sa_handler = SIG_DFL;
  sigaction(number, &usual, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, number);
  ::raise(number);  // held while blocked, taken as soon as it is not
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  // A signal whose default action is not to end the process.
  constexpr int ShellStatusForSignal = 128;
  std::_Exit(ShellStatusForSignal + number);
}
