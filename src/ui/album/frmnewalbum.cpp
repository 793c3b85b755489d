#include "ui/album/frmnewalbum.h"

#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renameops.h"
#include "core/syncops.h"
#include "processing/thumbnailthread.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/renamepreviewmodel.h"
#include "ui/common/filedialogs.h"
#include "ui/common/placeholderfields.h"
#include "ui/photolist/photolistview.h"
#include "ui/project/frmoptions.h"
#include "ui_frmnewalbum.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QDateEdit>
#include <QMenu>
#include <QPlainTextEdit>

TfrmNewAlbum::TfrmNewAlbum(QWidget* parent, TLumenfoldProject* project,
                           TLumenfoldAlbum* workingCopy, TEditors editors)
    : TPlacedDialog(parent, QStringLiteral("frmWizard"), QSize(570, 480)),
      ui(std::make_unique<Ui::frmWizard>()), project_(project), editors_(std::move(editors)),
      addMode_(workingCopy == nullptr), album_(workingCopy),
      preview_(new TRenamePreviewModel(this)), pmnMacro_(new QMenu(this)) {
  ui->setupUi(this);
  pmnMacro_->setObjectName(QStringLiteral("pmnMacro"));
  modifiedBefore_ = project_ && project_->Modified;
  if (addMode_) {
    owned_ = std::make_unique<TLumenfoldAlbum>(project);
    owned_->Loaded = false;
    album_ = owned_.get();
    baseCaption_ = QStringLiteral("Add album wizard.");
  } else {
    baseCaption_ = QStringLiteral("Edit album wizard.");
    // The pictures it has are the ones of its folder.
    importedFrom_ = album_->Path;
  }
  // Only the categories this run makes from keywords are taken away on Cancel.
  if (album_) album_->CategoriesMadeByImport.clear();
  ui->pagesWizard->setCurrentIndex(pgWelcome);
  SelectPlaceholdersOnEntry(ui->tbshAlbumDetail);

  // Enter presses Next and nothing else, whichever button has the focus.
  for (QPushButton* b : findChildren<QPushButton*>())
    b->setAutoDefault(false);
  ui->bbnNext->setAutoDefault(true);
  ui->bbnNext->setDefault(true);
  ui->memSkippedFiles->hide();
  // What the user types, ticks or clicks on a page makes Cancel ask first.
  for (QLineEdit* e : ui->pagesWizard->findChildren<QLineEdit*>())
    connect(e, &QLineEdit::textEdited, this, &TfrmNewAlbum::noteInput);
  for (QPlainTextEdit* e : ui->tbshAlbumDetail->findChildren<QPlainTextEdit*>())
    connect(e, &QPlainTextEdit::textChanged, this, [this] {
      if (!loading_) noteInput();
    });
  for (QAbstractButton* b : ui->pagesWizard->findChildren<QAbstractButton*>())
    connect(b, &QAbstractButton::clicked, this, &TfrmNewAlbum::noteInput);
  connect(ui->edtDate, &QDateEdit::dateChanged, this, [this] {
    if (!loading_) noteInput();
  });

  connect(ui->bbnNext, &QPushButton::clicked, this, &TfrmNewAlbum::next);
  connect(ui->bbnSkip, &QPushButton::clicked, this, &TfrmNewAlbum::skip);
  connect(ui->bbnPrev, &QPushButton::clicked, this, &TfrmNewAlbum::prev);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnHelp, &QPushButton::clicked, this, &TPlacedDialog::ShowHelp);
  connect(ui->bbnAdvanced, &QPushButton::clicked, this, [this] {
    // The options are project settings: a change must be saved with the project.
    if (project_ && TfrmOptions::Edit(this, *project_, true)) settingsChanged();
  });

  // Path page.
  connect(ui->edtOriginalPath, &QLineEdit::textEdited, this, &TfrmNewAlbum::originalPathEdited);
  connect(ui->bbnPath, &QPushButton::clicked, this, &TfrmNewAlbum::browsePath);
  connect(ui->bbnDirectory1, &QPushButton::clicked, this, &TfrmNewAlbum::directoryLeft);
  connect(ui->bbnDirectory2, &QPushButton::clicked, this, &TfrmNewAlbum::directoryRight);

  // Picture views.
  ui->lvwThumbs->SetActionButtons(6);
  ui->lvwThumbs->OnActionClick = [this](TphotoListView*, int number) { thumbAction(number); };
  connect(ui->lvwThumbs, &TphotoListView::ItemDoubleClicked, this,
          &TfrmNewAlbum::thumbDoubleClicked);
  // Previews dropped from memory are read again when their rows are drawn.
  for (TphotoListView* view :
       {ui->lvwThumbs, ui->lvwFace, ui->lvwSignature, ui->lvwCategory, ui->lvwSummary})
    connect(view, &TphotoListView::PreviewsWanted, this,
            [this, view](const QList<TLumenfoldPicture*>& pictures) {
              for (TLumenfoldPicture* p :
                   TThumbnailThread::LoadWanted(loader_, pictures, view->PreviewStep()))
                view->InvalidatePicture(p);
            });
  ui->lvwFace->SetMultiSelect(false);
  connect(ui->lvwFace, &TphotoListView::SelectionChanged, this, [this] {
    if (!loading_) faceSelected();
  });
  for (TphotoListView* v : {ui->lvwSignature, ui->lvwCategory})
    connect(v, &TphotoListView::SelectionChanged, this, [this] {
      if (!loading_) updateButtons();
    });

  // Rename page.
  ui->edtStart->setRange(0, 2000000000);
  TfrmRenaming::SetUpPreviewGrid(ui->dgdRename, preview_);
  ui->lblRenameProblems->hide();
  TfrmRenaming::AttachMacroMenu(ui->bbnMacro, ui->edtTemplate, pmnMacro_);
  connect(ui->cbxRename, &QCheckBox::toggled, this, &TfrmNewAlbum::renameChanged);
  connect(ui->edtTemplate, &QLineEdit::textChanged, this, &TfrmNewAlbum::renameChanged);
  connect(ui->edtStart, &QSpinBox::valueChanged, this, &TfrmNewAlbum::renameChanged);
  connect(ui->cbxSpecial, &QCheckBox::toggled, this, &TfrmNewAlbum::renameChanged);
  cases_ = TfrmRenaming::AttachCaseButtons(ui->rbnLowercase, ui->rbnUppercase, ui->rbnKeepCase,
                                           [this] { renameChanged(); });

  // Signature and category pages.
  connect(ui->bbnSign, &QPushButton::clicked, this, [this] { sign(false); });
  connect(ui->bbnSignAll, &QPushButton::clicked, this, [this] { sign(true); });
  connect(ui->bbnAssignCategory, &QPushButton::clicked, this, [this] { assignCategories(false); });
  connect(ui->bbnAssignCategoryAll, &QPushButton::clicked, this,
          [this] { assignCategories(true); });
}

