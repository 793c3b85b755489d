#pragma once
// The preview grid of the renaming dialog and of the album wizard: one row per picture with its
// present file name (navy) and the name the renaming settings give it (maroon). Names are made
// when a row is drawn, so albums of thousands of pictures open at once. Rows whose new name is
// refused by the renaming check are drawn on a light red background.
//
// Threads: user-interface thread only.
#include "core/renameops.h"

#include <QAbstractTableModel>
#include <QSet>

class TLumenfoldAlbum;

class TRenamePreviewModel : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TRenamePreviewModel(QObject* parent = nullptr);

  // The album whose pictures are shown (not owned; nullptr shows nothing).
  void SetAlbum(const TLumenfoldAlbum* album);
  // New names follow these settings; with `active` false the new-name column is empty.
  void SetSettings(const TRenameSettings& settings, bool active);
  // Marks the rows of these positions as refused.
  void SetRefused(const QSet<int>& positions);
  // Call after the album's picture list changed.
  void Reload();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
  const TLumenfoldAlbum* album_ = nullptr;
  TRenameSettings settings_;
  bool active_ = true;
  QSet<int> refused_;
};

// The positions a plan's problems concern (the renamed pictures of a refused plan).
QSet<int> RefusedPositions(const TRenamePlan& plan);
