// A host's connection list that records every change it is told of, for
// the tests that run a game host in their own thread.  The host calls it
// from that thread; the test reads Changes between the host's turns.
// Whoever includes this links the host module.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/SessionRows.h"

class TRecordingList : public TSessionListView {
 public:
  // kind is '+' (added), '=' (a column changed) or '-' (removed); a new
  // row's text is its three columns joined by '|'.
  struct TChange {
    char Kind;
    std::string Caption;
    int Column;
    std::string Text;
  };
  std::vector<TChange> Changes;

  // The captions of every row it was told of, each once.
  std::set<std::string> Captions() const {
    std::set<std::string> captions;
    for (const TChange& change : Changes) captions.insert(change.Caption);
    return captions;
  }

  // What became of one row.
  struct TRowHistory {
    int StatusChanges = 0;
    bool Removed = false;
  };
  // The row whose player column last named that player (the first such
  // row by caption), nothing when none did.
  std::optional<TRowHistory> PlayerRow(const std::string& player) const {
    struct TRow {
      std::string Player;
      TRowHistory History;
    };
    std::map<std::string, TRow> rows;
    for (const TChange& change : Changes) {
      TRow& row = rows[change.Caption];
      if (change.Kind == '-') row.History.Removed = true;
      if (change.Kind != '=') continue;
      if (change.Column == TSessionRow::PlayerColumn) row.Player = change.Text;
      if (change.Column == TSessionRow::StatusColumn) ++row.History.StatusChanges;
    }
    for (const auto& [caption, row] : rows)
      if (row.Player == player) return row.History;
    return std::nullopt;
  }

 protected:
  void RowAdded(const TSessionRow& row, int) override {
    Changes.push_back({'+', row.Caption(), -1, row.SubItem(0) + "|" + row.SubItem(1) + "|" + row.SubItem(2)});
  }
  void RowChanged(const TSessionRow& row, int, int column) override {
    Changes.push_back({'=', row.Caption(), column, row.SubItem(column)});
  }
  void RowRemoved(const TSessionRow& row, int) override { Changes.push_back({'-', row.Caption(), -1, ""}); }
};
