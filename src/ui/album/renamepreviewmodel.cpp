#include "ui/album/renamepreviewmodel.h"

#include "core/album.h"
#include "core/picture.h"

#include <QBrush>
#include <QColor>
#include <QFont>

TRenamePreviewModel::TRenamePreviewModel(QObject* parent) : QAbstractTableModel(parent) {}

void TRenamePreviewModel::SetAlbum(const TLumenfoldAlbum* album) {
  beginResetModel();
  album_ = album;
  refused_.clear();
  endResetModel();
}

void TRenamePreviewModel::Reload() {
  beginResetModel();
  endResetModel();
}

void TRenamePreviewModel::SetSettings(const TRenameSettings& settings, bool active) {
  settings_ = settings;
  active_ = active;
  if (rowCount() > 0) emit dataChanged(index(0, 1), index(rowCount() - 1, 1));
}

void TRenamePreviewModel::SetRefused(const QSet<int>& positions) {
  if (positions == refused_) return;
  refused_ = positions;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 1));
}

int TRenamePreviewModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !album_ ? 0 : album_->Pictures.Count();
}

int TRenamePreviewModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant TRenamePreviewModel::data(const QModelIndex& index, int role) const {
  if (!album_ || !index.isValid() || index.row() >= album_->Pictures.Count()) return {};
  switch (role) {
  case Qt::DisplayRole:
  case Qt::ToolTipRole:
    if (index.column() == 0) return album_->Pictures.Pictures(index.row())->OriginalFileName;
    return active_ ? NewPictureName(*album_, index.row(), settings_) : QString();
  case Qt::ForegroundRole:
    return QBrush(index.column() == 0 ? QColor(Qt::darkBlue) : QColor(0x80, 0, 0));
  case Qt::BackgroundRole:
    if (refused_.contains(index.row())) return QBrush(QColor(0xFF, 0xDD, 0xDD));
    return {};
  default:
    return {};
  }
}

QVariant TRenamePreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  switch (role) {
  case Qt::DisplayRole:
    return section == 0 ? QStringLiteral("old name") : QStringLiteral("new name");
  case Qt::ForegroundRole:
    return QBrush(section == 0 ? QColor(Qt::darkBlue) : QColor(0x80, 0, 0));
  case Qt::FontRole: {
    QFont f;
    f.setBold(true);
    return f;
  }
  default:
    return {};
  }
}

QSet<int> RefusedPositions(const TRenamePlan& plan) {
  return QSet<int>(plan.Refused.cbegin(), plan.Refused.cend());
}