void TfrmNewAlbum::settingsChanged() {
  settingsChanged_ = true;
  project_->Modified = true;
}

TfrmNewAlbum::~TfrmNewAlbum() {
  stopThumbnailLoader();
}

std::unique_ptr<TLumenfoldAlbum> TfrmNewAlbum::TakeAlbum() {
  return std::move(owned_);
}

TThumbnailThread* TfrmNewAlbum::ThumbnailLoader() const {
  return loader_.data();
}

int TfrmNewAlbum::PageIndex() const {
  return ui->pagesWizard->currentIndex();
}

void TfrmNewAlbum::FirstShow() {
  TfrmRenaming::FillMacroMenu(pmnMacro_, [this](int i) { insertMacro(i); });
  setCaption();
  updateButtons();
}

void TfrmNewAlbum::setCaption() {
  setWindowTitle(
      QStringLiteral("%1 Step %2 of %3.").arg(baseCaption_).arg(PageIndex() + 1).arg(int(pgCount)));
}

// --- Moving between pages ------------------------------------------------------------------

int TfrmNewAlbum::skipBit(int page) const {
  return page >= pgFace && page <= pgCategory ? 1 << page : 0;
}

bool TfrmNewAlbum::pageSkipped(int page) const {
  return project_ && skipBit(page) && !HasWizardPage(project_->WizardPages, page);
}

void TfrmNewAlbum::next() {
  if (!album_) return;
  const int page = PageIndex();
  storePage(page);
  if (!validatePage(page)) return;
  if (page == pgSummary) {
    done(QDialog::Accepted);
    return;
  }
  moveTo(page + 1, true);
}

void TfrmNewAlbum::skip() {
  if (!album_) return;
  const int page = PageIndex();
  storePage(page);
  if (page < pgSummary) moveTo(page + 1, true);
}

void TfrmNewAlbum::prev() {
  if (!album_) return;
  const int page = PageIndex();
  storePage(page);
  if (page > 0) moveTo(page - 1, false);
}

