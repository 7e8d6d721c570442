// Opens a host's TCP ports on the home router, so that players on the
// Internet reach a host behind it: UPnP IGD first (miniupnpc), then NAT-PMP
// (libnatpmp).  A TPortMapper owns one worker thread that finds the router,
// maps the ports, renews them before their lease ends and removes them when
// the mapper is destroyed.  The owner constructs and destroys it on the
// user-interface thread, whose event loop receives the result lines; the
// worker never waits for that thread, and that thread waits for the worker
// only in the destructor.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One port as the router maps it.
struct TMappedPort {
  uint16_t Internal = 0;
  uint16_t External = 0;
  bool Mapped = false;
};

// The line a host shows for its router: the public address and game port to
// give, or why there is none.  Texts in Windows-1252.
std::string PortMappingText(const std::string& publicAddress, const std::vector<TMappedPort>& ports);
extern const std::string NoRouterText;

class TPortMapper {
 public:
  // Lease asked of the router, in seconds; a mapping is renewed when half of
  // what the router granted has passed.
  static constexpr int LeaseSeconds = 3600;
  // How long the search for a UPnP router waits for answers, in milliseconds.
  static constexpr int UpnpSearchMs = 2000;
  // How long one NAT-PMP request waits for its answer, retries included, in
  // milliseconds.
  static constexpr int NatPmpWaitMs = 3000;

  using TShow = std::function<void(const std::string& text)>;

  // ports[0] is the game port, then the web port when it runs.  show is
  // called on the constructing thread's event loop with the result line
  // (see PortMappingText), once the router answered or none was found, and
  // again whenever a renewal changes it.
  TPortMapper(std::vector<uint16_t> ports, TShow show);
  // Removes the mappings made, then waits for the worker to end.
  ~TPortMapper();
  TPortMapper(const TPortMapper&) = delete;
  TPortMapper& operator=(const TPortMapper&) = delete;

  // The last line shown, and the public address it gives (empty without
  // one).  User-interface thread.
  const std::string& Text() const { return FText; }
  const std::string& PublicAddress() const { return FPublicAddress; }
  // The router's port for the game port (host byte order), 0 without one.
  uint16_t PublicGamePort() const { return FPublicGamePort; }

 private:
  void Run();
  // Waits up to seconds (0: until the end); true once the mapper ends.
  bool WaitForEnd(int seconds);
  bool Ending();
  void Show(const std::string& text, const std::string& publicAddress, uint16_t publicGamePort);

  std::vector<uint16_t> FPorts;
  TShow FShow;
  std::string FText;
  std::string FPublicAddress;
  uint16_t FPublicGamePort = 0;
  // Receives the worker's lines on the constructing thread; destroyed after
  // the worker ended, which drops any line not delivered yet.
  std::unique_ptr<QObject> FReceiver;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FEnding = false;
  std::thread FWorker;
};
