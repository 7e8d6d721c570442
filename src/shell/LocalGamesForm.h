// The small window that lists the games found on the local network, opened
// from the join-a-game dialog: it queries every RefreshMs, keeps one row per
// game in the order found (host name, address, port, players, password),
// drops the games that stop answering, and on a choice fills the join
// dialog's address and port boxes and closes.  The join dialog owns it; it
// owns its finder.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/Discovery.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TFrmLocalGames : public QDialog {
  Q_OBJECT
 public:
  // Queries at once; targets and port as TGameFinder takes them.  The two
  // boxes are filled on a choice.  Raises when the search cannot start.
  TFrmLocalGames(QWidget* owner, QLineEdit& host, QLineEdit& port, std::vector<uint32_t> targets,
                 uint16_t discoveryPort);
  ~TFrmLocalGames() override;

  // A round of queries goes out this often, in milliseconds.
  static constexpr int RefreshMs = 1500;
  // A game that has not answered for this long leaves the list, in
  // milliseconds: two rounds missed, and some time for the answer.
  static constexpr uint32_t SilentMs = 2 * RefreshMs + 500;

  // Columns of List.
  enum { HostColumn, AddressColumn, PortColumn, PlayersColumn, PasswordColumn, ColumnCount };

  QLabel* Label1;
  QTreeWidget* List;
  QPushButton* Button1;  // "Choisir"
  QPushButton* Button2;  // "Fermer"

  // Fills the join dialog's boxes with the selected game and closes; does
  // nothing without a selection.
  void Button1Click();
  // One refresh: queries again and drops the silent games.
  void Refresh();

 private:
  void ShowGames();

  QLineEdit& FHost;
  QLineEdit& FPort;
  std::unique_ptr<TGameFinder> FFinder;
  QTimer FTimer;
};
