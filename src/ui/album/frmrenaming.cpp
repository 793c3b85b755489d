#include "ui/album/frmrenaming.h"

#include "core/album.h"
#include "core/project.h"
#include "core/renaming.h"
#include "ui/album/renamepreviewmodel.h"
#include "ui_frmrenaming.h"
#include "util/userprompt.h"

#include <QButtonGroup>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

TfrmRenaming::TfrmRenaming(QWidget* parent, TLumenfoldProject* project, TLumenfoldAlbum* album)
    : TPlacedDialog(parent, QStringLiteral("frmRenaming"), QSize(480, 340)),
      ui(std::make_unique<Ui::frmRenaming>()), project_(project), album_(album),
      preview_(new TRenamePreviewModel(this)), pmnMacro_(new QMenu(this)) {
  ui->setupUi(this);
  pmnMacro_->setObjectName(QStringLiteral("pmnMacro"));
  ui->edtStart->setRange(0, 2000000000);
  SetUpPreviewGrid(ui->dgdRename, preview_);
  ui->cbxRename->setChecked(true);
  ui->cbxRename->setEnabled(false);
  ui->cbxRename->hide();
  ui->lblRenameProblems->hide();

  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  AttachMacroMenu(ui->bbnMacro, ui->edtTemplate, pmnMacro_);
  connect(ui->edtStart, &QSpinBox::valueChanged, this, &TfrmRenaming::changed);
  connect(ui->edtTemplate, &QLineEdit::textChanged, this, &TfrmRenaming::changed);
  connect(ui->cbxSpecial, &QCheckBox::toggled, this, &TfrmRenaming::changed);
  connect(ui->cbxRename, &QCheckBox::toggled, this, &TfrmRenaming::changed);
  cases_ =
      AttachCaseButtons(ui->rbnLowercase, ui->rbnUppercase, ui->rbnKeepCase, [this] { changed(); });
}

TfrmRenaming::~TfrmRenaming() = default;

void TfrmRenaming::FillMacroMenu(QMenu* menu, const std::function<void(int)>& insert) {
  menu->clear();
  for (int i = 0; i < kRenameMacroCount; ++i) {
    QAction* a = menu->addAction(QString::fromLatin1(RenameMacroLabels[i]));
    a->setData(i);
    QObject::connect(a, &QAction::triggered, menu, [insert, i] { insert(i); });
  }
}

QString TfrmRenaming::InsertMacroKey(const QString& templ, int macro) {
  if (macro < 0 || macro >= kRenameMacroCount) return templ;
  QString base, extension;
  SplitExtension(templ, base, extension);
  return base + QString::fromLatin1(RenameMacroKeys[macro]) + extension;
}

void TfrmRenaming::FirstShow() {
  loading_ = true;
  FillMacroMenu(pmnMacro_, [this](int i) { insertMacro(i); });
  ui->cbxRename->setChecked(true);
  ui->edtStart->setValue(project_ ? qBound(0, project_->RenameStart, 2000000000) : 1);
  SetCaseChoice(cases_, project_ ? project_->FileNameCase : kFileNameCaseLower);
  ui->edtTemplate->setText(project_ ? project_->RenameTemplate : QString());
  preview_->SetAlbum(album_);
  loading_ = false;
  changed();
  FitPreviewColumns(ui->dgdRename);
}

TRenameSettings TfrmRenaming::Settings() const {
  TRenameSettings s;
  s.Template = ui->edtTemplate->text();
  s.Start = ui->edtStart->value();
  s.FileNameCase = CaseChoice(cases_);
  s.ReplaceSpecialChars = ui->cbxSpecial->isChecked();
  return s;
}

TRenamePlan TfrmRenaming::Plan() const {
  return album_ ? PlanAlbumRename(*album_, Settings()) : TRenamePlan();
}

