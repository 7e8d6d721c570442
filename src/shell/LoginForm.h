// The join-a-game dialog.  It resolves the host's address, checks the port
// and opens the client window; it hides while the game runs and comes back
// when the client window closes (unless this process hosts).  Its
// destruction brings the main window back.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

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

  // The resolved server address (network byte order) and the accepted port.
  uint32_t ServerAddress = 0;
  int32_t ServerPort = 0;

  void Button1Click();

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
