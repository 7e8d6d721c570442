// The host-a-game dialog.  It validates the port and opens the host window,
// which it owns; it stays alive, hidden, while the host runs, because the
// host reads its port, password, web-server and router boxes.  Closing it
// brings the main window back and destroys it.
#pragma once

#include <QDialog>
#include <cstdint>

#include "host/HostSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TFrmSetup : public QDialog {
  Q_OBJECT
 public:
  // Owner is the main window, shown again when the dialog closes.
  explicit TFrmSetup(QWidget* owner);

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLineEdit* edPort;
  QLineEdit* edPass;
  QCheckBox* cbWeb;
  QCheckBox* cbUpnp;
  QPushButton* Button1;

  // The port accepted by Button1.
  int32_t Port = 0;
  // What the running host reads: the port, the password and the web box,
  // as Button1 accepted them.  It lives as long as the dialog, which
  // outlives the host window.
  THostSettings Settings;

  void Button1Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QWidget* FOwner;
};

extern TFrmSetup* FrmSetup;