void TfrmNewAlbum::moveTo(int page, bool forward) {
  ui->pagesWizard->setCurrentIndex(page);
  ui->bbnNext->setText(page == pgSummary ? QStringLiteral("Close") : QStringLiteral("Next"));
  loadPage(page, forward);
  updateButtons();
}

void TfrmNewAlbum::storePage(int page) {
  if (!album_ || !project_) return;
  auto storeBit = [this](int p, bool skipNextTime) {
    const TWizardPages before = project_->WizardPages;
    if (skipNextTime)
      project_->WizardPages &= ~TWizardPages(skipBit(p));
    else
      project_->WizardPages |= TWizardPages(skipBit(p));
    if (project_->WizardPages != before) settingsChanged();
  };
  switch (page) {
  case pgPath: {
    const QString path = ui->edtOriginalPath->text().trimmed();
    if (!importedFrom_.isEmpty() && path != importedFrom_) dropPicturesOfOtherFolder();
    album_->SetPath(path);
    album_->Directory = ui->edtRelativeDirectory->text();
    if (addMode_) {
      album_->ReadFolderDate(path);
      album_->ShortName = ui->edtRelativeDirectory->text();
    }
    break;
  }
  case pgDetail: {
    // Paging through the details is no edit: only a changed field marks the album unsaved.
    const auto fields = [a = album_] {
      return std::make_tuple(a->Directory, a->ShortName, a->LongName, a->Description, a->ShortName2,
                             a->LongName2, a->Description2, a->IsPrivate, a->AlbumDate);
    };
    const auto before = fields();
    album_->SetPath(ui->edtPath->text().trimmed());
    album_->Directory = ui->edtDirectory->text();
    album_->ShortName = ui->edtShortName->text();
    album_->LongName = ui->edtLongName->text();
    album_->Description = ui->edtDescription->toPlainText();
    album_->ShortName2 = ui->edtShortName2->text();
    album_->LongName2 = ui->edtLongName2->text();
    album_->Description2 = ui->edtDescription2->toPlainText();
    album_->IsPrivate = ui->cbxPrivate->isChecked();
    const QTime time = album_->AlbumDate.isValid() ? album_->AlbumDate.time() : QTime(0, 0);
    album_->AlbumDate = QDateTime(ui->edtDate->date(), time);
    if (fields() != before) album_->SetDirty(true);
    break;
  }
  case pgFace:
    storeBit(pgFace, ui->cbxFaceSkip->isChecked());
    break;
  case pgRename:
    project_->RenameStart = ui->edtStart->value();
    project_->FileNameCase = TfrmRenaming::CaseChoice(cases_);
    project_->RenameTemplate = ui->edtTemplate->text();
    storeBit(pgRename, ui->cbxRenameSkip->isChecked());
    break;
  case pgSignature:
    storeBit(pgSignature, ui->cbxSignatureSkip->isChecked());
    break;
  case pgCategory:
    storeBit(pgCategory, ui->cbxCategorySkip->isChecked());
    break;
  case pgSummary:
    if (project_->ProcessAfterWizard != ui->cbxProcess->isChecked()) {
      project_->ProcessAfterWizard = ui->cbxProcess->isChecked();
      settingsChanged();
    }
    break;
  default:
    break;
  }
}

bool TfrmNewAlbum::validatePage(int page) {
  if (page == pgPath) {
    const QString problem = pathProblem();
    if (!problem.isEmpty()) {
      Prompt()->warning(problem);
      return false;
    }
    // Two pictures whose images would be one file are refused before anything is imported.
    const bool importsAll = addMode_ && album_->Pictures.Count() == 0;
    if (importsAll || !addMode_) {
      const QString clash = album_->ImportProblem(album_->Path, !importsAll);
      if (!clash.isEmpty()) {
        Prompt()->error(clash);
        return false;
      }
    }
  }
  if (page != pgRename || !project_) return true;
  const TRenamePlan plan =
      PlanAlbumRename(*album_, RenameSettingsOf(*project_, ui->cbxSpecial->isChecked()));
  if (plan.Duplicates) {
    Prompt()->error(DuplicateNamesMessage());
    return false;
  }
  // Other problems matter only when the pictures are going to be renamed.
  if (ui->cbxRename->isChecked() && !plan.Ok()) {
    Prompt()->error(QStringLiteral("The pictures cannot be renamed so:\n") +
                    plan.Problems.join(QLatin1Char('\n')));
    return false;
  }
  return true;
}

