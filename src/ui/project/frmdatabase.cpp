#include "ui/project/frmdatabase.h"

#include "core/projectops.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "ui/common/filedialogs.h"
#include "ui/common/waitcursor.h"
#include "ui_frmdatabase.h"
#include "util/lumenfolderror.h"
#include "util/userprompt.h"

#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QStyledItemDelegate>

namespace {

const char* const kStatusUnknown = "Connection status: <unknown>";
const char* const kStatusConnected = "Connection status: CONNECTED.";
const char* const kStatusError = "Connection status: ERROR.";

// Rows of 15 pixels (more when the font needs it); the selected row on pale yellow in green;
// the file provider in bold.
class TProviderDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(qMax(15, QFontMetrics(option.font).height() + 4));
    return s;
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette& pal = option.palette;
    painter->save();
    painter->fillRect(option.rect, selected ? QColor(255, 255, 204) : pal.color(QPalette::Base));
    QFont font = option.font;
    const QString text = index.data().toString();
    font.setBold(text == QLatin1String(kSqliteProvider));
    painter->setFont(font);
    const QColor textColour = !option.state.testFlag(QStyle::State_Enabled)
                                  ? pal.color(QPalette::Disabled, QPalette::Text)
                              : selected ? QColor(51, 153, 102)
                                         : pal.color(QPalette::Text);
    painter->setPen(textColour);
    const int h = QFontMetrics(font).height();
    const QRect band(option.rect.left() + 4, option.rect.top() + 2, option.rect.width() - 4, h);
    painter->drawText(band, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
  }
};

} // namespace

TfrmDatabase::TfrmDatabase(QWidget* parent)
    : TPlacedDialog(parent, "frmDatabase", QSize(500, 390)),
      ui(std::make_unique<Ui::frmDatabase>()) {
  ui->setupUi(this);
  ui->lbxProvider->setItemDelegate(new TProviderDelegate(ui->lbxProvider));
  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->lbxProvider, &QListWidget::itemClicked, this, &TfrmDatabase::providerChosen);
  connect(ui->lbxProvider, &QListWidget::currentRowChanged, this, [this] {
    if (!updating_) providerChosen();
  });
  connect(ui->edtDB, &QLineEdit::textChanged, this, &TfrmDatabase::fileNameChanged);
  connect(ui->memConnectionString, &QPlainTextEdit::textChanged, this, &TfrmDatabase::memoChanged);
  connect(ui->bbnDB, &QPushButton::clicked, this, &TfrmDatabase::browseFile);
  connect(ui->bbnTestConnection, &QPushButton::clicked, this, [this] { TestConnectionNow(); });
}

TfrmDatabase::~TfrmDatabase() = default;

bool TfrmDatabase::Execute(QWidget* owner, QString& connectionString) {
  TfrmDatabase dialog(owner);
  dialog.SetConnectionString(connectionString);
  if (dialog.exec() != QDialog::Accepted) return false;
  connectionString = dialog.ConnectionString();
  return true;
}

void TfrmDatabase::SetConnectionString(const QString& connectionString) {
  connectionString_ = connectionString;
}

QString TfrmDatabase::ConnectionString() const {
  return ui->memConnectionString->toPlainText();
}

QStringList TfrmDatabase::OrderProviders(QStringList providers) {
  for (int i = 0; i < providers.size(); ++i)
    if (providers[i].compare(QLatin1String(kSqliteProvider), Qt::CaseInsensitive) == 0) {
      providers.swapItemsAt(0, i);
      break;
    }
  return providers;
}

void TfrmDatabase::FirstShow() {
  TWaitCursor wait;
  updating_ = true;
  ui->edtDB->setText(GetConnectionDataSource(connectionString_));
  ui->memConnectionString->setPlainText(connectionString_);
  const QStringList providers = OrderProviders(providersSet_ ? providers_ : AvailableProviders());
  ui->lbxProvider->clear();
  ui->lbxProvider->addItems(providers);
  if (!providers.isEmpty() &&
      providers.first().compare(QLatin1String(kSqliteProvider), Qt::CaseInsensitive) == 0)
    ui->lbxProvider->setCurrentRow(0);
  const QString own = GetConnectionProvider(connectionString_).trimmed();
  for (int i = 0; i < providers.size(); ++i)
    if (providers[i].compare(own, Qt::CaseInsensitive) == 0) ui->lbxProvider->setCurrentRow(i);
  updating_ = false;
  providerChosen();
}

