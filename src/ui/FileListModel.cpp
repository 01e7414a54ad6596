#include "ui/FileListModel.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QStyle>
#include <algorithm>
#include <cstdlib>

#include "ui/IconList.h"

namespace mirel::ui {

namespace {

const char* const ColumnTitles[] = {"Name", "Type", "Size", "Status", "Modified", "Created", "Address"};

std::string FoldAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool IsDeleted(const TFileInfo& e) { return e.FsInfo && e.FsInfo->IsDeleted(); }

// What a row sorts by in a column: a number for sizes, conditions and times,
// folded text for names and types.
struct TSortKey {
  int64_t Number = 0;
  std::string Text;
  int Index = 0;
};

TSortKey KeyOf(const TFileInfo& e, int column, int index) {
  TSortKey k;
  k.Index = index;
  switch (column) {
    case fcSize: k.Number = e.Size; break;
    // Folders have no condition and come before every file.
    case fcCondition: k.Number = e.IsFolder ? -1 : e.Condition; break;
    case fcModified: k.Number = static_cast<int64_t>(e.LastWriteTime); break;
    case fcCreated: k.Number = static_cast<int64_t>(e.CreationTime); break;
    // Record number or byte offset first: "9-1" before "10-1".
    case fcAddress: k.Number = e.FsInfo ? std::strtoll(e.FsInfo->Address().c_str(), nullptr, 10) : -1; break;
    case fcType: {
      const size_t dot = e.Name.find_last_of('.');
      k.Text = dot == std::string::npos ? std::string() : FoldAscii(e.Name.substr(dot));
      break;
    }
    default: k.Text = FoldAscii(e.Name); break;
  }
  return k;
}

}  // namespace

TConditionGrade GradeOf(int32_t condition) {
  if (condition >= 100) return TConditionGrade::Good;
  return condition <= 0 ? TConditionGrade::Lost : TConditionGrade::Partly;
}

QString GradeName(TConditionGrade grade) {
  switch (grade) {
    case TConditionGrade::Good: return QStringLiteral("good: all of its data is still on the volume");
    case TConditionGrade::Partly: return QStringLiteral("partly: some of its data has been overwritten");
    default: return QStringLiteral("lost: its data has been overwritten");
  }
}

QString SizeInUnits(int64_t bytes) {
  if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
  const char* const units[] = {"KB", "MB", "GB", "TB"};
  double v = static_cast<double>(bytes) / 1024;
  int u = 0;
  while (v >= 1024 && u < 3) {
    v /= 1024;
    ++u;
  }
  return QStringLiteral("%1 %2").arg(v, 0, 'f', 1).arg(QLatin1String(units[u]));
}

QString ExactBytes(int64_t bytes) {
  return QLocale(QLocale::English).toString(static_cast<qlonglong>(bytes)) + QStringLiteral(" bytes");
}

TFileListModel::TFileListModel(TQueryObject& query, TIconList& icons, TImageList& images, QObject* parent)
    : QAbstractTableModel(parent), Query(query), Icons(icons), Images(images) {
  // Standard icons follow the style and read on light and dark palettes alike.
  QStyle* style = QApplication::style();
  GradeIcons[0] = style->standardIcon(QStyle::SP_DialogApplyButton);
  GradeIcons[1] = style->standardIcon(QStyle::SP_MessageBoxWarning);
  GradeIcons[2] = style->standardIcon(QStyle::SP_MessageBoxCritical);
}

int TFileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows; }

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : fcCount; }

int TFileListModel::ResultIndex(int row) const {
  if (row < 0 || row >= Rows) return -1;
  return Order.empty() ? row : Order[static_cast<size_t>(row)];
}

TFileInfo* TFileListModel::EntryAt(int row) const {
  int i = ResultIndex(row);
  return i < 0 ? nullptr : Query.GetResult(i);
}

const TFileRow& TFileListModel::CachedRow(int row) const {
  // A view asks for every column and role of a row in turn: fill it once,
  // and again when the query's results changed under the row since.
  int i = ResultIndex(row);
  TFileInfo* e = i < 0 ? nullptr : Query.GetResult(i);
  if (i != CachedIndex || e != Cached.Entry) {
    Cached = TFileRow();
    CachedIndex = i;
    if (e) Query.FillRow(Cached, e);
  }
  return Cached;
}

TFileRow TFileListModel::RowAt(int row) const { return CachedRow(row); }

