#include "shell/SetupForm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "host/ServerForm.h"
#include "platform/Convert.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"
#include "shell/DialogStyle.h"
#include "shell/LocalPlayer.h"

TFrmSetup* FrmSetup = nullptr;

namespace {
constexpr int ClientWidth = 389;
constexpr int ClientHeight = 200;
constexpr int MaxPort = 65535;
}  // namespace

TFrmSetup::TFrmSetup(QWidget* owner) : QDialog(nullptr), FOwner(owner) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString("Configuration du Serveur"_cp));
  SetFixedDialog(*this, ClientWidth, ClientHeight);
  Label1 = PlaceLabel(*this, "Vous êtes sur le point de démarrer une partie d'VAROzuvod..."_cp, 8, 8, 373);
  Label2 = PlaceLabel(*this, "Vous devrez communiquer votre adresse IP aux autres joueurs."_cp, 8, 28, 373);
  Label3 = PlaceLabel(*this, "Veuillez choisir le \"numéro de port\" à utiliser"_cp, 8, 58, 280);
  edPort = new QLineEdit("2048", this);
  Place(*edPort, 296, 54, 85, 22);
  AcceptDigitsOnly(*edPort);
  Label4 = PlaceLabel(*this, "Indiquez le mot de passe à la connexion"_cp, 8, 86, 280);
  edPass = new QLineEdit(this);
  Place(*edPass, 296, 82, 85, 22);
  cbWeb = new QCheckBox(ToQString("Serveur Web sur le port 80 (pour ZUL Vantor uniquement)"_cp), this);
  Place(*cbWeb, 8, 112, 373, 20);
  // Unticked: opening the game to the Internet is the host's choice.
  cbUpnp = new QCheckBox(ToQString("Ouvrir le port sur le routeur (UPnP)"_cp), this);
  Place(*cbUpnp, 8, 134, 373, 20);
  Button1 = new QPushButton(ToQString("Démarrer la partie !"_cp), this);
  Place(*Button1, 104, 164, 181, 28);
  Button1->setDefault(true);
  OnClick(*Button1, [this] { Button1Click(); });
  FrmSetup = this;
}

void TFrmSetup::Button1Click() {
  edPort->setFocus();
  Port = StrToInt(FromQString(edPort->text()));
  if (Port < 0 || Port > MaxPort) {
    ShowMessage("Le numéro de port doit être compris entre 0 et 65535"_cp);
    return;
  }
  Settings.Port = static_cast<uint16_t>(Port);
  Settings.Password = FromQString(edPass->text());
  Settings.Web = cbWeb->isChecked();
  Settings.Upnp = cbUpnp->isChecked();
  hide();
  // The dialog owns the host window (a child window of its own), whose
  // "Local" plays in a client window of this process.
  LinkLocalPlayer();
  new TFrmServer(this, Settings);
}

void TFrmSetup::reject() { close(); }

void TFrmSetup::closeEvent(QCloseEvent* event) {
  event->accept();
  if (FrmSetup == this) FrmSetup = nullptr;
  if (FOwner) FOwner->show();
}