void TfrmNewAlbum::loadPage(int page, bool forward) {
  setCaption();
  loading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{loading_};
  auto passOn = [&](QCheckBox* box) {
    box->setChecked(pageSkipped(page));
    if (box->isChecked() && forward) {
      loading_ = false;
      next();
      return true;
    }
    return false;
  };

  switch (page) {
  case pgPath: {
    QString path = album_->Path, directory = album_->Directory;
    if (path.isEmpty() && !initialFolder_.isEmpty()) {
      path = initialFolder_;
      directory = LastPathComponent(path);
    } else if (path.isEmpty() && project_ && project_->Albums.Count() > 0) {
      path = project_->Albums.Albums(0)->Path;
      directory = project_->Albums.Albums(0)->Directory;
    }
    ui->edtOriginalPath->setText(path);
    ui->edtRelativeDirectory->setText(directory);
    break;
  }
  case pgDetail:
    ui->edtPath->setText(album_->Path);
    ui->edtDirectory->setText(album_->Directory);
    ui->edtDate->setDate(album_->AlbumDate.date());
    ui->edtShortName->setText(album_->ShortName);
    ui->edtLongName->setText(album_->LongName);
    ui->edtDescription->setPlainText(album_->Description);
    ui->edtShortName2->setText(album_->ShortName2);
    ui->edtLongName2->setText(album_->LongName2);
    ui->edtDescription2->setPlainText(album_->Description2);
    ui->cbxPrivate->setChecked(album_->IsPrivate);
    break;
  case pgPictures:
    importPictures();
    break;
  case pgFace: {
    fillView(ui->lvwFace);
    if (passOn(ui->cbxFaceSkip)) return;
    loading_ = false;
    if (TLumenfoldPicture* face = album_->GetFacePicture()) {
      const int row = ui->lvwFace->IndexOfPicture(face);
      if (row >= 0) {
        ui->lvwFace->SetSelected(row, true);
        ui->lvwFace->SetItemIndex(row);
      }
    } else if (ui->lvwFace->Count() > 0) {
      // An album needs a face: the first picture is taken until the user clicks another.
      preselecting_ = true;
      ui->lvwFace->SetSelected(0, true);
      ui->lvwFace->SetItemIndex(0);
      preselecting_ = false;
    }
    break;
  }
  case pgRename: {
    ui->edtStart->setValue(project_ ? qBound(0, project_->RenameStart, 2000000000) : 1);
    TfrmRenaming::SetCaseChoice(cases_, project_ ? project_->FileNameCase : kFileNameCaseLower);
    ui->edtTemplate->setText(project_ ? project_->RenameTemplate : QString());
    preview_->SetAlbum(album_);
    loading_ = false;
    renameChanged();
    TfrmRenaming::FitPreviewColumns(ui->dgdRename);
    loading_ = true;
    if (passOn(ui->cbxRenameSkip)) return;
    break;
  }
  case pgSignature:
    fillView(ui->lvwSignature);
    if (passOn(ui->cbxSignatureSkip)) return;
    break;
  case pgCategory:
    fillView(ui->lvwCategory);
    if (passOn(ui->cbxCategorySkip)) return;
    break;
  case pgSummary:
    fillView(ui->lvwSummary);
    ui->cbxProcess->setChecked(project_ && project_->ProcessAfterWizard);
    break;
  default:
    break;
  }
}

