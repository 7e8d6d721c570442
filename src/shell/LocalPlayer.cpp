#include "shell/LocalPlayer.h"

#include <QWindow>

#include "client/ClientForm.h"
#include "host/ServerForm.h"

namespace {
// Shows the client window again, out of the task bar, in the state it was
// made in.  QWindow::show() would not do: it makes the window normal, and a
// frameless window that is no longer maximized is a small picture that the
// window system can neither move nor resize.
void BringForward(QWindow& window) {
  Qt::WindowStates states = window.windowStates() & ~Qt::WindowMinimized;
  if (window.flags() & Qt::FramelessWindowHint) states |= Qt::WindowMaximized;
  window.setWindowStates(states);
  window.setVisible(true);
  window.raise();
  window.requestActivate();
}
}  // namespace

void LinkLocalPlayer() {
  ServerLinks.Playing = [] { return FrmClient != nullptr; };
  ServerLinks.Play = [](uint32_t address, uint16_t port, const std::string& name,
                        const std::string& password) {
    if (!FrmClient) {
      // The client window belongs to the application, makes itself
      // FrmClient and shows itself as a join does: maximized (normal with
      // "debug").
      auto* client = new TFrmClient;
      client->Connect(address, port, name, password);
    }
    if (FrmClient) BringForward(*FrmClient);
  };
  ServerLinks.EndPlaying = [] { delete FrmClient; };
}
