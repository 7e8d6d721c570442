// The window of a running game host: the connection list, a tool bar with
// Quitter, Local, Propriétés and Supprimer, and the notification-area icon
// it hides into.  It owns the host core (both servers and every connection)
// and shows the host's connection rows.  It is created by the host-a-game
// dialog, which owns it and comes back when it closes.
#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "host/GameHost.h"
#include "host/HostSettings.h"
#include "host/SessionRows.h"
#include "platform/MessageTarget.h"

class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

// The four tool-bar images: 0 quit, 1 local, 2 properties, 3 remove.
std::vector<QIcon> ToolBarImages();

// Mouse messages the notification-area icon sends under CM_TRAYICON.
enum : intptr_t { WM_LBUTTONDBLCLK = 0x203, WM_RBUTTONUP = 0x205 };

// The local player's client window belongs to the modules above this one;
// the shell tells the host window how to reach it.  Empty: nobody plays
// locally.
struct TServerLinks {
  // Whether the local player's client window exists.
  std::function<bool()> Playing;
  // Opens the client window, connected to address and port as name with
  // password, or brings the one that exists back.
  std::function<void(uint32_t address, uint16_t port, const std::string& name, const std::string& password)>
      Play;
  // Closes the local player's client window, if any.
  std::function<void()> EndPlaying;
};
extern TServerLinks ServerLinks;

class TFrmServer : public QWidget, public TSessionListView, public TMessageTarget {
  Q_OBJECT
 public:
  // Starts the host with the dialog's settings; a start-up error is shown
  // in the error box and the window opens all the same.
  TFrmServer(QWidget* setupDialog, const THostSettings& settings);
  ~TFrmServer() override;

  QTreeWidget* List;
  // Under the tool bar: the public address to give, or why there is none
  // (only when the host asked the router for its ports).
  QLabel* lbRouter;
  QToolBar* ToolBar1;
  QMenu* PopupMenu1;
  QAction* acShow;
  QAction* acQuit;
  QAction* acLocal;
  QAction* acProperties;
  QAction* acDisconnect;

  // The next close request really closes the window.
  bool Quitting = false;
  // Whether the icon is in the notification area (or, without one, the
  // window is minimised in its stead).
  bool IconPresent() const;
  TGameHost& Host() const { return *FHost; }

  // The notification-area icon's mouse messages arrive here under
  // CM_TRAYICON; the socket events go straight to the host core.
  void Dispatch(TMessage& message) override;

  void acShowExecute();
  void acQuitExecute();
  void acLocalExecute();
  void acPropertiesExecute();
  void acDisconnectExecute();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void RowAdded(const TSessionRow& row, int index) override;
  void RowChanged(const TSessionRow& row, int index, int column) override;
  void RowRemoved(const TSessionRow& row, int index) override;

 private:
  void CreateActions();
  void CreateToolBar();
  void CreateList();
  void CreateTrayIcon();
  void AddTrayIcon();
  void RemoveTrayIcon();
  void FormClose();

  QWidget* FSetupDialog;
  const THostSettings& FSettings;
  std::unique_ptr<TGameHost> FHost;
  QSystemTrayIcon* FTrayIcon = nullptr;
};

extern TFrmServer* FrmServer;
