#include "host/SessionRows.h"

#include <algorithm>

TSessionRow::TSessionRow(TSessionListView* list, TSessionItem* data, std::string caption, TSubItems subItems)
    : FList(list), FData(data), FCaption(std::move(caption)), FSubItems(std::move(subItems)) {}

TSessionRow::~TSessionRow() {
  if (FList) FList->Removed(*this);
}

void TSessionRow::SetSubItem(int column, std::string_view text) {
  std::string& item = FSubItems.at(column);
  if (item == text) return;
  item.assign(text);
  if (FList) FList->Changed(*this, column);
}

TSessionListView::~TSessionListView() {
  for (TSessionRow* row : FRows) row->FList = nullptr;
}

std::unique_ptr<TSessionRow> TSessionListView::AddRow(TSessionItem* data, std::string caption,
                                                      TSessionRow::TSubItems subItems) {
  std::unique_ptr<TSessionRow> row(new TSessionRow(this, data, std::move(caption), std::move(subItems)));
  FRows.push_back(row.get());
  RowAdded(*row, Count() - 1);
  return row;
}

int TSessionListView::IndexOf(const TSessionRow& row) const {
  auto found = std::find(FRows.begin(), FRows.end(), &row);
  return found == FRows.end() ? -1 : static_cast<int>(found - FRows.begin());
}

void TSessionListView::Changed(const TSessionRow& row, int column) {
  int index = IndexOf(row);
  if (index >= 0) RowChanged(row, index, column);
}

void TSessionListView::Removed(const TSessionRow& row) {
  int index = IndexOf(row);
  if (index < 0) return;
  FRows.erase(FRows.begin() + index);
  RowRemoved(row, index);
}