void TfrmNewAlbum::updateButtons() {
  if (!album_) return;
  const int page = PageIndex();
  bool nextOn = true;
  switch (page) {
  case pgPath:
    nextOn = !ui->edtOriginalPath->text().trimmed().isEmpty() &&
             !ui->edtRelativeDirectory->text().trimmed().isEmpty() && pathProblem().isEmpty();
    ui->lblPathProblem->setText(ui->edtOriginalPath->text().trimmed().isEmpty() ? QString()
                                                                                : pathProblem());
    break;
  case pgFace:
    nextOn = album_->GetFacePicture() != nullptr;
    break;
  default:
    // Renaming, signatures and categories may be left as they are: Next goes on.
    break;
  }
  ui->bbnPrev->setEnabled(page > 0);
  ui->bbnNext->setEnabled(nextOn);
  ui->bbnSkip->setEnabled(skipBit(page) != 0);

  const bool loading = addMode_ && !album_->Loaded;
  ui->lblTempProcess->setVisible(loading);
  ui->pbrThumbnails->setVisible(loading);
  const bool renaming = ui->cbxRename->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(ui->edtStart), static_cast<QWidget*>(ui->gbxFilenames),
                     static_cast<QWidget*>(ui->edtTemplate), static_cast<QWidget*>(ui->bbnMacro),
                     static_cast<QWidget*>(ui->cbxSpecial), static_cast<QWidget*>(ui->dgdRename)})
    w->setEnabled(renaming);
  // Without a chooser (a wizard opened outside the main window) there is nothing to assign with.
  const bool signing = bool(editors_.Signature), assigning = bool(editors_.Category);
  ui->bbnSign->setEnabled(signing && ui->lvwSignature->SelectedCount() > 0);
  ui->bbnSignAll->setEnabled(signing && ui->lvwSignature->Count() > 0);
  ui->bbnAssignCategory->setEnabled(assigning && ui->lvwCategory->SelectedCount() > 0);
  ui->bbnAssignCategoryAll->setEnabled(assigning && ui->lvwCategory->Count() > 0);
}

void TfrmNewAlbum::done(int result) {
  if (result == QDialog::Accepted && album_ && project_ && ui->cbxRename->isChecked()) {
    // Checked again: files of the folder may have changed since the rename page.
    const TRenamePlan plan =
        PlanAlbumRename(*album_, RenameSettingsOf(*project_, ui->cbxSpecial->isChecked()));
    if (!plan.Ok()) {
      Prompt()->error(plan.Duplicates ? DuplicateNamesMessage()
                                      : QStringLiteral("The pictures cannot be renamed so:\n") +
                                            plan.Problems.join(QLatin1Char('\n')));
      return;
    }
    stopThumbnailLoader();
    // A stored album is saved by the rename, so the database never names files that are gone.
    const TRenameResult renamed = ApplyRename(*album_, plan);
    if (!renamed.Ok())
      Prompt()->error(renamed.Summary());
    else if (!renamed.Skipped.isEmpty())
      Prompt()->warning(renamed.Summary());
  }
  stopThumbnailLoader();
  // A photo folder is left as the wizard found it, except the album's own folder after OK.
  removeOwnPreviewFolders(result == QDialog::Accepted && album_ ? album_->Path : QString());
  if (album_ && result == QDialog::Accepted) {
    // What the loader found out (changed originals, sizes) is kept; finding it is no edit.
    for (int i = 0; i < album_->Pictures.Count(); ++i) {
      TLumenfoldPicture* p = album_->Pictures.Pictures(i);
      if (p->Modified && !p->Dirty) RecordOriginalFacts(*p);
    }
  }
  // A cancelled wizard leaves the project as it found it, except for the settings changed here
  // (options, renaming, pages to skip), which stay and must be saved.
  if (result != QDialog::Accepted && project_) {
    removeCategoriesMadeByImport();
    project_->Modified = modifiedBefore_ || settingsChanged_;
  }
  if (album_) album_->CategoriesMadeByImport.clear();
  if (addMode_ && result != QDialog::Accepted) {
    // The views refer to the album's pictures: empty them before it goes.
    for (TphotoListView* v :
         {ui->lvwThumbs, ui->lvwFace, ui->lvwSignature, ui->lvwCategory, ui->lvwSummary})
      v->Clear();
    preview_->SetAlbum(nullptr);
    owned_.reset();
    album_ = nullptr;
  }
  TPlacedDialog::done(result);
}

void TfrmNewAlbum::removeCategoriesMadeByImport() {
  if (!album_ || album_->CategoriesMadeByImport.isEmpty()) return;
  // The project's list without them: the edit deletes their rows and every link to them.
  TLumenfoldCategoryList kept;
  kept.Assign(project_->Categories);
  for (int id : std::as_const(album_->CategoriesMadeByImport))
    if (const int index = kept.IndexOfId(id); index >= 0) kept.Delete(index);
  ApplyCategoryEdits(*project_, kept);
}

void TfrmNewAlbum::reject() {
  if (input_ && !Prompt()->confirm(addMode_ ? QStringLiteral("Cancel adding the album? What you "
                                                             "entered in the wizard is lost.")
                                            : QStringLiteral("Cancel editing the album? The "
                                                             "changes made in the wizard are "
                                                             "lost.")))
    return;
  TPlacedDialog::reject();
}

void TfrmNewAlbum::noteInput() {
  input_ = true;
}
