#include "ShellSupport.h"

#include <QDir>
#include <QPixmap>
#include <random>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Pump.h"

TFakeHost::TFakeHost() {
  FListening = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(FListening, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(FListening, 4);
  socklen_t size = sizeof address;
  ::getsockname(FListening, reinterpret_cast<sockaddr*>(&address), &size);
  Port = ntohs(address.sin_port);
  ::fcntl(FListening, F_SETFL, O_NONBLOCK);
}

TFakeHost::~TFakeHost() {
  if (FConnection >= 0) ::close(FConnection);
  ::close(FListening);
}

bool TFakeHost::Poll() {
  if (FConnection < 0) {
    FConnection = ::accept(FListening, nullptr, nullptr);
    if (FConnection >= 0) ::fcntl(FConnection, F_SETFL, O_NONBLOCK);
  }
  char buffer[1024];
  ssize_t count = FConnection >= 0 ? ::recv(FConnection, buffer, sizeof buffer, 0) : -1;
  if (count > 0) FReceived.append(buffer, static_cast<std::size_t>(count));
  // A frame is complete once its packed length's worth of bytes is there
  // (the ids and lengths of these tests fit in one byte each).
  return FReceived.size() >= 2 && FReceived.size() >= 2u + static_cast<unsigned char>(FReceived[1]);
}

bool TFakeHost::NextFrame(std::string& frame, int timeoutMs) {
  if (!PumpUntil([this] { return Poll(); }, timeoutMs)) return false;
  std::size_t length = 2u + static_cast<unsigned char>(FReceived[1]);
  frame = FReceived.substr(0, length);
  FReceived.erase(0, length);
  return true;
}

void SaveScreenshot(QWidget& window, const std::string& name) {
  QDir().mkpath(SCREENSHOT_DIR);
  window.grab().save(QString(SCREENSHOT_DIR) + "/" + QString::fromStdString(name) + ".png");
}

namespace {
// Below Linux's default ephemeral range (32768 and up): a port picked there
// cannot be handed meanwhile to an outgoing connection of a test running
// beside this one, as a port that bind(0) gave back can.
constexpr int FirstTestPort = 20000;
constexpr int LastTestPort = 32767;

bool CanBind(uint16_t port) {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return free;
}
}  // namespace

uint16_t FreePort() {
  static std::mt19937 pick(std::random_device{}());
  std::uniform_int_distribution<int> ports(FirstTestPort, LastTestPort);
  for (;;) {
    auto port = static_cast<uint16_t>(ports(pick));
    if (CanBind(port)) return port;
  }
}

TCurrentFolder::TCurrentFolder(const char* folder) : FPrevious(QDir::currentPath()) {
  QDir::setCurrent(QString::fromUtf8(folder));
}

TCurrentFolder::~TCurrentFolder() { QDir::setCurrent(FPrevious); }
