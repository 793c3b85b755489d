#include "ui/mainwindow/startpage.h"

#include "ui/common/uiresources.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kFileRole = Qt::UserRole + 1;

QPushButton* bigButton(QWidget* parent, const QString& objectName, const QString& text,
                       const QString& icon) {
  auto* b = new QPushButton(UiIcon(icon), text, parent);
  b->setObjectName(objectName);
  b->setIconSize(QSize(48, 48));
  b->setMinimumSize(220, 96);
  QFont f = b->font();
  f.setPointSizeF(f.pointSizeF() * 1.3);
  b->setFont(f);
  return b;
}

QLabel* heading(QWidget* parent, const QString& text) {
  auto* l = new QLabel(text, parent);
  QFont f = l->font();
  f.setPointSizeF(f.pointSizeF() * 1.6);
  f.setBold(true);
  l->setFont(f);
  l->setAlignment(Qt::AlignHCenter);
  return l;
}

} // namespace

QList<TRecentEntry> RecentMenuEntries(const QStringList& recent) {
  QList<TRecentEntry> out;
  for (const QString& name : recent) {
    if (out.size() == kRecentMenuSize) break;
    if (name.trimmed().isEmpty()) continue;
    out.append({name, QFileInfo(name).isFile()});
  }
  return out;
}

TStartPage::TStartPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pnlStart"));
  auto* lay = new QVBoxLayout(this);
  lay->addStretch(1);
  lay->addWidget(heading(this, QStringLiteral("Welcome to LumenFold")));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  QPushButton* newButton = bigButton(this, QStringLiteral("btnStartNew"),
                                     QStringLiteral("New project"), QStringLiteral("new"));
  QPushButton* openButton = bigButton(this, QStringLiteral("btnStartOpen"),
                                      QStringLiteral("Open project"), QStringLiteral("open"));
  buttons->addWidget(newButton);
  buttons->addSpacing(24);
  buttons->addWidget(openButton);
  buttons->addStretch(1);
  lay->addSpacing(16);
  lay->addLayout(buttons);
  lay->addSpacing(24);
  auto* recentTitle = new QLabel(QStringLiteral("Recent projects"), this);
  recentTitle->setAlignment(Qt::AlignHCenter);
  lay->addWidget(recentTitle);
  recent_ = new QListWidget(this);
  recent_->setObjectName(QStringLiteral("lbxStartRecent"));
  recent_->setMaximumWidth(640);
  recent_->setMinimumHeight(120);
  auto* centred = new QHBoxLayout;
  centred->addStretch(1);
  centred->addWidget(recent_, 4);
  centred->addStretch(1);
  lay->addLayout(centred, 1);
  lay->addStretch(1);

  connect(newButton, &QPushButton::clicked, this, &TStartPage::NewRequested);
  connect(openButton, &QPushButton::clicked, this, &TStartPage::OpenRequested);
  connect(recent_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    if (item && (item->flags() & Qt::ItemIsEnabled))
      emit RecentChosen(item->data(kFileRole).toString());
  });
}

void TStartPage::SetRecentProjects(const QStringList& recent) {
  recent_->clear();
  for (const TRecentEntry& e : RecentMenuEntries(recent)) {
    auto* item = new QListWidgetItem(
        e.exists ? e.fileName : e.fileName + QStringLiteral("  (file not found)"), recent_);
    item->setData(kFileRole, e.fileName);
    item->setToolTip(e.fileName);
    if (!e.exists) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
  }
  if (recent_->count() == 0)
    new QListWidgetItem(QStringLiteral("No recent projects yet."), recent_);
}

TEmptyProjectPage::TEmptyProjectPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pnlEmptyProject"));
  auto* lay = new QVBoxLayout(this);
  lay->addStretch(1);
  lay->addWidget(heading(this, QStringLiteral("This project has no albums yet")));
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  QPushButton* add =
      bigButton(this, QStringLiteral("btnAddFirstAlbum"),
                QStringLiteral("Add an album from a folder"), QStringLiteral("addalbum"));
  row->addWidget(add);
  row->addStretch(1);
  lay->addSpacing(16);
  lay->addLayout(row);
  auto* hint = new QLabel(
      QStringLiteral(
          "or drop a folder of photos onto this window: the album wizard opens with it."),
      this);
  hint->setAlignment(Qt::AlignHCenter);
  hint->setWordWrap(true);
  lay->addWidget(hint);
  lay->addStretch(2);
  connect(add, &QPushButton::clicked, this, &TEmptyProjectPage::AddAlbumRequested);
}
