#include "net/PortMapping.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>
#include <poll.h>

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <optional>

#include "platform/Text1252.h"

const std::string NoRouterText = "Aucun routeur UPnP ni NAT-PMP trouvé"_cp;

namespace {

// The description a UPnP router shows beside our mappings.
const char* const MappingDescription = "VAROzuvod";
// Hops the UPnP search datagrams may travel: the router is the next one.
constexpr unsigned char UpnpSearchTtl = 2;
// UPnP error codes of AddPortMapping.
constexpr int UpnpConflictInMappingEntry = 718;
constexpr int UpnpOnlyPermanentLeases = 725;
// Room for a dotted IPv4 address and its terminator, and more.
constexpr int AddressBytes = 64;
constexpr int PortDigits = 8;

struct TGrant {
  uint16_t External = 0;
  // Seconds the router keeps it; 0 for ever.
  int LeaseSeconds = 0;
};

// A router that maps ports.  Calls block for at most a few seconds each.
class TGateway {
 public:
  virtual ~TGateway() = default;
  // Dotted, or empty when the router does not tell.
  virtual std::string PublicAddress() = 0;
  // Asks for external to reach internal on this machine; the grant, or
  // nothing when the router refuses.
  virtual std::optional<TGrant> Map(uint16_t internal, uint16_t external, int leaseSeconds) = 0;
  virtual void Unmap(uint16_t internal, uint16_t external) = 0;
};

class TUpnpGateway : public TGateway {
 public:
  // The router that answers the search, or nothing.
  static std::unique_ptr<TUpnpGateway> Find() {
    int error = 0;
    UPNPDev* devices = upnpDiscover(TPortMapper::UpnpSearchMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0,
                                    UpnpSearchTtl, &error);
    if (!devices) return nullptr;
    std::unique_ptr<TUpnpGateway> gateway(new TUpnpGateway);
    // 1: an Internet gateway that says it is connected; 2 and 3 (one not
    // connected, or another kind of device) cannot map anything useful.
    int found = UPNP_GetValidIGD(devices, &gateway->FUrls, &gateway->FData, gateway->FLanAddress,
                                 sizeof gateway->FLanAddress);
    freeUPNPDevlist(devices);
    if (found != 1) return nullptr;
    return gateway;
  }

  ~TUpnpGateway() override { FreeUPNPUrls(&FUrls); }

  std::string PublicAddress() override {
    char address[AddressBytes] = {};
    if (UPNP_GetExternalIPAddress(FUrls.controlURL, FData.first.servicetype, address) != UPNPCOMMAND_SUCCESS)
      return {};
    return address;
  }

  std::optional<TGrant> Map(uint16_t internal, uint16_t external, int leaseSeconds) override {
    std::string in = std::to_string(internal);
    std::string out = std::to_string(external);
    if (FPermanentOnly) leaseSeconds = 0;
    int result = Add(in, out, leaseSeconds);
    if (result == UpnpOnlyPermanentLeases) {
      FPermanentOnly = true;
      leaseSeconds = 0;
      result = Add(in, out, leaseSeconds);
    }
    if (result == UPNPCOMMAND_SUCCESS) return TGrant{external, leaseSeconds};
    if (result != UpnpConflictInMappingEntry) return std::nullopt;
    // The external port is someone else's: a router of the second version
    // picks a free one.
    char reserved[PortDigits] = {};
    result = UPNP_AddAnyPortMapping(FUrls.controlURL, FData.first.servicetype, out.c_str(), in.c_str(),
                                    FLanAddress, MappingDescription, "TCP", nullptr,
                                    std::to_string(leaseSeconds).c_str(), reserved);
    int port = std::atoi(reserved);
    if (result != UPNPCOMMAND_SUCCESS || port <= 0 || port > 65535) return std::nullopt;
    return TGrant{static_cast<uint16_t>(port), leaseSeconds};
  }

  void Unmap(uint16_t, uint16_t external) override {
    UPNP_DeletePortMapping(FUrls.controlURL, FData.first.servicetype, std::to_string(external).c_str(), "TCP",
                           nullptr);
  }

 private:
  TUpnpGateway() = default;

  int Add(const std::string& in, const std::string& out, int leaseSeconds) {
    return UPNP_AddPortMapping(FUrls.controlURL, FData.first.servicetype, out.c_str(), in.c_str(),
                               FLanAddress, MappingDescription, "TCP", nullptr,
                               std::to_string(leaseSeconds).c_str());
  }

  UPNPUrls FUrls{};
  IGDdatas FData{};
  char FLanAddress[AddressBytes] = {};
  bool FPermanentOnly = false;
};

class TNatPmpGateway : public TGateway {
 public:
  // The default gateway when it answers NAT-PMP, or nothing.
  static std::unique_ptr<TNatPmpGateway> Find() {
    std::unique_ptr<TNatPmpGateway> gateway(new TNatPmpGateway);
    if (initnatpmp(&gateway->FNat, 0, 0) < 0) return nullptr;
    gateway->FOpen = true;
    natpmpresp_t response{};
    if (sendpublicaddressrequest(&gateway->FNat) < 0 || !gateway->Await(response) ||
        response.type != NATPMP_RESPTYPE_PUBLICADDRESS)
      return nullptr;
    char address[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &response.pnu.publicaddress.addr, address, sizeof address))
      gateway->FAddress = address;
    return gateway;
  }

  ~TNatPmpGateway() override {
    if (FOpen) closenatpmp(&FNat);
  }

  std::string PublicAddress() override { return FAddress; }

