// Signals as events of the user-interface thread.  A watcher blocks its
// signals for the whole process from the moment it is made (threads started
// later inherit the mask) and reads them from a signalfd in the event loop,
// so no handler ever runs at an arbitrary point of the program.
#pragma once

#include <signal.h>

#include <functional>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

class TSignalWatcher {
 public:
  // Blocks the signals at once; any that arrive wait until Watch.
  explicit TSignalWatcher(std::initializer_list<int> numbers);
  // Gives the process back the mask it had; a signal still pending then
  // takes its usual action.
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

  // From now on the event loop calls onSignal with the number of each signal
  // caught, those that came meanwhile included.  Needs the application
  // object.
  void Watch(std::function<void(int)> onSignal);

 private:
  void Take();

  std::function<void(int)> FOnSignal;
  sigset_t FPrevious;
  int FHandle = -1;
  std::unique_ptr<QSocketNotifier> FNotifier;
};

// The end signals of the windowed game: SIGTERM, SIGINT and SIGHUP leave the
// event loop, so that what was set up is undone in order (the display mode
// first of all), as when the main window closes.  Made before everything
// else, it ends last: then a process ended by one of them ends by that
// signal with its default action, so whoever started it sees the usual
// status.  A second signal meanwhile changes nothing; a crash or SIGKILL
// are beyond it.
class TEndSignals {
 public:
  TEndSignals();
  ~TEndSignals();
  // Once the application exists, just before its event loop runs: signals
  // that came before are handled as soon as the loop starts.
  void QuitOnSignal();

 private:
  TSignalWatcher FWatcher;
  int FCaught = 0;
};

// Ends the process by that signal as if it had never been caught or blocked.
[[noreturn]] void EndBySignal(int number);
