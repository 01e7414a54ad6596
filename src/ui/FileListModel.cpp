#include "ui/FileListModel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

#include "ui/IconList.h"

namespace mirel::ui {

namespace {

// The last, the entry's address on the volume, is hidden unless asked for.
const char* const ColumnTitles[] = {"Name", "Type", "Size", "Status", "Modified", "Created", "Address"};
constexpr int kColumns = 7;
constexpr int kAddressColumn = 6;

std::string FoldAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

}  // namespace

TFileListModel::TFileListModel(TQueryObject& query, TIconList& icons, TImageList& images, QObject* parent)
    : QAbstractTableModel(parent), Query(query), Icons(icons), Images(images) {}

int TFileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows; }

int TFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

int TFileListModel::ResultIndex(int row) const {
  if (row < 0 || row >= Rows) return -1;
  return Order.empty() ? row : Order[static_cast<size_t>(row)];
}

PFileInfo TFileListModel::EntryAt(int row) const {
  int i = ResultIndex(row);
  return i < 0 ? nullptr : Query.GetResult(i);
}

const TFileRow& TFileListModel::CachedRow(int row) const {
  // A view asks for every column and role of a row in turn: fill it once.
  int i = ResultIndex(row);
  if (i != CachedIndex) {
    Cached = TFileRow();
    CachedIndex = i;
    if (PFileInfo e = i < 0 ? nullptr : Query.GetResult(i)) Query.FillRow(Cached, e);
  }
  return Cached;
}

TFileRow TFileListModel::RowAt(int row) const { return CachedRow(row); }

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row(), col = index.column();
  switch (role) {
    case Qt::DisplayRole: {
      const TFileRow& r = CachedRow(row);
      if (col == kAddressColumn)
        return r.Entry && r.Entry->FsInfo ? QString::fromStdString(r.Entry->FsInfo->Address()) : QString();
      const std::string& text = col == 0 ? r.Caption : r.Columns[static_cast<size_t>(col - 1)];
      return QString::fromStdString(text);
    }
    case Qt::DecorationRole: {
      if (col != 0) return {};
      const TFileRow& r = CachedRow(row);
      if (!r.Entry) return {};
      int image = r.Entry->IsFolder ? Icons.IndexOf(QStringLiteral("**FOLDER"))
                                    : Icons.IndexOf(QString::fromStdString(r.Caption));
      return Images.Icon(image);
    }
    case Qt::BackgroundRole:
      // Odd rows are tinted so that long rows stay easy to follow.
      if (row % 2 == 1) return QBrush(QColor(239, 243, 254));
      return {};
    case Qt::TextAlignmentRole:
      if (col == 2 || col == 3) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(ColumnTitles[section]);
  if (role == Qt::TextAlignmentRole && (section == 2 || section == 3))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

void TFileListModel::Reset() {
  beginResetModel();
  Rows = Query.ResultCount();
  Order.clear();
  CachedIndex = -1;
  endResetModel();
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

void TFileListModel::HeaderClicked(int column) {
  if (column == SortColumn) SortDescending = !SortDescending;
  else {
    SortColumn = column;
    SortDescending = false;
  }
  // Sizes and dates compare as text, like every other column.
  std::vector<std::pair<std::string, int>> keys;
  keys.reserve(static_cast<size_t>(Rows));
  for (int row = 0; row < Rows; ++row) {
    int i = ResultIndex(row);
    TFileRow r;
    if (PFileInfo e = Query.GetResult(i)) Query.FillRow(r, e);
    std::string key;
    if (SortColumn == kAddressColumn)
      key = r.Entry && r.Entry->FsInfo ? r.Entry->FsInfo->Address() : std::string();
    else
      key = SortColumn == 0 ? r.Caption : r.Columns[static_cast<size_t>(SortColumn - 1)];
    keys.emplace_back(FoldAscii(key), i);
  }
  const bool desc = SortDescending;
  std::stable_sort(keys.begin(), keys.end(), [desc](const auto& a, const auto& b) {
    return desc ? b.first < a.first : a.first < b.first;
  });
  emit layoutAboutToBeChanged();
  // Selected rows must keep pointing at the same entries after the re-order.
  const QModelIndexList before = persistentIndexList();
  std::vector<int> oldIndex;
  oldIndex.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& ix : before) oldIndex.push_back(ResultIndex(ix.row()));
  Order.resize(keys.size());
  std::vector<int> rowOf(keys.size());
  for (size_t k = 0; k < keys.size(); ++k) {
    Order[k] = keys[k].second;
    if (keys[k].second >= 0 && static_cast<size_t>(keys[k].second) < rowOf.size())
      rowOf[static_cast<size_t>(keys[k].second)] = static_cast<int>(k);
  }
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype k = 0; k < before.size(); ++k) {
    int i = oldIndex[static_cast<size_t>(k)];
    after.push_back(i < 0 ? QModelIndex() : index(rowOf[static_cast<size_t>(i)], before[k].column()));
  }
  changePersistentIndexList(before, after);
  CachedIndex = -1;
  emit layoutChanged();
}

}  // namespace mirel::ui