  std::optional<TGrant> Map(uint16_t internal, uint16_t external, int leaseSeconds) override {
    natpmpresp_t response{};
    if (sendnewportmappingrequest(&FNat, NATPMP_PROTOCOL_TCP, internal, external,
                                  static_cast<uint32_t>(leaseSeconds)) < 0 ||
        !Await(response) || response.type != NATPMP_RESPTYPE_TCPPORTMAPPING ||
        response.pnu.newportmapping.mappedpublicport == 0)
      return std::nullopt;
    uint32_t granted = std::min<uint32_t>(response.pnu.newportmapping.lifetime, TPortMapper::LeaseSeconds);
    return TGrant{response.pnu.newportmapping.mappedpublicport, static_cast<int>(granted)};
  }

  // A lifetime of 0 with no external port removes the mapping.
  void Unmap(uint16_t internal, uint16_t) override {
    natpmpresp_t response{};
    if (sendnewportmappingrequest(&FNat, NATPMP_PROTOCOL_TCP, internal, 0, 0) >= 0) Await(response);
  }

 private:
  TNatPmpGateway() = default;

  // Waits for the answer to the request sent, resending it as the library
  // times it, for at most NatPmpWaitMs.  A refusal is an answer that fails.
  bool Await(natpmpresp_t& response) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(TPortMapper::NatPmpWaitMs);
    for (;;) {
      timeval timeout{};
      getnatpmprequesttimeout(&FNat, &timeout);
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      long wait = std::clamp<long>(timeout.tv_sec * 1000 + timeout.tv_usec / 1000, 0, left);
      pollfd socket{FNat.s, POLLIN, 0};
      poll(&socket, 1, static_cast<int>(wait));
      int result = readnatpmpresponseorretry(&FNat, &response);
      if (result >= 0) return true;
      if (result != NATPMP_TRYAGAIN) return false;
    }
  }

  natpmp_t FNat{};
  bool FOpen = false;
  std::string FAddress;
};

std::unique_ptr<TGateway> FindGateway() {
  if (auto upnp = TUpnpGateway::Find()) return upnp;
  return TNatPmpGateway::Find();
}

}  // namespace

std::string PortMappingText(const std::string& publicAddress, const std::vector<TMappedPort>& ports) {
  if (ports.empty()) return NoRouterText;
  const TMappedPort& game = ports[0];
  if (!game.Mapped) return std::string("Le routeur a refusé le port "_cp) + std::to_string(game.Internal);
  std::string text = "Adresse Internet : " + (publicAddress.empty() ? std::string("?") : publicAddress) +
                     ":" + std::to_string(game.External);
  for (size_t i = 1; i < ports.size(); ++i) {
    if (ports[i].Mapped)
      text += ", web : port " + std::to_string(ports[i].External);
    else
      text += std::string(", le routeur a refusé le port "_cp) + std::to_string(ports[i].Internal);
  }
  return text;
}

TPortMapper::TPortMapper(std::vector<uint16_t> ports, TShow show)
    : FPorts(std::move(ports)), FShow(std::move(show)), FReceiver(std::make_unique<QObject>()) {
  FWorker = std::thread([this] { Run(); });
}

TPortMapper::~TPortMapper() {
  {
    std::lock_guard<std::mutex> hold(FLock);
    FEnding = true;
  }
  FWake.notify_all();
  FWorker.join();
}

bool TPortMapper::WaitForEnd(int seconds) {
  std::unique_lock<std::mutex> hold(FLock);
  if (seconds <= 0) {
    FWake.wait(hold, [this] { return FEnding; });
    return true;
  }
  return FWake.wait_for(hold, std::chrono::seconds(seconds), [this] { return FEnding; });
}

bool TPortMapper::Ending() {
  std::lock_guard<std::mutex> hold(FLock);
  return FEnding;
}

// The worker: find, map, renew at half the shortest lease, remove.
void TPortMapper::Run() {
  if (FPorts.empty()) return;
  std::unique_ptr<TGateway> gateway = FindGateway();
  if (!gateway) {
    Show(NoRouterText, {}, 0);
    return;
  }
  std::vector<TMappedPort> mapped;
  for (uint16_t port : FPorts) mapped.push_back(TMappedPort{port, port, false});
  std::string shown;
  for (;;) {
    if (Ending()) break;
    int renewSeconds = 0;
    for (TMappedPort& port : mapped) {
      auto grant = gateway->Map(port.Internal, port.External, LeaseSeconds);
      port.Mapped = grant.has_value();
      if (!grant) continue;
      port.External = grant->External;
      if (grant->LeaseSeconds > 0)
        renewSeconds = renewSeconds == 0 ? grant->LeaseSeconds : std::min(renewSeconds, grant->LeaseSeconds);
    }
    std::string address = gateway->PublicAddress();
    std::string text = PortMappingText(address, mapped);
    if (text != shown)
      Show(text, mapped[0].Mapped ? address : std::string(), mapped[0].Mapped ? mapped[0].External : 0);
    shown = text;
    // A refused port is asked for again at the next renewal; with nothing
    // leased there is none before the end.
    if (WaitForEnd(renewSeconds > 0 ? std::max(1, renewSeconds / 2) : 0)) break;
  }
  for (const TMappedPort& port : mapped)
    if (port.Mapped) gateway->Unmap(port.Internal, port.External);
}

void TPortMapper::Show(const std::string& text, const std::string& publicAddress, uint16_t publicGamePort) {
  QMetaObject::invokeMethod(
      FReceiver.get(),
      [this, text, publicAddress, publicGamePort] {
        FText = text;
        FPublicAddress = publicAddress;
        FPublicGamePort = publicGamePort;
        if (FShow) FShow(text);
      },
      Qt::QueuedConnection);
}
