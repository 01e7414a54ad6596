#pragma once
// The file list's rows: a window onto the query's results, filled on demand.
// The model holds no row texts, only an optional order (view row -> result
// index). A chosen sort holds across new results (another folder, another
// filter); rows that arrive during a scan are appended until the next reset.
#include <QAbstractTableModel>
#include <QIcon>
#include <vector>

#include "core/FileInfo.h"
#include "query/QueryObject.h"

namespace mirel::ui {

class TIconList;
class TImageList;

// Column numbers of the file list.
// The last, the entry's address on the volume, is hidden unless asked for.
enum TFileColumn : int { fcName = 0, fcType, fcSize, fcCondition, fcModified, fcCreated, fcAddress, fcCount };

// How much of a file's data is still on the volume, in words.
enum class TConditionGrade { Good, Partly, Lost };
TConditionGrade GradeOf(int32_t condition);
QString GradeName(TConditionGrade grade);

// "999 bytes", "4.9 KB", "1.2 MB", "3.0 GB" (1 KB = 1,024 bytes).
QString SizeInUnits(int64_t bytes);
// "5,000 bytes".
QString ExactBytes(int64_t bytes);

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TFileListModel(TQueryObject& query, TIconList& icons, TImageList& images, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list shows the query's current results from the first row on, in the
  // chosen sort order.
  void Reset();
  // The list shows no rows (the query keeps its results).
  void Clear();
  // Rows were appended to the results (during a scan).
  void GrowTo(int rows);
  // The entry shown in a view row; null outside the rows.
  TFileInfo* EntryAt(int row) const;
  // The texts of a view row.
  TFileRow RowAt(int row) const;

  // A header click: the same column flips the direction, another column
  // sorts ascending by it. Sizes, conditions and times sort by value.
  void HeaderClicked(int column);
  // The sorted column; -1 while the rows are in the query's order.
  int SortColumn = -1;
  bool SortDescending = false;

  // Sizes in KB/MB instead of bytes; the exact count stays in the tooltip.
  void SetSizeUnits(bool units);
  bool SizeUnits() const { return Units; }

private:
  int ResultIndex(int row) const;
  const TFileRow& CachedRow(int row) const;
  void SortRows();
  QVariant DisplayText(int row, int col) const;

  TQueryObject& Query;
  TIconList& Icons;
  TImageList& Images;
  int Rows = 0;
  bool Units = false;
  // Empty while the rows are in the query's order.
  std::vector<int> Order;
  mutable int CachedIndex = -1;
  mutable TFileRow Cached;
  QIcon GradeIcons[3];
};

}  // namespace mirel::ui
