#include "ui/album/frmalbumdetail.h"
#include "ui/common/colourscheme.h"

#include "core/album.h"
#include "ui/common/filedialogs.h"
#include "ui/common/placeholderfields.h"
#include "ui_frmalbumdetail.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFileInfo>

namespace {
bool isSeparator(QChar c) {
  return c == '\\' || c == '/';
}
} // namespace

TfrmAlbumDetail::TfrmAlbumDetail(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmAlbumDetail", QSize(544, 414)),
      ui(std::make_unique<Ui::frmAlbumDetail>()) {
  ui->setupUi(this);
  ui->imgFace->SetCentred(true);
  ui->edtDate->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
  WireOkCancel(ui->bbnOk, ui->bbnCancel);
  SelectPlaceholdersOnEntry(this);
  connect(ui->bbnBrowsePath, &QPushButton::clicked, this, &TfrmAlbumDetail::browse);
  connect(ui->bbnLeft, &QPushButton::clicked, this, &TfrmAlbumDetail::left);
  connect(ui->bbnRight, &QPushButton::clicked, this, &TfrmAlbumDetail::right);

  auto onChange = [this] { writeAlbum(); };
  // Typing a folder or directory takes effect at once, like every other field.
  for (QLineEdit* e : {ui->edtPath, ui->edtDirectory, ui->edtLongName, ui->edtShortName,
                       ui->edtLongName2, ui->edtShortName2})
    connect(e, &QLineEdit::textChanged, this, onChange);
  for (QPlainTextEdit* e : {ui->edtDescription, ui->edtDescription2})
    connect(e, &QPlainTextEdit::textChanged, this, onChange);
  connect(ui->edtDate, &QDateEdit::dateChanged, this, onChange);
  connect(ui->cbxPrivate, &QCheckBox::toggled, this, onChange);
  for (QLineEdit* e : {ui->edtPath, ui->edtDirectory})
    connect(e, &QLineEdit::textChanged, this, [this] {
      if (!Loading()) applyEnableRules();
    });
}

TfrmAlbumDetail::~TfrmAlbumDetail() = default;

void TfrmAlbumDetail::SetPictureCount(int count) {
  ui->lblCount->setText(QString("There are %1 pictures in this album.").arg(count));
}

void TfrmAlbumDetail::SetFaceImage(const QImage& image) {
  ui->imgFace->SetImage(image);
}

void TfrmAlbumDetail::FirstShow() {
  {
    TLoadingGuard guard(*this);
    const TLumenfoldAlbum& a = Copy();
    ui->lblID->setText(QString::number(a.Id));
    const bool fine = a.Id == -1 || a.PathExists();
    ui->lblID->setStyleSheet(NoteStyleSheet(palette(), !fine));
    ui->edtPath->setText(a.Path);
    ui->edtDirectory->setText(a.Directory);
    ui->edtDate->setDate(a.AlbumDate.date());
    ui->edtLongName->setText(a.LongName);
    ui->edtShortName->setText(a.ShortName);
    ui->edtDescription->setPlainText(a.Description);
    ui->cbxPrivate->setChecked(a.IsPrivate);
    ui->edtLongName2->setText(a.LongName2);
    ui->edtShortName2->setText(a.ShortName2);
    ui->edtDescription2->setPlainText(a.Description2);
  }
  applyEnableRules();
  ui->edtDate->setFocus();
}

void TfrmAlbumDetail::writeAlbum() {
  if (Loading()) return;
  TLumenfoldAlbum& a = Copy();
  // The copy is detached from the project while it is written, so that editing it (and then
  // cancelling) never marks the real project modified; the caller marks it after OK.
  TLumenfoldProject* project = a.Project;
  a.Project = nullptr;
  try {
    a.SetPath(ui->edtPath->text());
    a.Directory = ui->edtDirectory->text();
    a.ShortName = ui->edtShortName->text();
    a.LongName = ui->edtLongName->text();
    a.Description = ui->edtDescription->toPlainText();
    a.ShortName2 = ui->edtShortName2->text();
    a.LongName2 = ui->edtLongName2->text();
    a.Description2 = ui->edtDescription2->toPlainText();
    a.IsPrivate = ui->cbxPrivate->isChecked();
    const QTime time = a.AlbumDate.isValid() ? a.AlbumDate.time() : QTime(0, 0);
    a.AlbumDate = QDateTime(ui->edtDate->date(), time);
  } catch (...) {
    // The copy keeps what was written before the error.
  }
  a.Project = project;
}

QString TfrmAlbumDetail::DirectoryLeft(const QString& directory) {
  if (!CanGoLeft(directory)) return directory;
  int i = 0;
  while (i < directory.size() && isSeparator(directory[i]))
    ++i; // leading separators
  while (i < directory.size() && !isSeparator(directory[i]))
    ++i; // the first component
  while (i < directory.size() && isSeparator(directory[i]))
    ++i; // the separators after it
  return directory.mid(i);
}

QString TfrmAlbumDetail::DirectoryRight(const QString& directory, const QString& path) {
  if (!CanGoRight(directory, path)) return directory;
  const QStringList parts = SplitPath(path);
  const int r = SplitPath(directory).size();
  const int p = parts.size();
  return parts[p - r - 1] + QDir::separator() + directory;
}

bool TfrmAlbumDetail::CanGoLeft(const QString& directory) {
  return SplitPath(directory).size() > 1;
}

bool TfrmAlbumDetail::CanGoRight(const QString& directory, const QString& path) {
  return SplitPath(directory).size() + 1 < SplitPath(path).size();
}

void TfrmAlbumDetail::applyEnableRules() {
  ui->bbnLeft->setEnabled(CanGoLeft(ui->edtDirectory->text()));
  ui->bbnRight->setEnabled(CanGoRight(ui->edtDirectory->text(), ui->edtPath->text()));
}

void TfrmAlbumDetail::left() {
  const QString dir = ui->edtDirectory->text();
  if (CanGoLeft(dir)) ui->edtDirectory->setText(DirectoryLeft(dir)); // writes the album
  applyEnableRules();
}

void TfrmAlbumDetail::right() {
  const QString dir = ui->edtDirectory->text();
  if (CanGoRight(dir, ui->edtPath->text()))
    ui->edtDirectory->setText(DirectoryRight(dir, ui->edtPath->text()));
  applyEnableRules();
}

void TfrmAlbumDetail::browse() {
  const QString path = ui->edtPath->text();
  QString start = PicturesFolder();
  if (!path.isEmpty() && QFileInfo(path).isDir())
    start = path;
  else if (!path.isEmpty() && QFileInfo(QFileInfo(path).absolutePath()).isDir())
    start = QFileInfo(path).absolutePath();
  const QString chosen = BrowseForFolder(this, "Select album path", start);
  if (chosen.isEmpty()) return;
  {
    // One write for both edits.
    TLoadingGuard guard(*this);
    ui->edtPath->setText(chosen);
    ui->edtDirectory->setText(LastPathComponent(chosen));
  }
  writeAlbum();
  applyEnableRules();
}
