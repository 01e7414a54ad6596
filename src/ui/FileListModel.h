#pragma once
// The file list's rows: a window onto the query's results, filled on demand.
// The model holds no row texts, only an optional order (view row -> result
// index) after a header click; rows that arrive later are appended.
#include <QAbstractTableModel>
#include <vector>

#include "core/FileInfo.h"
#include "query/QueryObject.h"

namespace mirel::ui {

class TIconList;
class TImageList;

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TFileListModel(TQueryObject& query, TIconList& icons, TImageList& images, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list shows the query's current results from the first row on.
  void Reset();
  // The list shows no rows (the query keeps its results).
  void Clear();
  // Rows were appended to the results (during a scan).
  void GrowTo(int rows);
  // The entry shown in a view row; null outside the rows.
  PFileInfo EntryAt(int row) const;
  // The texts of a view row.
  TFileRow RowAt(int row) const;

  // A header click: the same column flips the direction, another column
  // sorts ascending by it.
  void HeaderClicked(int column);
  int SortColumn = 0;
  bool SortDescending = false;

private:
  int ResultIndex(int row) const;
  const TFileRow& CachedRow(int row) const;

  TQueryObject& Query;
  TIconList& Icons;
  TImageList& Images;
  int Rows = 0;
  // Empty while the rows are in the query's order.
  std::vector<int> Order;
  mutable int CachedIndex = -1;
  mutable TFileRow Cached;
};

}  // namespace mirel::ui
