#pragma once
// "Album properties": the descriptive fields, date, privacy, folder and relative web directory
// of one album, edited on a copy that the caller copies back after OK.
//
// Threads: user-interface thread only.
#include "core/album.h"
#include "ui/common/workingcopydialog.h"

#include <QImage>
#include <memory>

namespace Ui {
class frmAlbumDetail;
}

class TfrmAlbumDetail : public TWorkingCopyDialog<TLumenfoldAlbum> {
  Q_OBJECT
public:
  explicit TfrmAlbumDetail(QWidget* parent = nullptr);
  ~TfrmAlbumDetail() override;

  // The copy being edited; the caller assigns the album into it before showing.
  TLumenfoldAlbum& Album() { return Copy(); }
  // lblCount: "There are %s pictures in this album.".
  void SetPictureCount(int count);
  // The face picture's thumbnail, drawn centred and scaled to fit.
  void SetFaceImage(const QImage& image);

  // Relative-directory steps: "<" drops the first component, ">" takes the next component of
  // the folder path in front. They return the new directory, or the old one when the step is not
  // possible. Both '\' and '/' separate components; empty components do not count.
  static QString DirectoryLeft(const QString& directory);
  static QString DirectoryRight(const QString& directory, const QString& path);
  static bool CanGoLeft(const QString& directory);
  static bool CanGoRight(const QString& directory, const QString& path);

protected:
  void FirstShow() override;

private:
  void writeAlbum();
  void applyEnableRules();
  void browse();
  void left();
  void right();

  std::unique_ptr<Ui::frmAlbumDetail> ui;
};
