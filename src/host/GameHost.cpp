#include "host/GameHost.h"

#include <QString>
#include <cstdio>
#include <ctime>

#include "host/Sessions.h"
#include "host/WebSessions.h"
#include "platform/Datagrams.h"
#include "platform/Errors.h"
#include "platform/SocketEvents.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {
// "hh:mm:ss" and its terminator, with room for any int the fields could hold.
constexpr int TimeOfDayBytes = 40;
}  // namespace

TGameHost::TGameHost(const THostSettings& settings, TSessionListView& list)
    : FSettings(settings), FList(list) {}

TGameHost::~TGameHost() {
  // The router forgets the ports while the servers still hold them.
  FRouterPorts.reset();
  // Finders stop seeing the game before its connections go.
  FResponder.reset();
  FGameServer.reset();
  // The sessions forget themselves in the traffic as they go.
  FWebServer.reset();
  FWebTraffic.reset();
  ForgetTarget(this);
}

void TGameHost::Start() {
  WelcomeText = "Bonjour %n !"_cp;
  GoodbyeText = "%n vous dit au revoir :D"_cp;
  CutOffText = "%n nous a quitté précipitemment"_cp;
  FGameServer = std::make_unique<TZULServer>(this, FSettings.Port, CM_GAMESOCKET);
  if (FSettings.Web) {
    FWebServer = std::make_unique<TServer>(this, FSettings.WebPort, CM_WEBSOCKET);
    FWebTraffic = std::make_unique<TWebTraffic>(*FWebServer);
    FWebTraffic->GamePort = FGameServer->Port();
  }
  HostName = LocalHostName();
  HostAddress = ResolveHost(HostName);
  // The name may resolve to loopback (Debian maps it to 127.0.1.1): the
  // caption gives the addresses the others can reach, with the port.
  std::string addresses;
  for (uint32_t address : LanAddresses())
    addresses +=
        (addresses.empty() ? "" : ", ") + AddressText(address) + ":" + std::to_string(FGameServer->Port());
  Caption += " - " + HostName + " (" + addresses + ")";
  if (FSettings.Discovery)
    FResponder =
        std::make_unique<TDiscoveryResponder>(FSettings.DiscoveryPort, [this] { return Announce(); });
}

void TGameHost::OpenRouterPorts(TPortMapper::TShow show) {
  if (!FSettings.Upnp || !FGameServer) return;
  std::vector<uint16_t> ports{FGameServer->Port()};
  if (FWebServer) ports.push_back(FWebServer->Port());
  // The download page gives the public address too, once there is one.
  auto shown = [this, show = std::move(show)](const std::string& text) {
    if (FWebTraffic && FRouterPorts) {
      FWebTraffic->PublicAddress = FRouterPorts->PublicAddress();
      FWebTraffic->PublicGamePort = FRouterPorts->PublicGamePort();
    }
    if (show) show(text);
  };
  FRouterPorts = std::make_unique<TPortMapper>(std::move(ports), std::move(shown));
}

TGameAnnounce TGameHost::Announce() const {
  TGameAnnounce announce;
  if (!FGameServer) return announce;
  announce.GamePort = FGameServer->Port();
  const TSessionList& connections = FGameServer->Connections();
  for (int i = 0; i < connections.Count(); ++i) {
    auto* session = static_cast<const TZULSession*>(connections[i]);
    if (session->Admitted && !session->Left() && !session->Closing) ++announce.Players;
  }
  announce.Password = !FSettings.Password.empty();
  // The machine's name comes in the local 8-bit encoding; answers carry it
  // in the game's.
  announce.HostName = FromQString(QString::fromLocal8Bit(HostName.c_str()));
  return announce;
}

void TGameHost::Dispatch(TMessage& message) {
  switch (message.Msg) {
    case CM_GAMESOCKET:
      GameSocketEvent(message);
      break;
    case CM_WEBSOCKET:
      WebSocketEvent(message);
      break;
    default:
      DefaultHandler(message);
  }
}

