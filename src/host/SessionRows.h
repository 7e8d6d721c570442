// The connection list of a running host: one row per connection (player
// sessions and web connections alike), with the address as caption and the
// player, status and time columns as sub-items.  Each connection owns its
// row; the list only knows the rows that live.  The host window shows the
// list in a list view, the headless host prints it; both derive from
// TSessionListView.  Everything runs on the user-interface thread.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TSessionItem;
class TSessionListView;

class TSessionRow {
 public:
  // Sub-item columns, after the caption (the "Adresse" column).
  enum : int { PlayerColumn = 0, StatusColumn = 1, TimeColumn = 2, SubItemCount = 3 };
  using TSubItems = std::array<std::string, SubItemCount>;

  // Destroying the row takes it out of its list.
  ~TSessionRow();
  TSessionRow(const TSessionRow&) = delete;
  TSessionRow& operator=(const TSessionRow&) = delete;

  // The connection the row shows.
  TSessionItem* Data() const { return FData; }
  const std::string& Caption() const { return FCaption; }
  const std::string& SubItem(int column) const { return FSubItems.at(column); }
  // Changes one column; the list hears of it only when the text differs.
  void SetSubItem(int column, std::string_view text);

 private:
  friend class TSessionListView;
  TSessionRow(TSessionListView* list, TSessionItem* data, std::string caption, TSubItems subItems);

  TSessionListView* FList;
  TSessionItem* FData;
  std::string FCaption;
  TSubItems FSubItems;
};

class TSessionListView {
 public:
  TSessionListView() = default;
  // Rows that outlive the list forget it.
  virtual ~TSessionListView();
  TSessionListView(const TSessionListView&) = delete;
  TSessionListView& operator=(const TSessionListView&) = delete;

  // Appends a row; the caller owns it.
  std::unique_ptr<TSessionRow> AddRow(TSessionItem* data, std::string caption,
                                      TSessionRow::TSubItems subItems);
  int Count() const { return static_cast<int>(FRows.size()); }
  // The row at a position, in the order the rows were added.
  TSessionRow& Row(int index) const { return *FRows.at(index); }

 protected:
  // What the view shows follows these three.
  virtual void RowAdded(const TSessionRow&, int /*index*/) {}
  virtual void RowChanged(const TSessionRow&, int /*index*/, int /*column*/) {}
  virtual void RowRemoved(const TSessionRow&, int /*index*/) {}

 private:
  friend class TSessionRow;
  int IndexOf(const TSessionRow& row) const;
  void Changed(const TSessionRow& row, int column);
  void Removed(const TSessionRow& row);

  std::vector<TSessionRow*> FRows;
};
