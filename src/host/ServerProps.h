// The small dialog that edits the host's three message texts.  It copies
// the texts in on creation; OK copies them back, Annuler does not.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class TFrmServerProps : public QDialog {
  Q_OBJECT
 public:
  // The three texts it edits, in this order: welcome, goodbye, cut-off.
  TFrmServerProps(QWidget* parent, std::string& welcome, std::string& goodbye, std::string& cutOff);

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLineEdit* edWelcome;
  QLineEdit* edGoodbye;
  QLineEdit* edDisconnected;
  QPushButton* OK;
  QPushButton* Annuler;

  void OKClick();

 private:
  std::string& FWelcome;
  std::string& FGoodbye;
  std::string& FCutOff;
};