void TfrmRenaming::changed() {
  if (loading_) return;
  const TRenameSettings s = Settings();
  if (project_ && (project_->RenameStart != s.Start || project_->FileNameCase != s.FileNameCase ||
                   project_->RenameTemplate != s.Template)) {
    project_->RenameStart = s.Start;
    project_->FileNameCase = s.FileNameCase;
    project_->RenameTemplate = s.Template;
    project_->Modified = true;
  }
  const bool on = ui->cbxRename->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(ui->edtStart), static_cast<QWidget*>(ui->gbxFilenames),
                     static_cast<QWidget*>(ui->edtTemplate), static_cast<QWidget*>(ui->dgdRename)})
    w->setEnabled(on);
  preview_->SetSettings(s, on);
  // The check is shown while typing, so OK is never a surprise.
  const TRenamePlan plan = Plan();
  preview_->SetRefused(RefusedPositions(plan));
  ui->lblRenameProblems->setVisible(!plan.Ok());
  ui->lblRenameProblems->setText(plan.Problems.mid(0, 3).join(QLatin1Char('\n')));
  ui->bbnOk->setEnabled(true);
}

void TfrmRenaming::insertMacro(int macro) {
  ui->edtTemplate->setText(InsertMacroKey(ui->edtTemplate->text(), macro));
}

void TfrmRenaming::SetUpPreviewGrid(QTableView* grid, QAbstractItemModel* model) {
  grid->setModel(model);
  grid->verticalHeader()->setDefaultSectionSize(18);
  grid->verticalHeader()->hide();
  // The scroll bar takes its width from the viewport only after its range has changed.
  QObject::connect(grid->verticalScrollBar(), &QScrollBar::rangeChanged, grid,
                   [grid] { QTimer::singleShot(0, grid, [grid] { FitPreviewColumns(grid); }); });
}

void TfrmRenaming::FitPreviewColumns(QTableView* grid) {
  const int half = grid->viewport()->width() / 2;
  grid->setColumnWidth(0, half);
  grid->setColumnWidth(1, half);
}

void TfrmRenaming::resizeEvent(QResizeEvent* event) {
  TPlacedDialog::resizeEvent(event);
  FitPreviewColumns(ui->dgdRename);
}

void TfrmRenaming::done(int result) {
  if (result == QDialog::Accepted) {
    const TRenamePlan plan = Plan();
    if (plan.Duplicates) {
      Prompt()->error(DuplicateNamesMessage());
      return;
    }
    if (!plan.Ok()) {
      Prompt()->error(QStringLiteral("The pictures cannot be renamed so:\n") +
                      plan.Problems.join(QLatin1Char('\n')));
      return;
    }
  }
  TPlacedDialog::done(result);
}

QButtonGroup* TfrmRenaming::AttachCaseButtons(QRadioButton* lower, QRadioButton* upper,
                                              QRadioButton* keep,
                                              const std::function<void()>& changed) {
  auto* group = new QButtonGroup(lower->parent());
  group->setObjectName(QStringLiteral("grpFileNameCase"));
  group->addButton(lower, kFileNameCaseLower);
  group->addButton(upper, kFileNameCaseUpper);
  group->addButton(keep, kFileNameCaseKeep);
  QObject::connect(group, &QButtonGroup::idToggled, group, [changed](int, bool on) {
    if (on && changed) changed();
  });
  return group;
}

void TfrmRenaming::SetCaseChoice(QButtonGroup* group, int fileNameCase) {
  QAbstractButton* button = group->button(fileNameCase);
  if (!button) button = group->button(kFileNameCaseLower);
  if (button) button->setChecked(true);
}

int TfrmRenaming::CaseChoice(const QButtonGroup* group) {
  const int id = group->checkedId();
  return id >= 0 ? id : kFileNameCaseLower;
}

void TfrmRenaming::AttachMacroMenu(QPushButton* button, QLineEdit* edit, QMenu* menu) {
  QObject::connect(button, &QPushButton::clicked, menu, [button, menu] {
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
  });
  edit->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(edit, &QWidget::customContextMenuRequested, menu,
                   [edit, menu](const QPoint& at) { menu->popup(edit->mapToGlobal(at)); });
}
