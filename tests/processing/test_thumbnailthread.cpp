// The background loader of list previews: making, reusing and remaking previews, the rows it
// writes, its messages, pausing and ending.
#include "core/album.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "processing/viewerimage.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/helpers.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/messages.h"
#include "util/tracer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <zlib.h>

namespace {

// Records the LF_MSG_THUMBNAIL messages a window would receive.
class MessageSink : public QObject {
public:
  bool event(QEvent* e) override {
    if (TMessageEvent::Is(e, LF_MSG_THUMBNAIL)) {
      const auto* m = static_cast<TMessageEvent*>(e);
      positions << int(m->First);
      pictures << reinterpret_cast<TLumenfoldPicture*>(m->Second);
      return true;
    }
    return QObject::event(e);
  }
  QList<int> positions;
  QList<TLumenfoldPicture*> pictures;
};

QList<int> sorted(QList<int> list) {
  std::sort(list.begin(), list.end());
  return list;
}

int PictureRows(const QString& cs) {
  TQuery q;
  if (OpenQuery(cs, "SELECT COUNT(*) FROM picture", q) != 0) return -1;
  const int n = q->FirstAsInteger();
  CloseQuery(q);
  return n;
}

} // namespace

class TestThumbnailThread : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  QString cs;
  QString folder;
  std::unique_ptr<TLumenfoldProject> project;
  TLumenfoldAlbum* album = nullptr;
  MessageSink owner, view;

  // Runs a loader over the album to its end; the finished loader is returned for its counters.
  std::unique_ptr<TThumbnailThread> runLoader(bool writeRows = true) {
    owner.positions.clear();
    view.positions.clear();
    owner.pictures.clear();
    view.pictures.clear();
    auto loader = std::make_unique<TThumbnailThread>(album, &owner, &view);
    loader->FreeOnEnd = false;
    loader->WriteRows = writeRows;
    QSignalSpy done(loader.get(), &TThumbnailThread::Done);
    loader->start();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000); }();
    loader->wait();
    QCoreApplication::processEvents(); // deliver the last forwarded messages
    return loader;
  }

  TLumenfoldPicture* picture(int i) { return album->Pictures.Pictures(i); }
  QString previewOf(int i) { return picture(i)->TempThumbPath(); }

