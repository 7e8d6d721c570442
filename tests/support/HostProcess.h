// The game's headless host (varozuvod --serve) as a process of its own,
// started from the run folder the build laid out.  The test reads its
// standard output as it comes; the process is killed when this goes.
#pragma once

#include <QProcess>
#include <QRegularExpressionMatch>
#include <QString>
#include <QStringList>
#include <cstdint>

class THostProcess {
 public:
  // options follow --serve; launcher is a program and its arguments that
  // run the host in their place (prlimit), keeping the process id.
  explicit THostProcess(const QStringList& options, const QStringList& launcher = {});
  ~THostProcess();
  THostProcess(const THostProcess&) = delete;
  THostProcess& operator=(const THostProcess&) = delete;

  // Everything written on standard output so far.
  const QString& Output();
  // Waits for a line that matches the pattern; whether one came.
  bool WaitFor(const QString& pattern);
  // Waits for a line that matches the pattern; its first capture, empty
  // when none came.
  QString WaitLine(const QString& pattern);
  // The port of its "<which> : port N" line ("jeu", "web"); 0 when none came.
  uint16_t Port(const char* which);
  void Signal(int number);
  // Sends SIGTERM and waits for the end.
  void Stop();
  // Waits for the end; true when the process returned 0.
  bool EndedWithZero();

  QProcess Process;

 private:
  QRegularExpressionMatch WaitMatch(const QString& pattern);

  QString FOutput;
};
