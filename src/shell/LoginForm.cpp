#include "shell/LoginForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "client/ClientForm.h"
#include "net/Sockets.h"
#include "platform/Convert.h"
#include "platform/Datagrams.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "shell/CommandLine.h"
#include "shell/DialogStyle.h"

TFrmLogin* FrmLogin = nullptr;

namespace {
constexpr int ClientWidth = 350;
constexpr int ClientHeight = 209;
constexpr int MaxPort = 65535;
}  // namespace

TFrmLogin::TFrmLogin(QWidget* owner) : QDialog(nullptr), FOwner(owner) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString("ZUL Vantor"_cp));
  SetFixedDialog(*this, ClientWidth, ClientHeight);
  Label1 = PlaceLabel(*this, "Pour rejoindre une partie vous devez connaitre :"_cp, 8, 8, 334);
  Label2 = PlaceLabel(*this, "l'adresse IP du serveur"_cp, 24, 36, 190);
  edHost = new QLineEdit("127.0.0.1", this);
  Place(*edHost, 218, 32, 124, 22);
  Label3 = PlaceLabel(*this, "le \"numéro de port\" qu'il utilise"_cp, 24, 64, 190);
  edPort = new QLineEdit("2048", this);
  Place(*edPort, 218, 60, 124, 22);
  Label4 = PlaceLabel(*this, "le mot de passe à la connexion"_cp, 24, 92, 190);
  edPass = new QLineEdit(this);
  Place(*edPass, 218, 88, 124, 22);
  Label5 = PlaceLabel(*this, "Indiquez également votre nom"_cp, 8, 128, 206);
  guest = new QLineEdit("guest", this);
  Place(*guest, 218, 124, 124, 22);
  Button1 = new QPushButton(ToQString("Rejoindre la partie"_cp), this);
  Place(*Button1, 95, 168, 160, 28);
  Button1->setDefault(true);
  OnClick(*Button1, [this] { Button1Click(); });
  // The one control added beside the dialog's own, in the room right of
  // Button1; the dialog keeps its size, boxes and texts.
  btFind = new QPushButton(ToQString("Chercher..."_cp), this);
  btFind->setToolTip(ToQString("Les parties du réseau local"_cp));
  Place(*btFind, 262, 168, 80, 28);
  btFind->setAutoDefault(false);
  OnClick(*btFind, [this] { btFindClick(); });
  ClientArguments = WithoutSoundOptions(QCoreApplication::arguments());
  FrmLogin = this;
}

TFrmLogin::~TFrmLogin() {
  if (FrmLogin == this) FrmLogin = nullptr;
  if (FOwner) FOwner->show();
}

void TFrmLogin::Button1Click() {
  // The host box takes the port too, as --join does ("[::1]:2048",
  // "name:2048"); that one goes before the port box's.
  const std::string typed = FromQString(edHost->text());
  std::string host = typed;
  uint16_t typedPort = 0;
  bool portTyped = false;
  if (!ParseHostAndPort(typed, host, typedPort, &portTyped)) host = typed;
  ServerAddresses = ResolveAddresses(host);
  if (ServerAddresses.empty()) {
    ShowMessage("Serveur invalide ou introuvable"_cp);
    edHost->setFocus();
    return;
  }
  ServerPort = portTyped ? typedPort : StrToInt(FromQString(edPort->text()));
  if (ServerPort < 0 || ServerPort > MaxPort) {
    ShowMessage("Numéro de port invalide"_cp);
    edPort->setFocus();
    return;
  }
  // The list of local games has served its purpose: it stops querying.
  if (LocalGames) LocalGames->close();
  hide();
  // The client window belongs to the application and makes itself FrmClient.
  auto* client = new TFrmClient(ClientArguments);
  client->Connect(ServerAddresses, static_cast<uint16_t>(ServerPort), FromQString(guest->text()),
                  FromQString(edPass->text()));
}

void TFrmLogin::btFindClick() {
  if (!LocalGames) {
    std::vector<uint32_t> targets = SearchTargets.empty() ? InterfaceBroadcasts() : SearchTargets;
    LocalGames = new TFrmLocalGames(this, *edHost, *edPort, std::move(targets), SearchPort);
  }
  LocalGames->show();
  LocalGames->raise();
  LocalGames->activateWindow();
}

void TFrmLogin::reject() { close(); }

void TFrmLogin::closeEvent(QCloseEvent* event) { event->accept(); }
