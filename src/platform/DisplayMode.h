// The full-screen display mode asked for on the command line: width, height
// and an optional colour depth, applied for the process's lifetime and
// restored at exit, also after an error.  On X11 the mode is set through
// XRandR on the primary output; colour depth cannot change there and is
// only kept for the record.  Without X11 or RandR nothing changes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TDisplayMode {
  int Width = 0;
  int Height = 0;
  int Depth = 32;
  bool operator==(const TDisplayMode&) const = default;
};

// The mode the arguments ask for: at least two, each a valid integer
// (depth 32 when there are exactly two); any failing conversion means no
// change.
std::optional<TDisplayMode> DisplayModeFromArguments(const std::vector<std::string>& arguments);

// The platform's display settings: a temporary full-screen mode, and the
// return to the display's own mode.
class TDisplaySettings {
 public:
  virtual ~TDisplaySettings() = default;
  // A mode the display refuses leaves it as it was.
  virtual void Change(const TDisplayMode& mode) = 0;
  virtual void Restore() = 0;
};

// XRandR on the primary output; does nothing without X11 or RandR.  Change
// starts a guardian process first (it must be called while the process has
// a single thread), which puts the mode back if the game dies before
// Restore: a crash, SIGKILL.  No guardian, no change.
class TXRandRDisplay : public TDisplaySettings {
 public:
  TXRandRDisplay();
  ~TXRandRDisplay() override;
  void Change(const TDisplayMode& mode) override;
  void Restore() override;

 private:
  struct TSaved;
  std::unique_ptr<TSaved> FSaved;
};

// The lifetime of the game's display mode: sets the mode the arguments ask
// for, if any, and restores the display's own mode when it ends, whether a
// mode was set or not and whether the game ended normally or by an error.
class TDisplayModeScope {
 public:
  TDisplayModeScope(TDisplaySettings& display, const std::vector<std::string>& arguments);
  ~TDisplayModeScope();
  TDisplayModeScope(const TDisplayModeScope&) = delete;
  TDisplayModeScope& operator=(const TDisplayModeScope&) = delete;

 private:
  TDisplaySettings& FDisplay;
};
