// The game client's window: one full-window OpenGL view in which the current
// screen is drawn every frame period (40 ms, or as --fps sets it).  It owns
// the connection, both screens, the shared map and the shared font; it makes
// the context on its first paint, routes keyboard, mouse and socket events,
// and decides when the game ends for this player.  One exists at a time, as
// FrmClient.  User-interface thread.
#pragma once

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <QWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/Clients.h"
#include "client/GLWindows.h"
#include "client/HelpOverlay.h"

class TClientJournal;
class TGLFont;
class TGLMemo;
class TMap256;
class TSoundSystem;

// The host window, the join dialog and the end of the process belong to the
// modules above this one; the shell tells the client window about them.
// Empty: not hosting, no dialog to show again, the event loop ends.
struct TClientLinks {
  std::function<bool()> ServerExists;  // FrmServer exists: this process also hosts
  std::function<void()> ShowLogin;     // shows FrmLogin again
  std::function<void()> EndProcess;    // ends the whole process at once
};
extern TClientLinks ClientLinks;

class TFrmClient : public QWindow, public TClientOwner {
 public:
  // Socket events of the connection arrive under this message number.
  static constexpr uint32_t SocketMessage = 1024;
  static constexpr int NormalWidth = 640;  // client pixels before maximising
  static constexpr int NormalHeight = 480;
  static constexpr int DebugWidth = 320;  // client pixels of the "debug" window
  static constexpr int DebugHeight = 400;

  // arguments: the command line; a first argument "debug" makes a normal
  // sizeable window instead of a frameless maximised one.
  explicit TFrmClient(const QStringList& arguments = QCoreApplication::arguments());
  ~TFrmClient() override;

  // Starts connecting to the first of the host's addresses (the others are
  // tried in turn when it fails) and the frame timer.
  void Connect(std::vector<ws::TAddress> addresses, uint16_t port, const std::string& name,
               const std::string& password);
  // The same for one IPv4 address (network byte order).
  void Connect(uint32_t address, uint16_t port, const std::string& name, const std::string& password);
  // Makes screen current: resized to the window, initialised if a context exists.
  void SetScreen(TGLWindow* screen);
  // Closes the window; it is destroyed from the event loop once none of its
  // handlers runs any more.
  void Close();
  // Ends everything that runs: the timer, the context, the connection.
  void Stop();

  // TClientOwner
  TMap& SharedMap() override;
  TGLMemo* ChatPanel() override;
  void CloseWindow() override { Close(); }
  TClientJournal* Journal() override { return FJournal.get(); }
  TSoundSystem* SoundSystem() override { return Sounds.get(); }
  // Socket events (SocketMessage); other numbers go to DefaultHandler.
  void Dispatch(TMessage& message) override;

  // The platform window the context was made for; 0 while there is none.
  WId ContextWindow = 0;
  std::unique_ptr<TZULClient> Client;  // empty once closed
  std::string PlayerName;
  std::string Password;
  // When connecting began; 0 once it completed or failed.  While set, the
  // waiting clock is drawn over the screen.
  uint32_t WaitStart = 0;
  std::unique_ptr<QTimer> Timer;  // the frame clock; empty when stopped
  std::unique_ptr<TGLWindow> Intro;
  std::unique_ptr<TGLWindow> Game;
  TGLWindow* Screen = nullptr;  // Intro or Game
  std::unique_ptr<TMap256> Map;
  std::unique_ptr<TGLFont> Font;  // the one font every screen draws with
  // Every sound of the window; empty once it closes, silent without a device.
  std::unique_ptr<TSoundSystem> Sounds;
  // The controls, drawn over either screen while F1 has shown them.
  THelpOverlay Help;

 protected:
  bool event(QEvent* event) override;
  // Posts the deletion (THandlerOwner).
  void Destroy() override;
  void exposeEvent(QExposeEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void FormCreate(const QStringList& arguments);
  void FormPaint();
  void CreateContext(WId current);
  void DrawOverlay();
  void FormResize();
  void FormKeyDown(uint16_t key, TShiftState shift);
  void FormClose();
  void FormDestroy();
  void TimerTick();
  void SocketEvent(const TMessage& message);
  bool Hosting() const;
  void EndProcess();

  bool FClosing = false;
  bool FPainting = false;
  TGLMemo* FChat = nullptr;                  // the in-game screen's chat panel
  std::unique_ptr<TClientJournal> FJournal;  // only when the environment asks for one
};

// The client window; empty while none exists.
extern TFrmClient* FrmClient;

// The client window's sound system; null while there is no window or once
// it closed.
TSoundSystem* ClientSound();

// The virtual-key code of a Qt key, 0 for keys the system has no code for.
uint16_t VirtualKey(int qtKey);
// The shift state of an input event's modifiers and buttons.
TShiftState ShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);
