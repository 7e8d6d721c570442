#include "support/HostProcess.h"

#include <signal.h>

#include <QRegularExpression>

#include "Pump.h"

namespace {
constexpr int LineWaitMs = 5000;
constexpr int EndWaitMs = 10000;
constexpr int KillWaitMs = 5000;
}  // namespace

THostProcess::THostProcess(const QStringList& options, const QStringList& launcher) {
  Process.setWorkingDirectory(VAROZUVOD_GAME_DIR);
  QStringList host = launcher + QStringList{VAROZUVOD_EXE, "--serve"} + options;
  Process.start(host.first(), host.mid(1));
}

THostProcess::~THostProcess() {
  Process.kill();
  Process.waitForFinished(KillWaitMs);
}

const QString& THostProcess::Output() {
  return FOutput += QString::fromUtf8(Process.readAllStandardOutput());
}

QRegularExpressionMatch THostProcess::WaitMatch(const QString& pattern) {
  QRegularExpression line(pattern, QRegularExpression::MultilineOption);
  QRegularExpressionMatch match;
  PumpUntil([&] { return Process.waitForReadyRead(10), (match = line.match(Output())).hasMatch(); },
            LineWaitMs);
  return match;
}

bool THostProcess::WaitFor(const QString& pattern) { return WaitMatch(pattern).hasMatch(); }

QString THostProcess::WaitLine(const QString& pattern) { return WaitMatch(pattern).captured(1); }

uint16_t THostProcess::Port(const char* which) {
  return WaitLine(QString("^%1 : port (\\d+)$").arg(which)).toUShort();
}

void THostProcess::Signal(int number) {
  // A process that never started or has ended has no id (0), and kill(0)
  // would signal the whole process group: this test and whoever runs it.
  auto pid = static_cast<pid_t>(Process.processId());
  if (pid > 0) ::kill(pid, number);
}

void THostProcess::Stop() {
  Signal(SIGTERM);
  Process.waitForFinished(EndWaitMs);
}

bool THostProcess::EndedWithZero() {
  return Process.waitForFinished(EndWaitMs) && Process.exitStatus() == QProcess::NormalExit &&
         Process.exitCode() == 0;
}
