#include "host/ServerForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "host/ServerProps.h"
#include "net/Sockets.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Text1252.h"

TFrmServer* FrmServer = nullptr;

namespace {
constexpr int WindowWidth = 436;
constexpr int WindowHeight = 235;
constexpr int ToolButtonWidth = 54;
constexpr int ToolButtonHeight = 36;
constexpr std::array<int, 4> ColumnWidths = {87, 130, 130, 60};
constexpr int ImageCount = 4;
// Space around the router's line, in pixels.
constexpr int RouterLineMargin = 3;
// The notification area shows at most this many characters of a tip.
constexpr int MaxTipLength = 63;
// The player name under which "Local" joins the own game.
const char* const LocalPlayerName = "Server";

// Runs an action's work through the error guard.
void OnTriggered(QAction* action, std::function<void()> work) {
  QObject::connect(action, &QAction::triggered, action, [work = std::move(work)] { Guarded(work); });
}
}  // namespace

std::vector<QIcon> ToolBarImages() {
  // The pictures live in this library's resources, which a static library
  // must register by hand.
  static const bool registered = [] {
    Q_INIT_RESOURCE(host);
    return true;
  }();
  (void)registered;
  std::vector<QIcon> images;
  for (int i = 0; i < ImageCount; ++i) images.emplace_back(QString(":/toolbar/%1").arg(i));
  return images;
}

TFrmServer::TFrmServer(QWidget* setupDialog, const THostSettings& settings)
    : QWidget(setupDialog, Qt::Window), FSetupDialog(setupDialog), FSettings(settings) {
  FrmServer = this;
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString("Serveur ZUL Vantor"_cp));
  resize(WindowWidth, WindowHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(WindowWidth / 2, WindowHeight / 2));
  CreateActions();
  CreateToolBar();
  CreateList();
  CreateTrayIcon();
  show();
  FHost = std::make_unique<TGameHost>(FSettings, *this);
  // A start-up error is reported and the window stays, with whatever had
  // started before it.
  Guarded([this] { FHost->Start(); });
  setWindowTitle(ToQString(FHost->Caption));
  FHost->OpenRouterPorts([this](const std::string& text) {
    lbRouter->setText(ToQString(text));
    lbRouter->show();
  });
}

TServerLinks ServerLinks;

TFrmServer::~TFrmServer() {
  // The local player's client window goes first.
  if (ServerLinks.EndPlaying) ServerLinks.EndPlaying();
  RemoveTrayIcon();
  // The host core destroys the game server, then the web server: every
  // connection closes without a departure message.
  FHost.reset();
  if (FrmServer == this) FrmServer = nullptr;
}

void TFrmServer::CreateActions() {
  auto images = ToolBarImages();
  acShow = new QAction(ToQString("Afficher"_cp), this);
  acQuit = new QAction(images[0], ToQString("Quitter"_cp), this);
  acQuit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  acQuit->setShortcutContext(Qt::WindowShortcut);
  acLocal = new QAction(images[1], ToQString("Local"_cp), this);
  acProperties = new QAction(images[2], ToQString("Propriétés"_cp), this);
  acDisconnect = new QAction(images[3], ToQString("Supprimer"_cp), this);
  addAction(acQuit);
  OnTriggered(acShow, [this] { acShowExecute(); });
  OnTriggered(acQuit, [this] { acQuitExecute(); });
  OnTriggered(acLocal, [this] { acLocalExecute(); });
  OnTriggered(acProperties, [this] { acPropertiesExecute(); });
  OnTriggered(acDisconnect, [this] { acDisconnectExecute(); });
  PopupMenu1 = new QMenu(this);
  PopupMenu1->addAction(acShow);
  PopupMenu1->addAction(acQuit);
  PopupMenu1->setDefaultAction(acShow);
}

void TFrmServer::CreateToolBar() {
  ToolBar1 = new QToolBar(this);
  ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  ToolBar1->setMovable(false);
  ToolBar1->setIconSize(QSize(18, 18));
  // Captions must fit the fixed 54-pixel buttons.
  QFont captions = ToolBar1->font();
  captions.setPixelSize(10);
  ToolBar1->setFont(captions);
  for (QAction* action : {acQuit, acLocal, acProperties, acDisconnect}) {
    ToolBar1->addAction(action);
    if (auto* button = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action))) {
      button->setFixedSize(ToolButtonWidth, ToolButtonHeight);
      button->setAutoRaise(true);
    }
  }
}

