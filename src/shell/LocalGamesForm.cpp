#include "shell/LocalGamesForm.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "platform/Datagrams.h"
#include "platform/Errors.h"
#include "platform/Text1252.h"
#include "shell/DialogStyle.h"

namespace {
constexpr int ClientWidth = 430;
constexpr int ClientHeight = 220;
constexpr std::array<int, TFrmLocalGames::ColumnCount> ColumnWidths = {118, 98, 50, 60, 84};
}  // namespace

TFrmLocalGames::TFrmLocalGames(QWidget* owner, QLineEdit& host, QLineEdit& port,
                               std::vector<uint32_t> targets, uint16_t discoveryPort)
    : QDialog(owner), FHost(host), FPort(port) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString("Parties du réseau local"_cp));
  SetFixedDialog(*this, ClientWidth, ClientHeight);
  Label1 = PlaceLabel(*this, "Choisissez une partie pour remplir l'adresse et le port :"_cp, 8, 8, 414);
  List = new QTreeWidget(this);
  Place(*List, 8, 30, 414, 146);
  List->setRootIsDecorated(false);
  List->setColumnCount(ColumnCount);
  List->setHeaderLabels({ToQString("Serveur"_cp), ToQString("Adresse"_cp), ToQString("Port"_cp),
                         ToQString("Joueurs"_cp), ToQString("Mot de passe"_cp)});
  for (int i = 0; i < ColumnCount; ++i) List->setColumnWidth(i, ColumnWidths[i]);
  List->setSelectionMode(QAbstractItemView::SingleSelection);
  Button1 = new QPushButton(ToQString("Choisir"_cp), this);
  Place(*Button1, 222, 184, 96, 28);
  Button1->setDefault(true);
  Button2 = new QPushButton(ToQString("Fermer"_cp), this);
  Place(*Button2, 326, 184, 96, 28);
  OnClick(*Button1, [this] { Button1Click(); });
  OnClick(*Button2, [this] { close(); });
  connect(List, &QTreeWidget::itemActivated, this, [this] { Guarded([this] { Button1Click(); }); });

  FFinder = std::make_unique<TGameFinder>(std::move(targets), discoveryPort);
  FFinder->OnAnswer = [this](const TFoundGame&, bool) { ShowGames(); };
  connect(&FTimer, &QTimer::timeout, this, [this] { Guarded([this] { Refresh(); }); });
  FTimer.start(RefreshMs);
  FFinder->Query();
}

TFrmLocalGames::~TFrmLocalGames() = default;

void TFrmLocalGames::Refresh() {
  if (FFinder->ForgetSilent(SilentMs)) ShowGames();
  FFinder->Query();
}

// One row per game in the finder's order; the selection follows its game.
void TFrmLocalGames::ShowGames() {
  const std::vector<TFoundGame>& games = FFinder->Games();
  QTreeWidgetItem* current = List->currentItem();
  QString selected = current && current->isSelected()
                         ? current->text(AddressColumn) + ":" + current->text(PortColumn)
                         : QString();
  while (List->topLevelItemCount() > static_cast<int>(games.size())) delete List->takeTopLevelItem(0);
  while (List->topLevelItemCount() < static_cast<int>(games.size()))
    List->addTopLevelItem(new QTreeWidgetItem);
  for (std::size_t i = 0; i < games.size(); ++i) {
    const TFoundGame& game = games[i];
    QTreeWidgetItem* item = List->topLevelItem(static_cast<int>(i));
    item->setText(HostColumn, ToQString(game.Announce.HostName));
    item->setText(AddressColumn, QString::fromStdString(AddressText(game.Address)));
    item->setText(PortColumn, QString::number(game.Announce.GamePort));
    item->setText(PlayersColumn, QString::number(game.Announce.Players));
    item->setText(PasswordColumn, ToQString(game.Announce.Password ? "oui"_cp : "non"_cp));
    bool wasSelected = item->text(AddressColumn) + ":" + item->text(PortColumn) == selected;
    if (wasSelected) List->setCurrentItem(item);
    item->setSelected(wasSelected);
  }
}

void TFrmLocalGames::Button1Click() {
  QTreeWidgetItem* item = List->currentItem();
  if (!item || !item->isSelected()) return;
  FHost.setText(item->text(AddressColumn));
  FPort.setText(item->text(PortColumn));
  close();
}
