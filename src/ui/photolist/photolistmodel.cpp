#include "ui/photolist/photolistmodel.h"

#include "core/picture.h"
#include "ui/photolist/photolistpainter.h"

#include <QLocale>
#include <algorithm>
#include <limits>

TPhotoListModel::TPhotoListModel(QObject* parent) : QAbstractTableModel(parent) {}

int TPhotoListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int TPhotoListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(1, int(columns_.size()));
}

QString TPhotoListModel::Text(int row, int column) const {
  const TLumenfoldPicture* p = Picture(row);
  if (!p) return QString();
  const QLocale locale;
  switch (column) {
  case fdCaption:
    return captionIsNumber_ ? QString::number(row) : p->OriginalFileName;
  case fdFileName:
    return p->OriginalFileName;
  case fdSize:
    return TPhotoItemPainter::FormatThousands(p->OriginalSize, locale);
  case fdDate:
    return p->PictureDate.isValid() ? locale.toString(p->PictureDate.date(), QLocale::ShortFormat)
                                    : QString();
  case fdDimension:
    return QStringLiteral("%1x%2").arg(p->OriginalWidth).arg(p->OriginalHeight);
  case fdHash:
    return p->OriginalHash;
  case fdTitle:
    return p->Title;
  case fdTitle2:
    return p->Title2;
  case fdPrivate:
    return p->IsPrivate ? QStringLiteral("private") : QString();
  case fdCategories:
    return CategoryTitles ? CategoryTitles(*p) : QString();
  default:
    return QString();
  }
}

QVariant TPhotoListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(rows_.size())) return QVariant();
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    return Text(index.row(), index.column());
  case Qt::TextAlignmentRole:
    if (index.column() < int(columns_.size()))
      return QVariant::fromValue(columns_[size_t(index.column())].Alignment | Qt::AlignVCenter);
    return QVariant();
  case Qt::ToolTipRole:
    if (ItemHint) return ItemHint(index.row());
    return QVariant();
  default:
    return QVariant();
  }
}

bool TPhotoListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid()) return false;
  // The owner decides what an edit means (for example renaming the original); the cell shows
  // the picture's field, so an edit that is refused leaves the old text.
  if (Edited) Edited(index.row(), value.toString());
  PictureChanged(Picture(index.row()));
  return true;
}

Qt::ItemFlags TPhotoListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == EditableColumn) f |= Qt::ItemIsEditable;
  return f;
}

QVariant TPhotoListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section >= int(columns_.size())) return QVariant();
  if (role == Qt::DisplayRole) return columns_[size_t(section)].Caption;
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(columns_[size_t(section)].Alignment | Qt::AlignVCenter);
  return QVariant();
}

// ---- pictures ---------------------------------------------------------------------------------

void TPhotoListModel::BeginUpdate() {
  if (updateDepth_++ == 0) beginResetModel();
}

void TPhotoListModel::EndUpdate() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ == 0) {
    rebuildRows();
    endResetModel();
  }
}

void TPhotoListModel::Clear() {
  if (updateDepth_ == 0) beginResetModel();
  pictures_.clear();
  rows_.clear();
  rowOf_.clear();
  if (updateDepth_ == 0) endResetModel();
}

int TPhotoListModel::Append(TLumenfoldPicture* picture) {
  pictures_.push_back(picture);
  const int position = int(pictures_.size()) - 1;
  if (updateDepth_ > 0) return position;
  // Outside an update a picture that the filter lets pass comes last; a sorted list is
  // rebuilt, as its place may be anywhere.
  if (sortColumn_ != NoSortColumn) {
    beginResetModel();
    rebuildRows();
    endResetModel();
  } else if (categoryFilter_.isEmpty() ||
             (picture && picture->CategoryIds.contains(categoryFilter_))) {
    const int row = int(rows_.size());
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(picture);
    rowOf_[picture] = row;
    endInsertRows();
  }
  return position;
}

TLumenfoldPicture* TPhotoListModel::Picture(int row) const {
  if (row < 0 || row >= int(rows_.size())) return nullptr;
  return rows_[size_t(row)];
}

int TPhotoListModel::RowOf(const TLumenfoldPicture* picture) const {
  if (!picture) return -1;
  const auto it = rowOf_.find(picture);
  return it == rowOf_.end() ? -1 : it->second;
}

void TPhotoListModel::PictureChanged(const TLumenfoldPicture* picture) {
  const int row = RowOf(picture);
  if (row < 0 || updateDepth_ > 0) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

// ---- columns ----------------------------------------------------------------------------------

void TPhotoListModel::SetColumns(const std::vector<TListColumn>& columns) {
  beginResetModel();
  columns_ = columns;
  endResetModel();
}

void TPhotoListModel::SetCaptionIsNumber(bool value) {
  if (captionIsNumber_ == value) return;
  captionIsNumber_ = value;
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, 0));
}

