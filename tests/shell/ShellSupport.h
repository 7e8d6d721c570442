// What the window tests share: a current folder for a while, saving a
// window's picture, and the raw clients and free ports of the tests'
// support library.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "support/FreePorts.h"
#include "support/RawPeers.h"

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

// Saves what the window shows as a PNG in the build's screenshot folder.
void SaveScreenshot(QWidget& window, const std::string& name);
