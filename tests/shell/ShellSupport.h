// What the window tests share: a listening socket that stands in for a
// game host (it takes one connection and cuts its bytes into frames, while
// the test's event loop runs), and saving a window's picture.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "RawClientSupport.h"

class TFakeHost {
public:
  TFakeHost();
  ~TFakeHost();
  TFakeHost(const TFakeHost&) = delete;
  TFakeHost& operator=(const TFakeHost&) = delete;

  uint16_t Port = 0;
  // The next whole frame from the connected client, id and length included.
  bool NextFrame(std::string& frame, int timeoutMs = 3000);

private:
  bool Poll();
  int FListening = -1;
  int FConnection = -1;
  std::string FReceived;
};

// Makes a folder the current one while it lives.
class TCurrentFolder {
public:
  explicit TCurrentFolder(const char* folder);
  ~TCurrentFolder();
  TCurrentFolder(const TCurrentFolder&) = delete;
  TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
  QString FPrevious;
};

// A TCP port on 127.0.0.1 that was free a moment ago, outside the range the
// system gives outgoing connections.
uint16_t FreePort();

// Saves what the window shows as a PNG in the build's screenshot folder.
void SaveScreenshot(QWidget& window, const std::string& name);
