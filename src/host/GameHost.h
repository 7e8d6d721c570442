// A running game host without its window: it starts the game server and,
// when asked, the web server, receives every socket notification of both
// and routes it to the connection it belongs to.  The host window (or the
// headless host) owns one, gives it the settings and the connection list,
// and shows its Caption.  It owns both servers and through them every
// connection.  User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/DiscoveryResponder.h"
#include "host/HostLimits.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"
#include "net/PortMapping.h"
#include "net/ZULSockets.h"
#include "platform/MessageTarget.h"

class TZULSession;
class TWebTraffic;

// Notification numbers of the host.
enum : uint32_t {
  CM_TRAYICON = WM_USER,        // the notification-area icon (the window's)
  CM_GAMESOCKET = WM_USER + 1,  // game port events
  CM_WEBSOCKET = WM_USER + 2,   // web port events
};

class TGameHost : public TMessageTarget {
 public:
  // settings and list must outlive the host.
  TGameHost(const THostSettings& settings, TSessionListView& list);
  // Destroys the game server, then the web server, and with them every
  // connection: no departure message is sent, the peers see their
  // connections close.
  ~TGameHost() override;
  TGameHost(const TGameHost&) = delete;
  TGameHost& operator=(const TGameHost&) = delete;

  // In this order: the message texts, the game server, the web server when
  // the settings ask for it, the host name and address, the caption, and
  // the answers to discovery queries unless the settings turn them off.  An
  // error stops the start where it happened and is raised; what was started
  // before it keeps running (a game whose discovery port is taken runs
  // unseen by the finders).
  void Start();

  // What a discovery answer tells now: game port, players logged in and
  // not gone, whether a password is asked, the host name.
  TGameAnnounce Announce() const;

  // Routes CM_GAMESOCKET and CM_WEBSOCKET; other numbers go to
  // DefaultHandler.  Errors ("Session non trouvée", "Message Winsock
  // invalide...", socket errors of a write) are raised to the caller.
  void Dispatch(TMessage& message) override;

  TZULServer* GameServer() const { return FGameServer.get(); }
  TServer* WebServer() const { return FWebServer.get(); }
  TWebTraffic* WebTraffic() const { return FWebTraffic.get(); }
  TDiscoveryResponder* Responder() const { return FResponder.get(); }
  // The router's port mapping once OpenRouterPorts ran, or nothing.
  TPortMapper* RouterPorts() const { return FRouterPorts.get(); }

  // When the settings ask for it and the game server runs: asks the router
  // for the game port and, when it runs, the web port, on a worker thread.
  // show gets the result line on this thread, and the download page the
  // public address.  The mappings go when the host is destroyed.
  void OpenRouterPorts(TPortMapper::TShow show);
  TSessionListView& List() const { return FList; }
  const THostSettings& Settings() const { return FSettings; }

  // The window's caption, completed by Start with the host name and address.
  std::string Caption = "Serveur ZUL Vantor";
  // The three message texts; only the properties dialog reads and edits them.
  std::string WelcomeText;
  std::string GoodbyeText;
  std::string CutOffText;
  std::string HostName;
  // Network byte order.
  uint32_t HostAddress = 0;

 private:
  void GameSocketEvent(const TMessage& message);
  void WebSocketEvent(const TMessage& message);
  // Why a new game connection is turned away (the settings' limits), or
  // empty when there is room for it.
  std::string AdmissionRefusal(const TZULSession& newcomer) const;

  const THostSettings& FSettings;
  TSessionListView& FList;
  // Refused logins by source, over every connection the host has had.
  TGuessGate FGuesses;
  std::unique_ptr<TZULServer> FGameServer;
  std::unique_ptr<TServer> FWebServer;
  std::unique_ptr<TWebTraffic> FWebTraffic;
  std::unique_ptr<TDiscoveryResponder> FResponder;
  std::unique_ptr<TPortMapper> FRouterPorts;
};

// The time of day as the connection list shows it: hh:mm:ss.
std::string TimeOfDayText();