private slots:
  void init() {
    cs = env.useNewDatabase();
    prompt.clear();
    static int n = 0;
    folder = env.makeFolder(QStringLiteral("Album%1").arg(++n));
    QVERIFY(WriteTestJpeg(folder + "/IMG_0001.JPG", 640, 480));
    QVERIFY(WriteTestJpeg(folder + "/Img_0002.jpg", 480, 640));
    QVERIFY(WriteTestJpeg(folder + "/img_0003.jpeg", 1600, 1200));
    project = std::make_unique<TLumenfoldProject>();
    project->Reset();
    project->ConnectionString = cs;
    album = new TLumenfoldAlbum(project.get());
    album->Path = folder;
    project->Albums.Add(QString(), album);
    QVERIFY(album->ImportFolder(folder));
    QCOMPARE(album->Pictures.Count(), 3);
    album->Id = 1; // as if the album's own row existed: its pictures may be saved on their own
    album->AttachPictures();
  }

  void cleanup() {
    if (album) album->Pictures.ClearThumbnails();
    project.reset();
    album = nullptr;
  }

  void newAlbumGetsLowerCasePreviewsAndIsMarkedModified() {
    picture(1)->Dirty = false; // as if its row were up to date
    auto loader = runLoader(true);
    QVERIFY(loader->Completed());
    QCOMPARE(loader->DecodedCount(), 3);
    QCOMPARE(loader->ReusedCount(), 0);
    QVERIFY(prompt.errors().isEmpty());

    const QStringList files = QDir(folder + "/ps_tmp").entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, QStringList({"tmp_img_0001.jpg", "tmp_img_0002.jpg", "tmp_img_0003.jpeg"}));
    const QSize sizes[] = {{640, 480}, {480, 640}, {1600, 1200}};
    const QSize previews[] = {{160, 120}, {90, 120}, {160, 120}};
    for (int i = 0; i < 3; ++i) {
      TLumenfoldPicture* p = picture(i);
      QVERIFY(p->Modified);
      QCOMPARE(QSize(p->OriginalWidth, p->OriginalHeight), sizes[i]);
      QCOMPARE(p->OriginalHash.size(), 8);
      // The facts read with the decode are those every other check of the original records.
      QCOMPARE(p->OriginalHash, GetFileHash(p->OriginalPath()));
      QCOMPARE(p->OriginalDate, FileDosDateTime(p->OriginalPath()));
      QCOMPARE(p->OriginalSize, GetFileSizeBytes(p->OriginalPath()));
      QVERIFY(p->Thumbnail());
      QCOMPARE(p->Thumbnail()->size(), previews[i]);
      QCOMPARE(ReadJpegSize(previewOf(i)), previews[i]);
    }
    // Both windows hear of every picture (in the order the workers finish), with the picture.
    QCOMPARE(sorted(view.positions), QList<int>({0, 1, 2}));
    QCOMPARE(sorted(owner.positions), QList<int>({0, 1, 2}));
    QCOMPARE(view.pictures.at(view.positions.indexOf(2)), picture(2));

    // Rows were written for the two unsaved pictures only.
    QVERIFY(picture(0)->Id != -1);
    QCOMPARE(picture(1)->Id, -1);
    QVERIFY(picture(2)->Id != -1);
    QVERIFY(!picture(0)->Dirty);
    QCOMPARE(PictureRows(cs), 2);
  }

  void rowsAreNotWrittenWhenRowWritingIsOff() {
    auto loader = runLoader(false);
    QVERIFY(loader->Completed());
    QCOMPARE(PictureRows(cs), 0);
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(picture(i)->Id, -1);
      QVERIFY(picture(i)->Dirty);
      QVERIFY(picture(i)->Modified);
    }
  }

  void secondVisitReusesEveryPreviewWithoutDecoding() {
    runLoader(false);
    const QDateTime made = QFileInfo(previewOf(0)).lastModified();
    for (int i = 0; i < 3; ++i)
      picture(i)->Modified = false;
    picture(1)->SetThumbnail(nullptr); // the only one without a bitmap

    auto loader = runLoader(false);
    QCOMPARE(loader->DecodedCount(), 0);
    QCOMPARE(loader->ReusedCount(), 1);
    QCOMPARE(view.positions, QList<int>({1}));
    QVERIFY(picture(1)->Thumbnail());
    for (int i = 0; i < 3; ++i)
      QVERIFY(!picture(i)->Modified);
    QCOMPARE(QFileInfo(previewOf(0)).lastModified(), made);

    // A fresh album object over the same folder and recorded facts (a later program run).
    auto* again = new TLumenfoldAlbum(project.get());
    again->Path = folder;
    project->Albums.Add(QString(), again);
    for (int i = 0; i < 3; ++i) {
      auto* p = new TLumenfoldPicture(again);
      p->Assign(*picture(i));
      p->Album = again;
      p->SetThumbnail(nullptr);
      again->Pictures.Add(QString(), p);
    }
    album->Pictures.ClearThumbnails();
    album = again;
    loader = runLoader(false);
    QCOMPARE(loader->DecodedCount(), 0);
    QCOMPARE(loader->ReusedCount(), 3);
    QCOMPARE(sorted(view.positions), QList<int>({0, 1, 2}));
    for (int i = 0; i < 3; ++i)
      QVERIFY(picture(i)->Thumbnail());
  }

  void touchedOriginalOrDamagedPreviewIsRemade() {
    runLoader(false);
    for (int i = 0; i < 3; ++i)
      picture(i)->Modified = false;

    // Same content, new date.
    QFile original(picture(0)->OriginalPath());
    QVERIFY(original.open(QIODevice::ReadWrite));
    QVERIFY(original.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                 QFileDevice::FileModificationTime));
    original.close();
    // A preview cut down to 100 bytes counts as missing.
    QFile preview(previewOf(2));
    QVERIFY(preview.resize(100));

    for (int i = 0; i < 3; ++i)
      picture(i)->SetThumbnail(nullptr);

    auto loader = runLoader(false);
    QCOMPARE(loader->DecodedCount(), 2);
    QCOMPARE(loader->ReusedCount(), 1);
    QVERIFY(picture(0)->Modified);
    QVERIFY(!picture(1)->Modified);
    QVERIFY(picture(2)->Modified);
    QVERIFY(QFileInfo(previewOf(2)).size() > 149);
    QCOMPARE(ReadJpegSize(previewOf(2)), QSize(160, 120));
  }

  void viewerImageIsDecodedNearItsBoxAndTurned() {
    // The large viewer decodes at the smallest eighth of the codec that still covers the
    // picture fitted into its box, turns the picture (a quarter turn swaps the box's sides for
    // the decode), reduces it once to the box, never enlarges, and names a file it cannot show.
    const QString wide = env.path(QStringLiteral("viewer.jpg"));
    const QString tall = env.path(QStringLiteral("tall.jpg"));
    QVERIFY(WriteTestJpeg(wide, 1600, 1200));
    QVERIFY(WriteTestJpeg(tall, 1200, 1600));
    struct Case {
      QString path;
      QSize box;
      int orientation;
      int eighths;
      QSize expected;
    };
    for (const Case& c : {
             Case{wide, {400, 300}, 1, 2, {400, 300}},     // exactly 2/8
             Case{wide, {401, 301}, 1, 3, {401, 301}},     // one pixel more: 3/8, reduced
             Case{wide, {500, 500}, 1, 3, {500, 375}},     // the width decides
             Case{wide, {1400, 1050}, 1, 7, {1400, 1050}}, // exactly 7/8
             Case{wide, {1599, 1199}, 1, 8, {1598, 1199}}, // one pixel less than the picture
             Case{wide, {4000, 3000}, 1, 8, {1600, 1200}}, // never enlarged
             Case{wide, {300, 400}, 2, 2, {300, 400}},     // turned: sides swap, exactly 2/8
             Case{wide, {400, 300}, 2, 2, {225, 300}},     // turned into a landscape box
             Case{wide, {301, 401}, -2, 3, {300, 401}},    // turned and mirrored, one more
             Case{tall, {300, 400}, 1, 2, {300, 400}},     // portrait stored as such
             Case{tall, {400, 300}, 1, 2, {225, 300}},     // the height decides
             Case{tall, {400, 300}, 4, 2, {400, 300}},     // turned back to a landscape
         }) {
      const TViewerImage image = LoadViewerImage(c.path, c.box, c.orientation);
      const QString what = QStringLiteral("%1 in %2 x %3, orientation %4")
                               .arg(QFileInfo(c.path).fileName())
                               .arg(c.box.width())
                               .arg(c.box.height())
                               .arg(c.orientation);
      QVERIFY2(image.Problem.isEmpty(), qPrintable(image.Problem));
      QVERIFY2(image.Eighths == c.eighths, qPrintable(what));
      QVERIFY2(image.Bitmap.size() == c.expected, qPrintable(what));
      QCOMPARE(image.FullSize,
               QFileInfo(c.path).fileName() == "tall.jpg" ? QSize(1200, 1600) : QSize(1600, 1200));
    }
    writeBytes(env.path(QStringLiteral("broken.jpg")), QByteArray("\xFF\xD8\xFF\xE0"
                                                                  "broken"));
    const TViewerImage broken =
        LoadViewerImage(env.path(QStringLiteral("broken.jpg")), {400, 300}, 1);
    QVERIFY(broken.Bitmap.isNull());
    QVERIFY(broken.Problem.contains(QStringLiteral("broken.jpg")));
  }

  void viewerKeepsThePixelLimitForEveryFormat() {
    // The viewer refuses an original beyond the project's pixel limit before decoding it, a JPEG
    // as well as the formats read whole (which also reserve their memory first), and shows one
    // exactly at the limit, fitted and turned.
    const QString png = env.path(QStringLiteral("limit.png"));
    const QString jpeg = env.path(QStringLiteral("limit.jpg"));
    QImage source(400, 300, QImage::Format_RGB32);
    source.fill(Qt::darkGreen);
    QVERIFY(source.save(png));
    QVERIFY(WriteTestJpeg(jpeg, 400, 300));
    for (const QString& path : {png, jpeg}) {
      const TViewerImage over = LoadViewerImage(path, {200, 200}, 2, 400 * 300 - 1);
      QVERIFY2(over.Bitmap.isNull(), qPrintable(path));
      QVERIFY2(over.Problem.contains(QStringLiteral("megapixels")) && over.Problem.contains(path),
               qPrintable(over.Problem));
      const TViewerImage at = LoadViewerImage(path, {200, 200}, 2, 400 * 300);
      QVERIFY2(at.Problem.isEmpty(), qPrintable(at.Problem));
      QCOMPARE(at.Bitmap.size(), QSize(150, 200));
      QCOMPARE(at.FullSize, QSize(400, 300));
    }
  }

  void smallOriginalIsNotUpscaled() {
    Tracer().KeepInMemory = true;
    QVERIFY(WriteTestJpeg(folder + "/small.jpg", 120, 90));
    QVERIFY(album->ImportNewFiles(folder));
    const int last = album->Pictures.Count() - 1;
    QCOMPARE(picture(last)->OriginalFileName, QString("small.jpg"));
    runLoader(false);
    QCOMPARE(ReadJpegSize(previewOf(last)), QSize(120, 90));
    QCOMPARE(picture(last)->Thumbnail()->size(), QSize(120, 90));
    bool traced = false;
    for (const QString& line : Tracer().Lines())
      if (line.contains("No scale will be done") && line.contains("small.jpg")) traced = true;
    QVERIFY(traced);
  }

  void missingOriginalDropsItsPreview() {
    runLoader(false);
    QVERIFY(picture(1)->Thumbnail());
    QVERIFY(QFile::remove(picture(1)->OriginalPath()));
    auto loader = runLoader(false);
    QVERIFY(loader->Completed());
    QVERIFY(!picture(1)->Thumbnail());
    QVERIFY(picture(0)->Thumbnail());
    QVERIFY(prompt.errors().isEmpty());
  }

  // Originals that cannot be decoded (no JPEG at all, a JPEG cut after its start) are marked
  // with a reason naming their file; the loader goes on with the rest and tells the user once.
  void undecodableOriginalsAreMarkedAndTheRestGetPreviews() {
    QFile bad(folder + "/broken.jpg");
    QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write(QByteArray(4000, 'x')) == 4000);
    bad.close();
    QVERIFY(WriteTestJpeg(folder + "/broken2.jpg", 64, 48) &&
            QFile::resize(folder + "/broken2.jpg", 8));
    QVERIFY(WriteTestJpeg(folder + "/zzz_after.jpg", 200, 150));
    album->Pictures.ClearThumbnails();
    QVERIFY(album->ImportFolder(folder));

    auto loader = runLoader(false);
    QVERIFY(loader->Completed());
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = picture(i);
      const bool bad = p->OriginalFileName.startsWith("broken");
      QVERIFY2(!p->Thumbnail() == bad && bad == p->PreviewError.contains(p->OriginalFileName) &&
                   !p->PreviewError.contains("(memory)"),
               qPrintable(p->PreviewError));
    }
    QVERIFY2(prompt.errors().size() == 1 && prompt.errors()[0].startsWith("2 pictures have no"),
             qPrintable(prompt.errors().join('\n')));
  }

  void pauseHoldsAndTerminateWhilePausedEndsAtOnce() {
    {
      TThumbnailThread loader(album, &owner, &view);
      loader.FreeOnEnd = false;
      QSignalSpy done(&loader, &TThumbnailThread::Done);
      loader.SetPaused(true);
      loader.start();
      loader.Terminate();
      QTRY_COMPARE(done.count(), 1);
      QCOMPARE(loader.VisitedCount(), 0);
      QVERIFY(!loader.Completed());
      QVERIFY(!QFileInfo::exists(previewOf(0)));
    }
    {
      TThumbnailThread loader(album, &owner, &view);
      loader.FreeOnEnd = false;
      loader.WriteRows = false;
      QSignalSpy done(&loader, &TThumbnailThread::Done);
      loader.SetPaused(true);
      loader.start();
      QCOMPARE(loader.VisitedCount(), 0);
      loader.SetPaused(false);
      QTRY_COMPARE(done.count(), 1);
      QVERIFY(loader.Completed());
      QCOMPARE(loader.VisitedCount(), 3);
    }
  }

  void loaderFreesItselfAfterItsEndNotification() {
    QPointer<TThumbnailThread> loader = new TThumbnailThread(album, &owner, &view);
    loader->WriteRows = false;
    bool notified = false;
    connect(loader, &TThumbnailThread::Done, this, [&](TThumbnailThread* t) {
      notified = t == loader.data() && QThread::currentThread() == qApp->thread();
    });
    loader->start();
    QTRY_VERIFY(loader.isNull());
    QVERIFY(notified);
  }

  void messagesReachOnlyWindowsThatStillExist() {
    view.positions.clear();
    auto* gone = new MessageSink;
    TThumbnailThread loader(album, gone, &view);
    loader.FreeOnEnd = false;
    loader.WriteRows = false;
    QSignalSpy done(&loader, &TThumbnailThread::Done);
    delete gone; // the owner went away before the loader's messages arrived
    loader.start();
    QTRY_COMPARE(done.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(sorted(view.positions), QList<int>({0, 1, 2}));
  }

  void workerLeavesPicturesAloneUntilTheInterfaceThreadAppliesItsFindings() {
    picture(0)->Dirty = false;
    view.positions.clear();
    TThumbnailThread loader(album, &owner, &view);
    loader.FreeOnEnd = false;
    loader.WriteRows = true;
    QSignalSpy done(&loader, &TThumbnailThread::Done);
    loader.start();
    // No event is dispatched meanwhile: whatever reached the pictures came from the worker.
    QVERIFY(loader.wait(60000));
    QCOMPARE(loader.DecodedCount(), 3);
    for (int i = 0; i < 3; ++i) {
      QVERIFY(QFileInfo(previewOf(i)).size() > 149); // the files are the worker's work
      QVERIFY(!picture(i)->Thumbnail());
      QVERIFY(!picture(i)->Modified);
      QVERIFY(picture(i)->OriginalHash.isEmpty());
      QCOMPARE(picture(i)->OriginalWidth, -1);
    }
    QCOMPARE(PictureRows(cs), 0);
    QVERIFY(view.positions.isEmpty());

    QTRY_COMPARE(done.count(), 1);
    for (int i = 0; i < 3; ++i) {
      QVERIFY(picture(i)->Thumbnail());
      QVERIFY(picture(i)->Modified);
      QVERIFY(album->HasModified);
      QCOMPARE(picture(i)->OriginalHash, GetFileHash(picture(i)->OriginalPath()));
      QCOMPARE(picture(i)->OriginalSize, int(QFileInfo(picture(i)->OriginalPath()).size()));
    }
    QCOMPARE(PictureRows(cs), 2); // the two pictures whose rows were due
    QCoreApplication::processEvents();
    QCOMPARE(sorted(view.positions), QList<int>({0, 1, 2}));
  }

  void findingsOfPicturesThatMovedOrWereRenamedAreDropped() {
    view.positions.clear();
    TThumbnailThread loader(album, &owner, &view);
    loader.FreeOnEnd = false;
    loader.WriteRows = false;
    QSignalSpy done(&loader, &TThumbnailThread::Done);
    loader.start();
    QVERIFY(loader.wait(60000));
    // Before the findings arrive: the last picture leaves the album, the second is renamed.
    album->Pictures.Delete(2);
    picture(1)->OriginalFileName = QStringLiteral("renamed.jpg");
    QTRY_COMPARE(done.count(), 1);
    QCoreApplication::processEvents();
    QVERIFY(picture(0)->Thumbnail());
    QVERIFY(!picture(1)->Thumbnail());
    QVERIFY(!picture(1)->Modified);
    QCOMPARE(picture(1)->OriginalWidth, -1);
    QCOMPARE(view.positions, QList<int>({0}));
  }

  // Rows shown on larger tiles get previews of their own step beside the first step's file,
  // made from one decode; a finished loader's files are read without decoding, a missing step
  // is reported as lacking, and a changed original takes the larger files away.
  void largerTilesGetPreviewsOfTheirStep() {
    runLoader(false);
    const QList<TLumenfoldPicture*> all = {picture(0), picture(1), picture(2)};
    QList<TLumenfoldPicture*> lacking;
    TThumbnailThread::LoadWanted(nullptr, all, 2, &lacking);
    QCOMPARE(lacking, all);
    {
      TThumbnailThread loader(album, &owner, &view);
      loader.FreeOnEnd = false;
      QSignalSpy done(&loader, &TThumbnailThread::Done);
      QVERIFY(loader.Request(all, 2).isEmpty());
      loader.start();
      QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 60000);
    }
    const QSize step2[] = {{640, 480}, {360, 480}, {640, 480}};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(ReadJpegSize(PreviewStepPath(previewOf(i), 2)), step2[i]);
      QCOMPARE(picture(i)->Thumbnail()->size(), step2[i]);
    }
    QCOMPARE(ReadJpegSize(previewOf(2)), QSize(160, 120)); // the first step's file is kept
    lacking.clear();
    album->Pictures.Pictures(2)->SetThumbnail(nullptr);
    QCOMPARE(TThumbnailThread::LoadWanted(nullptr, {picture(2)}, 2, &lacking).size(), 1);
    QVERIFY(lacking.isEmpty());

    QVERIFY(WriteTestJpeg(picture(2)->OriginalPath(), 800, 600));
    runLoader(false);
    QVERIFY(!QFileInfo::exists(PreviewStepPath(previewOf(2), 2)));
    QVERIFY(QFileInfo::exists(PreviewStepPath(previewOf(0), 2)));
  }

  // A preview file torn by a crash (cut short, its end marker lost) is made again.
  void tornPreviewFileIsRemade() {
    runLoader(false);
    QVERIFY(QFile::resize(previewOf(1), QFileInfo(previewOf(1)).size() / 2));
    QVERIFY(ReadPreviewFile(previewOf(1)).isNull());
    album->Pictures.Pictures(1)->SetThumbnail(nullptr);
    auto loader = runLoader(false);
    QCOMPARE(loader->DecodedCount(), 1);
    QVERIFY(!ReadPreviewFile(previewOf(1)).isNull());
  }

  // Other formats keep the pixel limit and the memory budget: a PNG whose header claims 60000 x
  // 60000 pixels gets a reason instead of a preview (nothing of that size is taken), the other
  // pictures go on; a real picture larger than the budget is refused with a clear message.
  void otherFormatsBeyondTheLimitsGetAReason() {
    QImage tiny(600, 600, QImage::Format_RGB32);
    tiny.fill(Qt::red);
    QByteArray png;
    {
      QBuffer buffer(&png);
      QVERIFY(buffer.open(QIODevice::WriteOnly) && tiny.save(&buffer, "PNG"));
    }
    try {
      TMemoryBudget budget(1 << 20);
      TThumbnailThread::DecodeOtherOriginal("plain.png", png, 0, &budget);
      QFAIL("a picture beyond the memory budget was decoded");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().contains("more than the memory"), qPrintable(e.Text()));
    }
    // The header's width and height (big-endian, after "IHDR"), then that chunk's CRC anew.
    qToBigEndian<quint32>(60000, png.data() + 16);
    qToBigEndian<quint32>(60000, png.data() + 20);
    const auto ihdr = reinterpret_cast<const Bytef*>(png.constData() + 12);
    qToBigEndian<quint32>(quint32(crc32(0, ihdr, 17)), png.data() + 29);
    writeBytes(folder + "/huge.png", png);
    album->Pictures.ClearThumbnails();
    QVERIFY(album->ImportFolder(folder));
    auto loader = runLoader(false);
    QVERIFY(loader->Completed());
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = picture(i);
      const bool huge = p->OriginalFileName == "huge.png";
      QVERIFY2(!p->Thumbnail() == huge && huge == p->PreviewError.contains("60000 x 60000"),
               qPrintable(p->OriginalFileName + ": " + p->PreviewError));
    }
  }

  void missingAlbumFolderEndsSilently() {
    album->Path = env.path("no such folder");
    auto loader = runLoader(true);
    QVERIFY(!loader->Completed());
    QCOMPARE(loader->VisitedCount(), 0);
    QVERIFY(prompt.errors().isEmpty());
    QVERIFY(!QFileInfo::exists(album->Path));
  }
};

QTEST_MAIN(TestThumbnailThread)
#include "test_thumbnailthread.moc"
