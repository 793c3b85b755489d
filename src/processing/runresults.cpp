#include "processing/runresults.h"

#include "core/album.h"
#include "core/picture.h"
#include "db/sqlaccess.h"
#include "util/lumenfolderror.h"

TRunResults::TRunResults(QObject* parent) : QObject(parent) {
  // One connection made here, on the owner's thread, carries every hand-over.
  connect(this, &TRunResults::handedOver, this, &TRunResults::applyAll, Qt::QueuedConnection);
}

TRunResults::~TRunResults() = default;

QString TRunResults::HandOver(TLumenfoldPicture* picture, std::unique_ptr<TLumenfoldPicture> record,
                              bool save) {
  std::unique_lock lock(mutex_);
  queue_.push_back({picture, std::move(record), save});
  const quint64 mine = ++handedOver_;
  emit handedOver();
  applied_.wait(lock, [&] { return appliedCount_ >= mine; });
  return std::exchange(failure_, QString());
}

void TRunResults::applyAll() {
  std::vector<Update> updates;
  {
    std::lock_guard lock(mutex_);
    updates.swap(queue_);
  }
  for (const Update& update : updates) {
    QString failure;
    try {
      failure = apply(update);
    } catch (const std::exception& e) {
      failure = TextOf(e);
    }
    {
      std::lock_guard lock(mutex_);
      ++appliedCount_;
      if (!failure.isEmpty()) failure_ = failure;
    }
    applied_.notify_all();
  }
}

QString TRunResults::apply(const Update& update) {
  TLumenfoldPicture* p = update.Picture;
  const TLumenfoldPicture& r = *update.Record;
  p->OriginalHash = r.OriginalHash;
  p->OriginalSize = r.OriginalSize;
  p->OriginalDate = r.OriginalDate;
  p->OriginalWidth = r.OriginalWidth;
  p->OriginalHeight = r.OriginalHeight;
  p->LargeFileName = r.LargeFileName;
  p->MediumFileName = r.MediumFileName;
  p->ThumbFileName = r.ThumbFileName;
  p->LargeSize = r.LargeSize;
  p->MediumSize = r.MediumSize;
  p->ThumbSize = r.ThumbSize;
  if (!update.Save) return QString();
  p->SetDirty(true);
  p->SetModified(false);
  TLumenfoldAlbum* album = p->Album;
  // A failed statement has shown its box; its text ends the run with the database's own reason.
  ClearLastSqlError();
  bool ok = true;
  {
    TSqlTransaction transaction(CurrentConnectionString());
    if (album && album->Id == -1) {
      // The album's row first: it gives the album its id.
      album->Save();
      ok = album->Id != -1 && !album->Dirty;
    }
    if (ok && p->Dirty) ok = p->Save();
    ok = ok && !p->Dirty && transaction.Commit();
  }
  if (ok) return QString();
  const QString detail = LastSqlError();
  QString text = QStringLiteral("The picture \"%1\" could not be saved to the database.")
                     .arg(p->OriginalPath());
  if (!detail.isEmpty()) text += QLatin1Char(' ') + detail;
  return text;
}
