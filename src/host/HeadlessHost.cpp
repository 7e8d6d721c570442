#include "host/HeadlessHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <csignal>

#include "platform/Descriptors.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Signals.h"
#include "platform/SocketEvents.h"
#include "platform/Text1252.h"

namespace {
// How long Run waits at most for closed connections to end gracefully.
constexpr int ShutdownWaitMs = ws::LingerMs;
constexpr int ShutdownStepMs = 10;
}  // namespace

uint64_t ReserveDescriptors(int players) {
  TDescriptorLimit limit = RaiseDescriptorLimit();
  const uint64_t needed = DescriptorsForPlayers(players);
  if (players > 0 && limit.Soft < needed)
    ShowMessage("Limite de descripteurs trop basse pour " + std::to_string(players) +
                " joueurs : " + std::to_string(limit.Soft) + " (il en faut " + std::to_string(needed) + ")");
  return limit.Soft;
}

THeadlessHost::THeadlessHost(const THostSettings& settings, std::FILE* out) : FSettings(settings), FOut(out) {
  // SIGTERM and SIGINT arrive as events of the loop.
  FSignals = std::make_unique<TSignalWatcher>(std::initializer_list<int>{SIGTERM, SIGINT});
  FSignals->Watch([this](int) { Stop(); });
  FHost = std::make_unique<TGameHost>(FSettings, *this);
}

THeadlessHost::~THeadlessHost() {
  FHost.reset();
  FSignals.reset();
}

bool THeadlessHost::Start() {
  ReserveDescriptors(FSettings.MaxPlayers);
  try {
    FHost->Start();
  } catch (const std::exception& error) {
    ShowMessage(ErrorText(error));
  }
  if (!FHost->GameServer()) return false;
  Print(FHost->Caption);
  Print("jeu : port " + std::to_string(FHost->GameServer()->Port()));
  if (FHost->WebServer()) Print("web : port " + std::to_string(FHost->WebServer()->Port()));
  if (FHost->Responder())
    Print(std::string("découverte : port UDP "_cp) + std::to_string(FHost->Responder()->Port()));
  FHost->OpenRouterPorts([this](const std::string& text) { Print(text); });
  return true;
}

int THeadlessHost::Run() {
  QEventLoop loop;
  while (!FStopping) loop.processEvents(QEventLoop::WaitForMoreEvents);
  // Like "Quitter": the servers go and with them every connection, without
  // departure messages.  The peers see their connections end once what was
  // sent to them has arrived.
  FHost.reset();
  QElapsedTimer waited;
  waited.start();
  while (LingeringSockets() > 0 && waited.elapsed() < ShutdownWaitMs)
    loop.processEvents(QEventLoop::AllEvents, ShutdownStepMs);
  return 0;
}

void THeadlessHost::Stop() { FStopping = true; }

void THeadlessHost::RowAdded(const TSessionRow& row, int) { PrintRow('+', row); }

void THeadlessHost::RowChanged(const TSessionRow& row, int, int column) {
  if (column != TSessionRow::TimeColumn) PrintRow('=', row);
}

void THeadlessHost::RowRemoved(const TSessionRow& row, int) { PrintRow('-', row); }

void THeadlessHost::PrintRow(char mark, const TSessionRow& row) {
  std::string line(1, mark);
  line += "\t" + ListingText(row.Caption());
  for (int column = 0; column < TSessionRow::SubItemCount; ++column)
    line += "\t" + ListingText(row.SubItem(column));
  Print(line);
}

// Names and chat lines come from the players and may hold any byte.  A 0
// byte would end the line early, a CR or LF would start a false one, a tab a
// false column, and terminal control bytes would reach whoever reads the
// listing; each goes out as \xHH instead (the backslash itself as \\), so
// every row stays one line of four columns.
std::string ListingText(const std::string& text) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    // 0x80..0x9F bytes that 1252 leaves undefined become C1 controls.
    bool control =
        byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F && cp1252::ToUnicode(byte) == byte);
    if (c == '\\') {
      out += "\\\\";
    } else if (control) {
      out += "\\x";
      out += Digits[byte >> 4];
      out += Digits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

void THeadlessHost::Print(const std::string& line) {
  std::string text = ToUtf8(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), FOut);
  std::fflush(FOut);
}