QVariant TFileListModel::DisplayText(int row, int col) const {
  const TFileRow& r = CachedRow(row);
  if (col == fcSize && Units && r.Entry) return SizeInUnits(r.Entry->Size);
  if (col == fcAddress)
    return r.Entry && r.Entry->FsInfo ? QString::fromStdString(r.Entry->FsInfo->Address()) : QString();
  const std::string& text = col == fcName ? r.Caption : r.Columns[static_cast<size_t>(col - 1)];
  return QString::fromStdString(text);
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row(), col = index.column();
  switch (role) {
    case Qt::DisplayRole: return DisplayText(row, col);
    case Qt::DecorationRole: {
      const TFileRow& r = CachedRow(row);
      if (!r.Entry) return {};
      if (col == fcCondition)
        return r.Entry->IsFolder ? QVariant() : GradeIcons[static_cast<int>(GradeOf(r.Entry->Condition))];
      if (col != fcName) return {};
      int image = r.Entry->IsFolder ? Icons.IndexOf(QStringLiteral("**FOLDER"))
                                    : Icons.IndexOf(QString::fromStdString(r.Caption));
      return Images.Icon(image);
    }
    case Qt::FontRole: {
      // Deleted entries are set in italics, as in the folder tree.
      const TFileRow& r = CachedRow(row);
      if (!r.Entry || !IsDeleted(*r.Entry)) return {};
      QFont f;
      f.setItalic(true);
      return f;
    }
    case Qt::ToolTipRole: {
      const TFileRow& r = CachedRow(row);
      if (!r.Entry) return {};
      if (col == fcSize) return ExactBytes(r.Entry->Size);
      if (col == fcCondition)
        return r.Entry->IsFolder
                   ? QVariant()
                   : QStringLiteral("%1%: %2").arg(r.Entry->Condition).arg(GradeName(GradeOf(r.Entry->Condition)));
      const QString text = DisplayText(row, col).toString();
      if (col == fcName && IsDeleted(*r.Entry)) return text + QStringLiteral(" (deleted)");
      return text;
    }
    case Qt::TextAlignmentRole:
      if (col == fcSize || col == fcCondition) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default: return {};
  }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= fcCount) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(ColumnTitles[section]);
  if (role == Qt::TextAlignmentRole && (section == fcSize || section == fcCondition))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

void TFileListModel::Reset() {
  beginResetModel();
  Rows = Query.ResultCount();
  Order.clear();
  CachedIndex = -1;
  endResetModel();
  if (SortColumn >= 0) SortRows();
}

void TFileListModel::Clear() {
  beginResetModel();
  Rows = 0;
  Order.clear();
  CachedIndex = -1;
  endResetModel();
}

void TFileListModel::GrowTo(int rows) {
  if (rows < Rows) {
    Reset();
    return;
  }
  if (rows == Rows) return;
  beginInsertRows({}, Rows, rows - 1);
  if (!Order.empty())
    for (int i = Rows; i < rows; ++i) Order.push_back(i);
  Rows = rows;
  endInsertRows();
}

void TFileListModel::SetSizeUnits(bool units) {
  if (Units == units) return;
  Units = units;
  CachedIndex = -1;
  if (Rows > 0) emit dataChanged(index(0, fcSize), index(Rows - 1, fcSize), {Qt::DisplayRole});
}

void TFileListModel::HeaderClicked(int column) {
  if (column < 0 || column >= fcCount) return;
  if (column == SortColumn)
    SortDescending = !SortDescending;
  else {
    SortColumn = column;
    SortDescending = false;
  }
  SortRows();
}

void TFileListModel::SortRows() {
  std::vector<TSortKey> keys;
  keys.reserve(static_cast<size_t>(Rows));
  for (int row = 0; row < Rows; ++row) {
    const int i = ResultIndex(row);
    if (TFileInfo* e = Query.GetResult(i))
      keys.push_back(KeyOf(*e, SortColumn, i));
    else
      keys.push_back(TSortKey{0, {}, i});
  }
  const bool desc = SortDescending;
  const bool byNumber = SortColumn != fcName && SortColumn != fcType;
  std::stable_sort(keys.begin(), keys.end(), [desc, byNumber](const TSortKey& a, const TSortKey& b) {
    const TSortKey& x = desc ? b : a;
    const TSortKey& y = desc ? a : b;
    return byNumber ? x.Number < y.Number : x.Text < y.Text;
  });
  emit layoutAboutToBeChanged();
  // Selected rows must keep pointing at the same entries after the re-order.
  const QModelIndexList before = persistentIndexList();
  std::vector<int> oldIndex;
  oldIndex.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& ix : before) oldIndex.push_back(ResultIndex(ix.row()));
  Order.resize(keys.size());
  std::vector<int> rowOf(keys.size(), -1);
  for (size_t k = 0; k < keys.size(); ++k) {
    Order[k] = keys[k].Index;
    if (keys[k].Index >= 0 && static_cast<size_t>(keys[k].Index) < rowOf.size())
      rowOf[static_cast<size_t>(keys[k].Index)] = static_cast<int>(k);
  }
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype k = 0; k < before.size(); ++k) {
    const int i = oldIndex[static_cast<size_t>(k)];
    const int row = i < 0 || static_cast<size_t>(i) >= rowOf.size() ? -1 : rowOf[static_cast<size_t>(i)];
    after.push_back(row < 0 ? QModelIndex() : index(row, before[k].column()));
  }
  changePersistentIndexList(before, after);
  CachedIndex = -1;
  emit layoutChanged();
}

}  // namespace mirel::ui