QString TfrmDatabase::selectedProvider() const {
  const QListWidgetItem* item = ui->lbxProvider->currentItem();
  return item && item->isSelected() ? item->text() : QString();
}

void TfrmDatabase::providerChosen() {
  const QString provider = selectedProvider();
  if (!provider.isEmpty()) {
    // A string without a Provider part gets one, so that the choice is never lost.
    if (GetConnectionProvider(connectionString_).isEmpty() &&
        !connectionString_.contains(
            QRegularExpression("Provider\\s*=", QRegularExpression::CaseInsensitiveOption)))
      connectionString_ = "Provider=" + provider +
                          (connectionString_.trimmed().isEmpty() ? "" : ";" + connectionString_);
    else
      SetConnectionProvider(connectionString_, provider);
    if (IsFileProvider(provider) &&
        !connectionString_.contains(
            QRegularExpression("Data Source\\s*=", QRegularExpression::CaseInsensitiveOption)))
      connectionString_ += ";Data Source=" + ui->edtDB->text();
    showString();
  }
  applyEnableRules();
  setStatusUnknown();
}

void TfrmDatabase::fileNameChanged() {
  if (updating_) return;
  if (!connectionString_.contains(
          QRegularExpression("Data Source\\s*=", QRegularExpression::CaseInsensitiveOption))) {
    if (!connectionString_.isEmpty() && !connectionString_.endsWith(';')) connectionString_ += ';';
    connectionString_ += "Data Source=" + ui->edtDB->text();
  } else {
    SetConnectionDataSource(connectionString_, ui->edtDB->text());
  }
  showString();
  applyEnableRules();
  setStatusUnknown();
}

void TfrmDatabase::memoChanged() {
  if (updating_) return;
  connectionString_ = ui->memConnectionString->toPlainText();
  setStatusUnknown();
}

void TfrmDatabase::showString() {
  const bool was = updating_;
  updating_ = true;
  if (ui->memConnectionString->toPlainText() != connectionString_)
    ui->memConnectionString->setPlainText(connectionString_);
  updating_ = was;
}

void TfrmDatabase::applyEnableRules() {
  const bool file = selectedProvider() == QLatin1String(kSqliteProvider);
  ui->lblDB->setEnabled(file);
  ui->edtDB->setEnabled(file);
  ui->bbnDB->setEnabled(file);
}

void TfrmDatabase::setStatusUnknown() {
  ui->lblStatus->setText(kStatusUnknown);
  ui->lblStatus->setToolTip(QString());
}

void TfrmDatabase::browseFile() {
  ChooseNewProjectFile(ui->edtDB, "Select name for new Lumenfold database", "sqlite",
                       "SQLite Databases (*.sqlite;*.db)|*.sqlite;*.db|All files (*.*)|*.*");
}

bool TfrmDatabase::TestConnectionNow() {
  TWaitCursor wait;
  QString reason;
  try {
    reason = TestConnection(ui->memConnectionString->toPlainText());
  } catch (const std::exception& e) {
    reason = TextOf(e);
  } catch (...) {
    reason = "Unknown error";
  }
  const bool ok = reason.isEmpty();
  ui->lblStatus->setText(ok ? kStatusConnected : kStatusError);
  ui->lblStatus->setToolTip(reason);
  return ok;
}

void TfrmDatabase::done(int result) {
  if (result == QDialog::Accepted) {
    if (ui->edtDB->isEnabled() && !ui->edtDB->text().trimmed().isEmpty() &&
        !QFileInfo::exists(ui->edtDB->text()))
      CopyTemplateDatabase(ui->edtDB->text());
    if (!TestConnectionNow()) {
      Prompt()->error("Database connection failed");
      return;
    }
  }
  TPlacedDialog::done(result);
}