// An accept is the whole parameter 8: an accept that carries an error code
// goes to the look-up like any other event (and finds nothing).
void TGameHost::GameSocketEvent(const TMessage& message) {
  auto handle = static_cast<TSocketHandle>(message.WParam);
  if (message.LParam == FD_ACCEPT) {
    // The server's Connections own the new session.  A connection that
    // could not be accepted leaves nothing: no session, no row.
    if (!FGameServer) return;
    TZULSession* session = nullptr;
    try {
      session = new TZULSession(*FGameServer, handle, FList, FSettings, FGuesses);
    } catch (const TAcceptError&) {
      return;
    }
    std::string refusal = AdmissionRefusal(*session);
    if (!refusal.empty()) session->TurnAway(refusal);
    return;
  }
  TSessionItem* item = FGameServer ? FGameServer->Connections().FindBySocket(handle) : nullptr;
  if (!item) {
    // A close that comes after the connection was released.
    if (message.LParam == FD_CLOSE) return;
    throw Exception("Session non trouvée"_cp);
  }
  auto* session = static_cast<TZULSession*>(item);
  // A release asked for while the event is handled happens as it ends.
  THandlerScope handling(*session);
  uint16_t error = WSAGETSELECTERROR(message.LParam);
  if (error != 0) {
    session->Release();
    return;
  }
  session->Row().SetSubItem(TSessionRow::TimeColumn, TimeOfDayText());
  switch (WSAGETSELECTEVENT(message.LParam)) {
    case FD_READ:
      session->HandleRead();
      break;
    case FD_WRITE:
      session->IO->Flush();
      break;
    case FD_CLOSE:
      session->Closing = true;
      break;
    default:
      RaiseSocketError("Message Winsock invalide", error);
  }
  if (session->Closing) session->Release();
}

// The newcomer is counted with the others, as its start row counts it.
std::string TGameHost::AdmissionRefusal(const TZULSession& newcomer) const {
  if (FGuesses.HeldBack(newcomer.Source(), GetTickCount())) return TooManyGuessesText;
  const TSessionList& connections = FGameServer->Connections();
  if (FSettings.MaxPlayers > 0 && connections.Count() > FSettings.MaxPlayers) return ServerFullText;
  if (FSettings.MaxPerAddress > 0) {
    // An IPv6 player may take any address of its /64: the block counts.
    const std::string block = PeerBlock(newcomer.Address());
    int same = 0;
    for (int i = 0; i < connections.Count(); ++i) same += PeerBlock(connections[i]->Address()) == block;
    if (same > FSettings.MaxPerAddress) return AddressFullText;
  }
  return {};
}

void TGameHost::WebSocketEvent(const TMessage& message) {
  auto handle = static_cast<TSocketHandle>(message.WParam);
  if (message.LParam == FD_ACCEPT) {
    // The server's Connections own the new connection; as on the game
    // port, one that could not be accepted leaves nothing.
    if (!FWebServer) return;
    TWebSession* session = nullptr;
    try {
      session = new TWebSession(*FWebServer, handle, FList, FWebTraffic.get());
    } catch (const TAcceptError&) {
      return;
    }
    FWebTraffic->Admit(*session);
    return;
  }
  TSessionItem* item = FWebServer ? FWebServer->Connections().FindBySocket(handle) : nullptr;
  if (!item) return;
  auto* session = static_cast<TWebSession*>(item);
  // The session releases itself from its own handlers: that happens as the
  // event ends.
  THandlerScope handling(*session);
  uint16_t error = WSAGETSELECTERROR(message.LParam);
  if (error != 0) {
    session->Release();
    return;
  }
  switch (WSAGETSELECTEVENT(message.LParam)) {
    case FD_READ:
      session->HandleRequest();
      break;
    case FD_WRITE:
      session->SendMore();
      break;
    case FD_CLOSE:
      session->PeerClosed();
      break;
    default:
      RaiseSocketError("[WEB] Message Winsock invalide", error);
  }
}

// Called on every socket event: formatted by hand into the string's own
// room (eight characters), it allocates nothing.
std::string TimeOfDayText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[TimeOfDayBytes];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}
