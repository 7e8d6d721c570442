// A running client's own account of what it saw, for whoever watches a game
// from outside it: the end-to-end tests, a developer following a session.
// One UTF-8 line per event, flushed at once so that a reader never waits
// on a buffer.  The client window owns the journal; it exists only when
// the environment variable VAROZUVOD_JOURNAL names a file.
//
//   goal NAME COLUMN ROW   a walk toward that cell begins: the local player's
//                          own (9 sent) or another player's (9 received)
//   stop NAME COLUMN ROW   a walk ended with that player standing there
//   chat TEXT              a line went into the chat panel
//   look NAME RACE HAIR OPTION
//                          another player is drawn with the look it sent
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

class TClientJournal {
 public:
  // The variable that names the file.
  static constexpr const char* Variable = "VAROZUVOD_JOURNAL";

  // Appends to the file; one that cannot be opened is
  // "Impossible d'écrire le journal <path>".
  explicit TClientJournal(const std::string& path);

  // The journal the environment asks for; empty when it asks for none.
  static std::unique_ptr<TClientJournal> FromEnvironment();

  // Names and chat text are Windows-1252, as the game holds them.
  void Goal(const std::string& name, int32_t column, int32_t row);
  void Stop(const std::string& name, int32_t column, int32_t row);
  void Chat(const std::string& text);
  void Look(const std::string& name, int32_t race, int32_t hair, int32_t option);

 private:
  void Write(const std::string& line);

  std::ofstream FFile;
};
