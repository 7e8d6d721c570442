#include "shell/main.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>

#include "bots/BotSwarm.h"
#include "client/ClientForm.h"
#include "host/HeadlessHost.h"
#include "host/ServerForm.h"
#include "net/Sockets.h"
#include "platform/DisplayMode.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Signals.h"
#include "platform/Text1252.h"
#include "shell/CommandLine.h"
#include "shell/DialogStyle.h"
#include "shell/FindGames.h"
#include "shell/LoginForm.h"
#include "shell/SetupForm.h"

namespace {
constexpr int ClientWidth = 430;
constexpr int ClientHeight = 331;

const char* const IntroText =
    "VAROzuvod est un petit jeu en ligne, fait pour essayer le moteur de jeu "
    "en dehors de son univers habituel : promenez-vous, discutez, rencontrez "
    "les autres joueurs.\n"
    "\n"
    "Pour jouer vous devez au moins être deux.\n"
    "\n"
    "Le premier joueur doit impérativement avoir une adresse IP publique.\n"
    "(c'est normalement le cas si vous avez une connexion ADSL).\n"
    "\n"
    "Les autres joueurs doivent connaitre l'adresse IP du premier.\n"
    "\n"
    "NB: si vous utiliser une firewall, il faudra autoriser les connexions";
}  // namespace

TFrmMain::TFrmMain() : QWidget(nullptr) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString("ZUL Vantor v1.0"_cp));
  SetFixedDialog(*this, ClientWidth, ClientHeight);
  Memo1 = new QPlainTextEdit(QString::fromUtf8(IntroText), this);
  Memo1->setReadOnly(true);
  Place(*Memo1, 6, 6, 417, 225);
  Label1 = PlaceLabel(*this, "Choisissez une des options ci-dessous"_cp, 8, 238, 414);
  Label1->setAlignment(Qt::AlignHCenter);
  Button1 = new QPushButton(ToQString("Je suis le premier joueur et je démarre une partie"_cp), this);
  Place(*Button1, 20, 260, 390, 28);
  Button2 = new QPushButton(ToQString("Je veux rejoindre une partie déjà en cours"_cp), this);
  Place(*Button2, 20, 294, 390, 28);
  OnClick(*Button1, [this] { Button1Click(); });
  OnClick(*Button2, [this] { Button2Click(); });
  ImageList1 = ToolBarImages();
}

void TFrmMain::Button1Click() {
  hide();
  (new TFrmSetup(this))->show();
}

void TFrmMain::Button2Click() {
  hide();
  (new TFrmLogin(this))->show();
}

void EndProcessWithMainWindow(TFrmMain& main) {
  // Qt ends the process when its last primary window closes, and a box or
  // the local client window is such a window while the host window (a
  // secondary window of its dialog) is shown or in the tray: its quit would
  // ask every window to close, and the host window would hide.
  QGuiApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&main, &QObject::destroyed, [] { QCoreApplication::exit(0); });
}

void EndHostWindow() {
  // The window owns the host, the host its servers and the router's ports;
  // the application's end would only take the window off the screen.
  delete FrmServer;
}

namespace {
constexpr int ExitUsage = 2;
constexpr int ExitNoServer = 1;

int Serve(int argc, char** argv, const THostSettings& settings) {
  QCoreApplication app(argc, argv);
  THeadlessHost host(settings);
  if (!host.Start()) return ExitNoServer;
  return host.Run();
}

// The client window reaches the host window and the join dialog through
// these links (they live in this layer).
void LinkClientWindow() {
  ClientLinks.ServerExists = [] { return FrmServer != nullptr; };
  ClientLinks.ShowLogin = [] {
    if (FrmLogin) FrmLogin->show();
  };
  ClientLinks.EndProcess = [] { QCoreApplication::exit(0); };
}

int RunWindows(int argc, char** argv, const TCommandLine& line) {
  TEndSignals ends;  // first, so that it goes last
  SoundSettings = line.Sound;
  FrameRate = line.FrameRate;
  TXRandRDisplay display;
  TDisplayModeScope mode(display, line.GameArguments);
  QApplication app(argc, argv);
  app.setWindowIcon(ToolBarImages()[1]);
  LinkClientWindow();
  auto* main = new TFrmMain;
  EndProcessWithMainWindow(*main);
  if (line.Kind == TCommandKind::Join) {
    // The same road as the join dialog, with its boxes filled in; started
    // from a terminal, its failures are read there too.
    EchoMessagesOnStandardError(true);
    auto* login = new TFrmLogin(main);
    login->edHost->setText(ToQString(line.Join.Host));
    login->edPort->setText(QString::number(line.Join.Port));
    login->guest->setText(ToQString(line.Join.Name));
    login->edPass->setText(ToQString(line.Join.Password));
    login->ClientArguments = QStringList{QString::fromLocal8Bit(argv[0])};
    for (const std::string& word : line.GameArguments) login->ClientArguments << QString::fromStdString(word);
    login->show();
    Guarded([login] { login->Button1Click(); });
  } else {
    main->show();
  }
  ends.QuitOnSignal();
  const int status = app.exec();
  EndHostWindow();
  return status;
}
}  // namespace

int RunGame(int argc, char** argv) {
  TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.Kind) {
    case TCommandKind::Help:
      std::fputs(UsageText, stdout);
      return 0;
    case TCommandKind::Version:
      std::fputs(VersionText, stdout);
      return 0;
    case TCommandKind::Error:
      std::fprintf(stderr, "varozuvod: %s\nTry 'varozuvod --help' for more information.\n",
                   line.Error.c_str());
      return ExitUsage;
    default:
      break;
  }
  TSocketLibrary sockets;
  if (line.Kind == TCommandKind::Serve) return Serve(argc, argv, line.Serve);
  if (line.Kind == TCommandKind::Bots) return RunBots(argc, argv);
  if (line.Kind == TCommandKind::Find) return RunFind(argc, argv, line.Find);
  return RunWindows(argc, argv, line);
}