// ---- order and filter -------------------------------------------------------------------------

void TPhotoListModel::indexRows() {
  rowOf_.clear();
  rowOf_.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i)
    rowOf_.emplace(rows_[i], int(i));
}

void TPhotoListModel::rebuildRows() {
  rows_.clear();
  rows_.reserve(pictures_.size());
  for (TLumenfoldPicture* p : pictures_)
    if (categoryFilter_.isEmpty() || (p && p->CategoryIds.contains(categoryFilter_)))
      rows_.push_back(p);
  sortRows();
  indexRows();
}

namespace {
int compareText(const QString& a, const QString& b) {
  return QString::compare(a, b, Qt::CaseInsensitive);
}

// Three-way comparison of two pictures by one field; 0 for the caption column (album order).
int compareField(int field, const TLumenfoldPicture& a, const TLumenfoldPicture& b) {
  auto cmp = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (field) {
  case TPhotoListModel::fdFileName:
    return compareText(a.OriginalFileName, b.OriginalFileName);
  case TPhotoListModel::fdSize:
    return cmp(a.OriginalSize, b.OriginalSize);
  case TPhotoListModel::fdDimension:
    return cmp(qint64(a.OriginalWidth) * a.OriginalHeight,
               qint64(b.OriginalWidth) * b.OriginalHeight);
  case TPhotoListModel::fdHash:
    return a.OriginalHash.compare(b.OriginalHash);
  case TPhotoListModel::fdTitle:
    return compareText(a.Title, b.Title);
  case TPhotoListModel::fdTitle2:
    return compareText(a.Title2, b.Title2);
  case TPhotoListModel::fdPrivate:
    return cmp(a.IsPrivate, b.IsPrivate);
  default:
    return 0;
  }
}
} // namespace

// Sorts rows by a key worked out once per row (stable, as the rows are in album order).
template <class Key, class Make, class Compare>
static void sortByKey(std::vector<TLumenfoldPicture*>& rows, Make make, Compare compare) {
  std::vector<std::pair<Key, TLumenfoldPicture*>> keyed;
  keyed.reserve(rows.size());
  for (TLumenfoldPicture* p : rows)
    keyed.emplace_back(make(p), p);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [&](const auto& a, const auto& b) { return compare(a.first, b.first); });
  for (size_t i = 0; i < keyed.size(); ++i)
    rows[i] = keyed[i].second;
}

void TPhotoListModel::sortRows() {
  if (sortColumn_ == NoSortColumn || sortColumn_ == fdCaption || rows_.size() < 2) return;
  const bool descending = sortOrder_ == Qt::DescendingOrder;
  if (sortColumn_ == fdCategories) {
    // The only text made per row: gathered once, then sorted with the rows.
    sortByKey<QString>(
        rows_,
        [this](const TLumenfoldPicture* p) {
          return CategoryTitles && p ? CategoryTitles(*p) : QString();
        },
        [descending](const QString& a, const QString& b) {
          const int c = compareText(a, b);
          return descending ? c > 0 : c < 0;
        });
    return;
  }
  if (sortColumn_ == fdDate) {
    // A date's instant needs the time zone: worked out once per row. No date comes first.
    sortByKey<qint64>(
        rows_,
        [](const TLumenfoldPicture* p) {
          return p && p->PictureDate.isValid() ? p->PictureDate.toMSecsSinceEpoch()
                                               : std::numeric_limits<qint64>::min();
        },
        [descending](qint64 a, qint64 b) { return descending ? a > b : a < b; });
    return;
  }
  const int field = sortColumn_;
  // Stable: pictures that compare equal keep their album order in both directions.
  std::stable_sort(rows_.begin(), rows_.end(),
                   [field, descending](const TLumenfoldPicture* a, const TLumenfoldPicture* b) {
                     if (!a || !b) return !a && b;
                     const int c = compareField(field, *a, *b);
                     return descending ? c > 0 : c < 0;
                   });
}

void TPhotoListModel::sort(int column, Qt::SortOrder order) {
  if (column >= int(fdCount)) return;
  if (column < 0) column = NoSortColumn;
  if (column == sortColumn_ && order == sortOrder_) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<TLumenfoldPicture*> before = rows_;
  sortColumn_ = column;
  sortOrder_ = order;
  rebuildRows();
  // Selection and current item follow their pictures.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& i : from) {
    const int row = i.row() < int(before.size()) ? RowOf(before[size_t(i.row())]) : -1;
    to.append(row < 0 ? QModelIndex() : index(row, i.column()));
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TPhotoListModel::SetCategoryFilter(const QString& categoryId) {
  if (categoryId == categoryFilter_) return;
  beginResetModel();
  categoryFilter_ = categoryId;
  rebuildRows();
  endResetModel();
}