void TFrmServer::CreateList() {
  List = new QTreeWidget(this);
  List->setRootIsDecorated(false);
  List->setColumnCount(static_cast<int>(ColumnWidths.size()));
  List->setHeaderLabels({"Adresse", "Joueur", "Status", "Time"});
  for (int i = 0; i < static_cast<int>(ColumnWidths.size()); ++i) List->setColumnWidth(i, ColumnWidths[i]);
  List->header()->setStretchLastSection(false);
  List->setSelectionMode(QAbstractItemView::SingleSelection);
  // Without a notification area the window's own menu keeps Afficher and
  // Quitter within reach.
  List->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(List, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(List->viewport()->mapToGlobal(at)); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ToolBar1);
  // The router's answer, once the host asked it for its ports.
  lbRouter = new QLabel(this);
  lbRouter->setContentsMargins(RouterLineMargin, RouterLineMargin, RouterLineMargin, RouterLineMargin);
  lbRouter->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbRouter->hide();
  layout->addWidget(lbRouter);
  layout->addWidget(List);
}

void TFrmServer::CreateTrayIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  FTrayIcon = new QSystemTrayIcon(windowIcon(), this);
  FTrayIcon->setToolTip(QString::fromLatin1(ApplicationTitle).left(MaxTipLength));
  connect(FTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    TMessage message{CM_TRAYICON, 0, 0};
    if (reason == QSystemTrayIcon::DoubleClick) message.LParam = WM_LBUTTONDBLCLK;
    if (reason == QSystemTrayIcon::Context) message.LParam = WM_RBUTTONUP;
    Guarded([&] { Dispatch(message); });
  });
}

void TFrmServer::Dispatch(TMessage& message) {
  if (message.Msg != CM_TRAYICON) return DefaultHandler(message);
  if (message.LParam == WM_LBUTTONDBLCLK) acShowExecute();
  if (message.LParam == WM_RBUTTONUP) PopupMenu1->popup(QCursor::pos());
}

bool TFrmServer::IconPresent() const { return FTrayIcon ? FTrayIcon->isVisible() : isMinimized(); }

void TFrmServer::AddTrayIcon() {
  // The window may have come back through the window system (the task bar)
  // rather than Afficher, so it goes every time; there is only one icon.
  if (FTrayIcon) {
    FTrayIcon->show();
    hide();
  } else {
    showMinimized();
  }
}

void TFrmServer::RemoveTrayIcon() {
  if (FTrayIcon) FTrayIcon->hide();
}

void TFrmServer::closeEvent(QCloseEvent* event) {
  if (!Quitting) {
    event->ignore();
    AddTrayIcon();
    return;
  }
  Quitting = false;
  event->accept();
  FormClose();
}

void TFrmServer::FormClose() {
  if (FSetupDialog) FSetupDialog->show();
}

void TFrmServer::acShowExecute() {
  showNormal();
  raise();
  activateWindow();
  RemoveTrayIcon();
}

void TFrmServer::acQuitExecute() {
  Quitting = true;
  close();
}

void TFrmServer::acLocalExecute() {
  const bool playing = ServerLinks.Playing && ServerLinks.Playing();
  if (!playing && !FHost->GameServer())
    throw Exception("Le serveur de jeu n'a pas démarré : impossible de jouer en local"_cp);
  if (!ServerLinks.Play) return;
  const uint16_t port = FHost->GameServer() ? FHost->GameServer()->Port() : 0;
  ServerLinks.Play(FHost->HostAddress, port, LocalPlayerName, FSettings.Password);
}

void TFrmServer::acPropertiesExecute() {
  TFrmServerProps props(this, FHost->WelcomeText, FHost->GoodbyeText, FHost->CutOffText);
  props.exec();
}

void TFrmServer::acDisconnectExecute() {
  QTreeWidgetItem* selected = List->currentItem();
  if (!selected || !selected->isSelected()) return;
  int index = List->indexOfTopLevelItem(selected);
  if (index >= 0 && index < Count()) Row(index).Data()->Release();
}

void TFrmServer::RowAdded(const TSessionRow& row, int index) {
  auto* item = new QTreeWidgetItem;
  item->setText(0, ToQString(row.Caption()));
  for (int column = 0; column < TSessionRow::SubItemCount; ++column)
    item->setText(column + 1, ToQString(row.SubItem(column)));
  List->insertTopLevelItem(index, item);
}

void TFrmServer::RowChanged(const TSessionRow& row, int index, int column) {
  if (QTreeWidgetItem* item = List->topLevelItem(index))
    item->setText(column + 1, ToQString(row.SubItem(column)));
}

void TFrmServer::RowRemoved(const TSessionRow&, int index) {
  QTreeWidgetItem* item = List->topLevelItem(index);
  bool selected = item && item->isSelected();
  delete List->takeTopLevelItem(index);
  // The list selects the next row in place of the one that went; the user
  // did not choose that row, and Supprimer must not drop it.
  if (selected) List->clearSelection();
}
