// The game host without a window (varozuvod --serve): the same TGameHost
// as the host window, with the connection list printed on an output stream
// instead of shown, one line per change, until SIGTERM or SIGINT ends it.
// It owns the host and the settings it runs with.  User-interface thread
// only; construct it before any other thread starts, as it takes the two
// signals away from the threads of the process.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "host/GameHost.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"

class TSignalWatcher;

// Descriptors the headless host keeps open besides its players'
// connections: the standard streams, the listening sockets, the signal
// descriptor, the event loop's own, and web downloads (a socket and a file
// each) while they run.
inline constexpr uint64_t HostDescriptorReserve = 64;

// Descriptors a host for that many players needs.
inline uint64_t DescriptorsForPlayers(int players) { return uint64_t(players) + HostDescriptorReserve; }

// Raises the soft descriptor limit to the hard one.  When it stays below
// what `players` connections need, shows a line that says so (on standard
// error for a headless process); players 0 asks for no count.  Returns the
// soft limit in force.
uint64_t ReserveDescriptors(int players);

class THeadlessHost : public TSessionListView {
 public:
  // Lines go to out, in UTF-8.
  explicit THeadlessHost(const THostSettings& settings, std::FILE* out = stdout);
  ~THeadlessHost() override;

  // Raises the descriptor limit (see ReserveDescriptors, with --max-players
  // as the count when it is given), starts the
  // servers and prints the caption and the ports (game, web, discovery: the
  // last line once the host answers finders).  An error is
  // shown (on standard error) and the start goes on no further; returns
  // whether the game server runs.  With --upnp the router's answer comes
  // later as a line of its own (see PortMappingText).
  bool Start();
  // Runs the event loop until SIGTERM or SIGINT (or Stop), then closes every
  // connection and waits a little for them to end gracefully.  Returns the
  // exit status, 0.
  int Run();
  // Ends Run from inside the event loop.
  void Stop();

  TGameHost& Host() const { return *FHost; }

 protected:
  // Row lines: "+" for a new row, "=" for a change of its caption, player or
  // status (not of its time alone), "-" when it goes; then the caption and
  // the three columns, separated by tabs, each as ListingText shows it.
  void RowAdded(const TSessionRow& row, int index) override;
  void RowChanged(const TSessionRow& row, int index, int column) override;
  void RowRemoved(const TSessionRow& row, int index) override;

 private:
  void Print(const std::string& line);
  void PrintRow(char mark, const TSessionRow& row);

  THostSettings FSettings;
  std::FILE* FOut;
  std::unique_ptr<TSignalWatcher> FSignals;
  std::unique_ptr<TGameHost> FHost;
  bool FStopping = false;
};

// A column as the listing prints it: control bytes (tab, CR, LF and 0
// included) as \xHH, a backslash as \\, every other byte as it is.
std::string ListingText(const std::string& text);
