// What the client-window benchmarks share: a host that takes the client's
// connection and never answers, and a pump of the event loop.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdint>

// A port that accepts the client's connection into its backlog and never
// answers: the client stays connected, its local player on the start cell.
class TSilentHost {
 public:
  TSilentHost() {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(FSocket, 4);
    socklen_t length = sizeof address;
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
    Port = ntohs(address.sin_port);
  }
  ~TSilentHost() { ::close(FSocket); }
  TSilentHost(const TSilentHost&) = delete;
  TSilentHost& operator=(const TSilentHost&) = delete;
  uint16_t Port = 0;

 private:
  int FSocket = -1;
};

// Runs the event loop for ms milliseconds.
inline void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
