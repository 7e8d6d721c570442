#include "host/ServerProps.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "platform/Text1252.h"

namespace {
constexpr int ClientWidth = 402;
constexpr int ClientHeight = 128;

QLineEdit* AddRow(QDialog& dialog, QLabel*& label, const std::string& caption, const std::string& text,
                  int y) {
  label = new QLabel(ToQString(caption), &dialog);
  label->setGeometry(8, y + 3, 150, 18);
  auto* box = new QLineEdit(ToQString(text), &dialog);
  box->setGeometry(160, y, 234, 22);
  return box;
}
}  // namespace

TFrmServerProps::TFrmServerProps(QWidget* parent, std::string& welcome, std::string& goodbye,
                                 std::string& cutOff)
    : QDialog(parent), FWelcome(welcome), FGoodbye(goodbye), FCutOff(cutOff) {
  setWindowTitle("FrmServerProps");
  QFont font("Arial");
  font.setBold(true);
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(ClientWidth, ClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(ClientWidth / 2, ClientHeight / 2));
  edWelcome = AddRow(*this, Label1, "Message de bienvenue"_cp, welcome, 8);
  edGoodbye = AddRow(*this, Label2, "Message d'adieu"_cp, goodbye, 36);
  edDisconnected = AddRow(*this, Label3, "Message de coupure"_cp, cutOff, 64);
  OK = new QPushButton("OK", this);
  OK->setGeometry(230, 94, 78, 26);
  OK->setDefault(true);
  Annuler = new QPushButton("Annuler", this);
  Annuler->setGeometry(316, 94, 78, 26);
  connect(OK, &QPushButton::clicked, this, [this] { OKClick(); });
  connect(Annuler, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmServerProps::OKClick() {
  FWelcome = FromQString(edWelcome->text());
  FGoodbye = FromQString(edGoodbye->text());
  FCutOff = FromQString(edDisconnected->text());
  accept();
}
