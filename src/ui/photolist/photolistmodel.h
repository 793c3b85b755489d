#pragma once
// TPhotoListModel: the rows of the picture list view, read straight from the pictures.
//
// The model holds the pictures it was given (in their album order) and the rows it shows: those
// that pass the category filter, in the chosen sort order. Column n always shows field n of
// TField; data() formats the field of the row's picture when it is asked, so a change to a
// picture reaches every column by PictureChanged() alone.
//
// Sorting and filtering only reorder pointers: keys are read from the pictures (numbers, dates,
// the strings they hold) without a database query or an allocation per row; only the
// categories column, whose text is made from the category list, gathers its keys once per sort.
// Neither changes the album or its pictures.
//
// Threads: user-interface thread only.
#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <unordered_map>
#include <vector>

class TLumenfoldPicture;

// One column of the details view.
struct TListColumn {
  QString Caption;
  int Width = 100;
  Qt::Alignment Alignment = Qt::AlignLeft;
};

class TPhotoListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum TField {
    fdCaption, // the row number in icon view, the file name in details view
    fdFileName,
    fdSize,      // the original's size in bytes, digits grouped
    fdDate,      // the picture's date, short format
    fdDimension, // width x height of the original
    fdHash,
    fdTitle,
    fdTitle2,
    fdPrivate,
    fdCategories, // titles of the picture's categories
    fdCount
  };
  // Unsorted: the rows keep the album order.
  static constexpr int NoSortColumn = -1;

  explicit TPhotoListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // --- pictures ----------------------------------------------------------------------------
  // Between BeginUpdate and EndUpdate the rows are rebuilt once, at the end.
  void BeginUpdate();
  void EndUpdate();
  void Clear();
  // Appends a picture; returns its row (its position in the unfiltered, unsorted list).
  int Append(TLumenfoldPicture* picture);
  TLumenfoldPicture* Picture(int row) const;
  // Row of the picture, or -1 (also for a picture filtered out).
  int RowOf(const TLumenfoldPicture* picture) const;
  // Every column of the picture's row shows its fields again.
  void PictureChanged(const TLumenfoldPicture* picture);
  // Text of a cell as the details view shows it.
  QString Text(int row, int column) const;

  // --- columns -----------------------------------------------------------------------------
  void SetColumns(const std::vector<TListColumn>& columns);
  std::vector<TListColumn>& Columns() { return columns_; }
  // The caption column shows the row number (true) or the file name.
  void SetCaptionIsNumber(bool value);
  // Makes the text of the categories column; none: the column stays empty.
  std::function<QString(const TLumenfoldPicture&)> CategoryTitles;
  // Tooltip of a row; none when unset.
  std::function<QString(int row)> ItemHint;
  // Column whose cells may be edited (none: -1); an accepted edit goes to Edited.
  int EditableColumn = -1;
  std::function<void(int row, const QString& text)> Edited;

  // --- order and filter --------------------------------------------------------------------
  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }
  // Shows only the pictures of the category (id as decimal text); empty: every picture.
  void SetCategoryFilter(const QString& categoryId);
  const QString& CategoryFilter() const { return categoryFilter_; }
  // Pictures given, filtered or not.
  int PictureCount() const { return int(pictures_.size()); }

private:
  // Rebuilds rows_ from pictures_ (filter, then order) and the row index.
  void rebuildRows();
  void sortRows();
  void indexRows();

  std::vector<TLumenfoldPicture*> pictures_; // as given
  std::vector<TLumenfoldPicture*> rows_;     // as shown
  std::unordered_map<const TLumenfoldPicture*, int> rowOf_;
  std::vector<TListColumn> columns_;
  bool captionIsNumber_ = true;
  int sortColumn_ = NoSortColumn;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  QString categoryFilter_;
  int updateDepth_ = 0;
};
