#include "client/Journal.h"

#include <QString>
#include <cstdlib>

#include "platform/Errors.h"
#include "platform/Text1252.h"

TClientJournal::TClientJournal(const std::string& path) : FFile(path, std::ios::app) {
  if (!FFile)
    throw Exception(std::string("Impossible d'écrire le journal "_cp) +
                    FromQString(QString::fromLocal8Bit(path)));
}

std::unique_ptr<TClientJournal> TClientJournal::FromEnvironment() {
  const char* path = std::getenv(Variable);
  if (!path || !*path) return nullptr;
  return std::make_unique<TClientJournal>(path);
}

void TClientJournal::Goal(const std::string& name, int32_t column, int32_t row) {
  Write("goal " + ToUtf8(name) + " " + std::to_string(column) + " " + std::to_string(row));
}

void TClientJournal::Stop(const std::string& name, int32_t column, int32_t row) {
  Write("stop " + ToUtf8(name) + " " + std::to_string(column) + " " + std::to_string(row));
}

void TClientJournal::Chat(const std::string& text) { Write("chat " + ToUtf8(text)); }

void TClientJournal::Look(const std::string& name, int32_t race, int32_t hair, int32_t option) {
  Write("look " + ToUtf8(name) + " " + std::to_string(race) + " " + std::to_string(hair) + " " +
        std::to_string(option));
}

void TClientJournal::Write(const std::string& line) { FFile << line << '\n' << std::flush; }
