// An X display of the test's own: Xvfb with RandR, 1280 x 1024, with one
// more mode on its output for a game to switch to, so that no other test
// that shares a display sees its size change.  The mode lives as long as
// this object's connection.
#pragma once

#include <QProcess>
#include <memory>
#include <string>

class TOwnDisplay {
 public:
  TOwnDisplay(int width, int height);
  ~TOwnDisplay();
  // ":N", or empty when Xvfb did not start.
  const QString& Name() const { return FName; }
  // The size of the output's current mode, "WIDTHxHEIGHT".
  std::string CurrentMode();

 private:
  struct TConnection;
  QProcess FServer;
  QString FName;
  std::unique_ptr<TConnection> FConnection;
};
