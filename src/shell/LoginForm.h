// The join-a-game dialog.  It resolves the host's address, checks the port
// and opens the client window; it hides while the game runs and comes back
// when the client window closes (unless this process hosts).  Its
// destruction brings the main window back.  Beside its boxes, btFind opens
// the list of the games found on the local network, which fills the
// address and port boxes.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "net/Discovery.h"
#include "platform/WinSock.h"
#include "shell/LocalGamesForm.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TFrmLogin : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmLogin(QWidget* owner);
  ~TFrmLogin() override;

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLineEdit* edHost;
  QLineEdit* edPort;
  QLineEdit* edPass;
  QLineEdit* guest;
  QPushButton* Button1;
  // "Chercher...": the games of the local network.
  QPushButton* btFind;

  // The server's addresses, in the order they are tried, and the accepted
  // port.  The name is looked up on this thread, as it always was: the
  // resolver's wait (about as long for both families as for one) holds
  // the dialog; the connects that follow never do.
  std::vector<ws::TAddress> ServerAddresses;
  int32_t ServerPort = 0;

  void Button1Click();
  // Opens the list of local games (or brings it to the front).
  void btFindClick();

  // Where the list of local games sends its queries (host byte order; empty:
  // the broadcast address of every interface that is up) and on which port.
  std::vector<uint32_t> SearchTargets;
  uint16_t SearchPort = DiscoveryUdpPort;
  // The open list of local games, null when none is open.
  QPointer<TFrmLocalGames> LocalGames;

  // The command line the client window reads ("debug" first makes it a
  // normal window); the program's own unless a direct join set it.
  QStringList ClientArguments;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QWidget* FOwner;
};

extern TFrmLogin* FrmLogin;
