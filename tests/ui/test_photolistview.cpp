// The picture list view: the action strip and its clicks, double clicks, select-all, repaints on
// loader messages, the drawing of an item and the text shortening.
#include "core/album.h"
#include "core/bitmaplist.h"
#include "core/picture.h"
#include "processing/thumbnailthread.h"
#include "testenv.h"
#include "ui/photolist/photolistview.h"
#include "util/messages.h"

#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>
#include <memory>
#include <vector>

class TestPhotoListView : public QObject {
  Q_OBJECT
  TestEnv env;
  std::vector<std::unique_ptr<TLumenfoldPicture>> pictures;
  std::unique_ptr<TphotoListView> view;
  QList<int> clicks;

  TLumenfoldPicture* addPicture(const QString& name, bool withPreview = true) {
    auto p = std::make_unique<TLumenfoldPicture>();
    p->OriginalFileName = name;
    p->OriginalWidth = 400;
    p->OriginalHeight = 300;
    p->OriginalSize = 1234567;
    if (withPreview) p->SetThumbnail(MakeBitmap(MakeTestImage(160, 120)));
    view->AddItem(p.get());
    pictures.push_back(std::move(p));
    return pictures.back().get();
  }

  QPoint buttonPoint(int row, int button) const {
    const QRect strip = view->StripRect(row);
    return QPoint(strip.left() + button * 18 + 9, strip.top() + 9);
  }

  // A rendering of one item on its own, in the view's colours.
  QImage drawItem(int row, bool selected) {
    QImage image(view->CellSize(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter p(&image);
    view->DrawItem(p, QRect(QPoint(0, 0), view->CellSize()), row, selected);
    return image;
  }

private slots:
  void init() {
    clicks.clear();
    view = std::make_unique<TphotoListView>();
    view->setObjectName("lvwMain");
    view->resize(800, 600);
    addPicture("first.jpg");
    addPicture("second.jpg");
    addPicture("third.jpg");
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
  }

  void cleanup() {
    view.reset();
    pictures.clear();
  }

  void marksAreLoadedFromResources() {
    QCOMPARE(view->Mark(TphotoListView::mkAction).size(), QSize(163, 18));
    for (auto m : {TphotoListView::mkDelete, TphotoListView::mkPrivate, TphotoListView::mkCategory,
                   TphotoListView::mkSign, TphotoListView::mkFace})
      QCOMPARE(view->Mark(m).size(), QSize(17, 17));
  }

  void stripButtonsAreHitOnlyWhereShown() {
    view->OnActionClick = [this](TphotoListView*, int n) { clicks << n; };
    view->SetSelected(1, true);
    const QRect item = view->ItemRect(1);
    const QRect strip = view->StripRect(1);
    QCOMPARE(strip, QRect(item.left() + 4, item.top() + 5, 162, 18));
    const int y = strip.top() + 3;
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 53, y)), 2);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 54, y)), 3);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 71, y)), 3);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 72, y)), 4);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 161, y)), 8);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 162, y)), -1); // past the last button
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 60, strip.bottom() + 1)), -1);
    QCOMPARE(view->ButtonAt(0, buttonPoint(0, 3)), -1); // not selected

    view->SetActionButtons(6);
    QCOMPARE(view->StripRect(1).width(), 108);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 110, y)), -1);

    // No strip without a preview or without a handler.
    pictures[1]->SetThumbnail(nullptr);
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 60, y)), -1);
    pictures[1]->SetThumbnail(MakeBitmap(MakeTestImage(160, 120)));
    view->OnActionClick = nullptr;
    QCOMPARE(view->ButtonAt(1, QPoint(strip.left() + 60, y)), -1);
  }

  // The tile size stays within its bounds from both sides, by call, Ctrl+wheel and Ctrl+plus/
  // minus; the preview size a tile asks for follows the tile and the screen's pixel ratio.
  void thumbnailSizeBoundsAndPreviewPixels() {
    QSignalSpy changed(view.get(), &TphotoListView::ThumbnailSizeChanged);
    const struct {
      int asked, taken;
    } sizes[] = {{50, 96},   {95, 96},   {96, 96},   {97, 97},
                 {399, 399}, {400, 400}, {401, 400}, {5000, 400}};
    for (const auto& c : sizes) {
      view->SetThumbnailSize(c.asked);
      QCOMPARE(view->ThumbnailSize(), c.taken);
      QCOMPARE(view->CellSize().width(), c.taken + 8);
    }
    QCOMPARE(changed.count(), 4); // a clamped size equal to the current one raises nothing
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->IconViewport(), &up);
    QCOMPARE(view->ThumbnailSize(), 400);
    QTest::keyClick(view->IconList(), Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(view->ThumbnailSize(), 384);
    view->SetThumbnailSize(100);
    QTest::keyClick(view->IconList(), Qt::Key_Minus, Qt::ControlModifier);
    QCOMPARE(view->ThumbnailSize(), 96);
    QTest::keyClick(view->IconList(), Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(view->ThumbnailSize(), 112);

    TPhotoItemPainter painter;
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics fm(font);
    const int lines = 2 * fm.height() + 2;
    QCOMPARE(painter.CellSize(fm), QSize(172, 154)); // the default tile
    QCOMPARE(painter.PreviewPixels(fm, 1.0), QSize(162, 144 - lines));
    QCOMPARE(painter.PreviewPixels(fm, 2.0), QSize(324, 2 * (144 - lines)));
    painter.SetThumbnailSize(400);
    QCOMPARE(painter.PreviewPixels(fm, 2.0), QSize(796, 2 * (300 + 31 - 10 - lines)));
    painter.ShowSizeLine = false; // one text line: the tile is shorter, the preview as big
    QCOMPARE(painter.CellSize(fm).height(), 331 - fm.height());
    QCOMPARE(painter.PreviewPixels(fm, 1.0).height(), 331 - 10 - lines);
  }

  // A tile narrower than the strip puts the buttons on a second line; each button is still hit.
  void stripWrapsOnSmallTiles() {
    view->OnActionClick = [this](TphotoListView*, int n) { clicks << n; };
    view->SetThumbnailSize(96); // 104 wide: 5 buttons a line
    view->SetSelected(0, true);
    const QRect strip = view->StripRect(0);
    QCOMPARE(strip.size(), QSize(5 * 18, 2 * 18));
    QCOMPARE(view->ButtonAt(0, strip.topLeft() + QPoint(4 * 18 + 9, 9)), 4);
    QCOMPARE(view->ButtonAt(0, strip.topLeft() + QPoint(9, 18 + 9)), 5);
    QCOMPARE(view->ButtonAt(0, strip.topLeft() + QPoint(3 * 18 + 9, 18 + 9)), 8);
    QCOMPARE(view->ButtonAt(0, strip.topLeft() + QPoint(4 * 18 + 9, 18 + 9)), -1); // no 10th
  }

  // Sorting reorders the rows only: ties keep the album order in both directions, the selection
  // follows its pictures, and no sort brings the album order back.
  void sortingFollowsPicturesAndKeepsAlbumOrderForTies() {
    pictures[0]->OriginalSize = 300, pictures[1]->OriginalSize = 100,
    pictures[2]->OriginalSize = 300;
    pictures[0]->Title = "b", pictures[1]->Title = "C", pictures[2]->Title = "a";
    pictures[1]->IsPrivate = true;
    const QList<TLumenfoldPicture*> album = {pictures[0].get(), pictures[1].get(),
                                             pictures[2].get()};
    auto order = [&] {
      QList<int> rows;
      for (int row = 0; row < view->Count(); ++row)
        rows << int(album.indexOf(view->Picture(row)));
      return rows;
    };
    const struct {
      int column;
      Qt::SortOrder direction;
      QList<int> expected;
    } cases[] = {{TPhotoListModel::fdSize, Qt::AscendingOrder, {1, 0, 2}},
                 {TPhotoListModel::fdSize, Qt::DescendingOrder, {0, 2, 1}},
                 {TPhotoListModel::fdTitle, Qt::AscendingOrder, {2, 0, 1}},
                 {TPhotoListModel::fdFileName, Qt::DescendingOrder, {2, 1, 0}},
                 {TPhotoListModel::fdPrivate, Qt::DescendingOrder, {1, 0, 2}},
                 {TPhotoListModel::NoSortColumn, Qt::AscendingOrder, {0, 1, 2}}};
    view->SetSelected(1, true);
    for (const auto& c : cases) {
      view->SortBy(c.column, c.direction);
      QCOMPARE(order(), c.expected);
      QCOMPARE(view->SelectedPictures(), QList<TLumenfoldPicture*>({pictures[1].get()}));
      QCOMPARE(view->IndexOfPicture(pictures[1].get()), int(c.expected.indexOf(1)));
    }
  }

  // The category filter shows the pictures of one category; hidden pictures leave the selection.
  void categoryFilterHidesOthersAndTheirSelection() {
    pictures[0]->CategoryIds = {"7"};
    pictures[2]->CategoryIds = {"3", "7"};
    view->SelectAll();
    view->SetCategoryFilter("7");
    QCOMPARE(view->Count(), 2);
    QCOMPARE(view->Picture(1), pictures[2].get());
    QCOMPARE(view->IndexOfPicture(pictures[1].get()), -1);
    QCOMPARE(view->SelectedCount(), 0);
    TLumenfoldPicture* added = addPicture("fourth.jpg"); // no category: stays hidden
    QCOMPARE(view->Count(), 2);
    view->SetCategoryFilter(QString());
    QCOMPARE(view->Count(), 4);
    QCOMPARE(view->Picture(3), added);
  }

  void actionClickNeedsPressAndReleaseOnTheSameButton() {
    view->OnActionClick = [this](TphotoListView* sender, int n) {
      QCOMPARE(sender, view.get());
      clicks << n;
    };
    view->SetSelected(0, true);
    view->SetSelected(2, true);
    QWidget* vp = view->IconViewport();

    QTest::mousePress(vp, Qt::LeftButton, {}, buttonPoint(2, 3));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, buttonPoint(2, 3));
    QCOMPARE(clicks, QList<int>({3}));
    // The press did not reach the list: both items stay selected.
    QCOMPARE(view->SelectedRows(), QList<int>({0, 2}));

    QTest::mousePress(vp, Qt::LeftButton, {}, buttonPoint(2, 3));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, buttonPoint(2, 5));
    QTest::mousePress(vp, Qt::LeftButton, {}, buttonPoint(0, 1));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, buttonPoint(2, 1)); // other item
    QCOMPARE(clicks, QList<int>({3}));

    // A press on an unselected item selects it; its release there raises nothing.
    QTest::mousePress(vp, Qt::LeftButton, {}, buttonPoint(1, 0));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, buttonPoint(1, 0));
    QCOMPARE(clicks, QList<int>({3}));
    QCOMPARE(view->SelectedRows(), QList<int>({1}));
    QTest::mouseClick(vp, Qt::LeftButton, {}, buttonPoint(1, 8));
    QCOMPARE(clicks, QList<int>({3, 8}));
  }

  void doubleClickOnStripIsSwallowed() {
    view->OnActionClick = [this](TphotoListView*, int n) { clicks << n; };
    QSignalSpy opened(view.get(), &TphotoListView::ItemDoubleClicked);
    view->SetSelected(0, true);
    QWidget* vp = view->IconViewport();

    // What a double click delivers: press, release, double click, release.
    auto doubleClick = [vp](QPoint at) {
      QTest::mouseClick(vp, Qt::LeftButton, {}, at);
      QTest::mouseDClick(vp, Qt::LeftButton, {}, at);
      QTest::mouseRelease(vp, Qt::LeftButton, {}, at);
    };
    doubleClick(buttonPoint(0, 2));
    QCOMPARE(opened.count(), 0);
    QCOMPARE(clicks, QList<int>({2, 2})); // two presses of the button
    QCOMPARE(view->SelectedRows(), QList<int>({0}));

    const QPoint preview = view->ItemRect(0).center();
    doubleClick(preview);
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.at(0).at(0).toInt(), 0);
  }

  void ctrlAOnReleaseSelectsAll() {
    QSignalSpy changed(view.get(), &TphotoListView::SelectItem);
    QTest::keyRelease(view->IconList(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view->SelectedRows(), QList<int>({0, 1, 2}));
    QCOMPARE(view->SelectedPictures().at(1), pictures[1].get());
    QCOMPARE(changed.count(), 3);
    view->ClearSelection();
    QTest::keyRelease(view->IconList(), Qt::Key_A, Qt::NoModifier);
    QCOMPARE(view->SelectedCount(), 0);
  }

  void loaderMessageRepaintsOnlyItsItem() {
    QTRY_VERIFY(view->PaintedItems() > 0);
    QCoreApplication::processEvents();
    view->ResetPaintLog();
    PostMessage(view.get(), LF_MSG_THUMBNAIL, 1, qintptr(pictures[1].get()));
    QTRY_VERIFY(view->PaintedRows().contains(1));
    QVERIFY(!view->PaintedRows().contains(2));

    // A picture that is no longer listed (perhaps freed meanwhile) is only compared, never used.
    view->ResetPaintLog();
    PostMessage(view.get(), LF_MSG_THUMBNAIL, 7, qintptr(0x10));
    QCoreApplication::processEvents();
    QVERIFY(view->PaintedRows().isEmpty());
    QVERIFY(!view->RepaintTimer()->isActive());
  }

  void messagesWithoutPictureAreCoalesced() {
    QCOMPARE(view->RepaintTimer()->interval(), 240);
    for (int i = 0; i < 3; ++i)
      PostMessage(view.get(), LF_MSG_THUMBNAIL, i, 0);
    QTRY_VERIFY(view->RepaintTimer()->isActive());
    QTRY_COMPARE(view->FullRepaints(), 1);
    QVERIFY(!view->RepaintTimer()->isActive());

    view->SetViewStyle(TphotoListView::vsReport);
    PostMessage(view.get(), LF_MSG_THUMBNAIL, 0, 0);
    QCoreApplication::processEvents();
    QVERIFY(!view->RepaintTimer()->isActive());
  }

  void itemWithoutPreviewShowsFramedCross() {
    TLumenfoldPicture* bare = addPicture("bare.jpg", false);
    const int row = view->IndexOfPicture(bare);
    const QImage img = drawItem(row, false);
    const QColor ink = view->IconList()->palette().color(QPalette::Text);
    const QColor paper = view->IconList()->palette().color(QPalette::Base);
    // The preview box: 5 pixels in from the cell, above the two text lines.
    const int th = QFontMetrics(view->IconList()->font()).height();
    const int l = 5, t = 5, r = view->CellSize().width() - 6,
              b = view->CellSize().height() - 8 - 2 * th;
    auto inkNear = [&](int x, int y) {
      for (int dy = -1; dy <= 1; ++dy)
        if (img.pixelColor(x, y + dy) == ink) return true;
      return false;
    };
    QCOMPARE(img.pixelColor(l, t + 40), ink); // frame
    QCOMPARE(img.pixelColor(r, t + 40), ink);
    const int x = l + 40;
    const int down = t + qRound(40.0 * (b - t) / (r - l)); // diagonal from the top-left corner
    const int up = b - qRound(40.0 * (b - t) / (r - l));   // diagonal from the bottom-left corner
    QVERIFY(inkNear(x, down));
    QVERIFY(inkNear(x, up));
    QCOMPARE(img.pixelColor(x, (down + up) / 2 + 10), paper);
    // A preview fills the box instead.
    const QImage withPreview = drawItem(0, false);
    QCOMPARE(withPreview.pixelColor(view->CellSize().width() / 2 - 20, 30), QColor(255, 0, 0));
  }

  void previewIsTurnedAndCropFrameUsesTheTurnedSize() {
    TLumenfoldPicture* p = pictures[0].get();
    p->Orientation = 2; // a quarter turn clockwise: the bottom-left quadrant (blue) comes top-left
    p->CropRect = {0, 0, 150, 200};
    drawItem(0, false);
    // The work bitmap holds the turned preview with the frame: the 400 x 300 original turned is
    // 300 x 400, so the corner (150, 200) lands at (60, 80) of the 120 x 160 preview.
    const QImage& work = view->WorkBitmap();
    QCOMPARE(work.size(), QSize(120, 160));
    auto onFrame = [&](int x, int y) {
      const QRgb c = work.pixel(x, y) & 0xFFFFFF;
      return c == 0 || c == 0xFFFFFF;
    };
    for (int y = 1; y < 80; y += 7)
      QVERIFY2(onFrame(60, y), qPrintable(QString::number(y)));
    for (int x = 1; x < 60; x += 7)
      QVERIFY2(onFrame(x, 80), qPrintable(QString::number(x)));
    QVERIFY(!onFrame(61, 40));
    QVERIFY(!onFrame(30, 81));
    QVERIFY(!onFrame(30, 40));
    const QImage img = drawItem(0, false);
    // The fitted preview of a 120 x 160 bitmap is centred in the box; sample inside it.
    const int cx = view->CellSize().width() / 2;
    QColor topLeft = img.pixelColor(cx - 20, 20);
    QVERIFY2(topLeft.blue() > 200 && topLeft.red() < 60, qPrintable(topLeft.name()));
    QColor topRight = img.pixelColor(cx + 20, 20);
    QVERIFY2(topRight.red() > 200 && topRight.green() < 60, qPrintable(topRight.name()));

    p->Orientation = -1; // mirrored only: green comes top-left
    p->CropRect = {};
    const QImage mirrored = drawItem(0, false);
    const QColor c = mirrored.pixelColor(cx - 30, 30);
    QVERIFY2(c.green() > 200 && c.red() < 60, qPrintable(c.name()));
  }

  void stateMarksAndModifiedBarAreDrawn() {
    TLumenfoldPicture* p = pictures[0].get();
    const QImage plain = drawItem(0, false);
    p->IsDeleted = true;
    p->Modified = true;
    const QImage marked = drawItem(0, false);
    // Deleted mark at left + 90 (left = 5), top 5.
    QCOMPARE(marked.pixelColor(5 + 90 + 8, 5 + 2),
             view->Mark(TphotoListView::mkDelete).pixelColor(8, 2));
    QVERIFY(marked.pixelColor(5 + 90 + 8, 5 + 2) != plain.pixelColor(5 + 90 + 8, 5 + 2));
    QVERIFY(marked != plain);
  }

  // The loader finds an original gone: its tile says so instead of the size; once the file is back,
  // the size line returns.
  void missingOriginalIsNamedOnItsTile() {
    const QString folder = env.makeFolder("missing");
    for (const char* name : {"/a.jpg", "/b.jpg"})
      QVERIFY(WriteTestJpeg(folder + name, 40, 30));
    TLumenfoldAlbum album;
    album.Path = folder;
    QVERIFY(album.ImportFolder(folder));
    auto load = [&] {
      TThumbnailThread loader(&album, nullptr, nullptr);
      loader.WriteRows = false;
      loader.FreeOnEnd = false;
      QSignalSpy done(&loader, &TThumbnailThread::Done);
      loader.start();
      QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
    };
    QVERIFY(QFile::rename(folder + "/b.jpg", folder + "/b.away"));
    load();
    const TLumenfoldPicture& b = *album.Pictures.Pictures(1);
    QCOMPARE(TphotoListView::InfoLine(b), QString("original missing"));
    QVERIFY(QFile::rename(folder + "/b.away", folder + "/b.jpg"));
    load();
    QCOMPARE(TphotoListView::InfoLine(b), TphotoListView::SizeLine(b));
  }

  void textShortening() {
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics fm(font);
    const QString name = "a_rather_long_picture_file_name_0042.jpg";
    QCOMPARE(TphotoListView::ShortenText("x.jpg", fm, 200), QString("x.jpg"));
    const int width = fm.horizontalAdvance(name) / 2;
    const QString s = TphotoListView::ShortenText(name, fm, width);
    QVERIFY(s.startsWith("a_ra..."));
    QVERIFY(name.endsWith(s.mid(7)));
    QVERIFY(fm.horizontalAdvance(s) <= width);
    // As much of the end as fits: one more character would not.
    const QString longer = s.left(7) + name.right(s.size() - 7 + 1);
    QVERIFY(fm.horizontalAdvance(longer) > width);
    // Nothing to cut from a very short text: the "..." stays after it.
    QCOMPARE(TphotoListView::ShortenText("abcdef", fm, 1), QString("abcd..."));

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QCOMPARE(TphotoListView::FormatThousands(1234567, english), QString("1,234,567"));
    QCOMPARE(TphotoListView::FormatThousands(999, english), QString("999"));
    QCOMPARE(TphotoListView::FormatThousands(0, english), QString());
    QCOMPARE(TphotoListView::FormatThousands(-1234, english), QString("-1,234"));
    QCOMPARE(TphotoListView::SizeLine(*pictures[0], english), QString("400x300 - 1,234,567"));
  }

  void ownerGetsContextMenuAndHover() {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QSignalSpy menu(view.get(), &QWidget::customContextMenuRequested);
    QSignalSpy hovered(view.get(), &TphotoListView::ItemHovered);
    QWidget* vp = view->IconViewport();
    const QPoint at = view->ItemRect(2).center();

    QContextMenuEvent e(QContextMenuEvent::Mouse, at, vp->mapToGlobal(at));
    QApplication::sendEvent(vp, &e);
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.at(0).at(0).toPoint(), vp->mapTo(view.get(), at));

    QMouseEvent move(QEvent::MouseMove, at, vp->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(vp, &move);
    QTRY_COMPARE(hovered.count(), 1);
    QCOMPARE(hovered.at(0).at(0).toInt(), 2);
  }

  void detailsViewEditsTheChosenColumn() {
    view->SetColumns({{"sort_order", 0}, {"filename", 220}, {"size", 60, Qt::AlignRight}});
    view->SetViewStyle(TphotoListView::vsReport);
    QCOMPARE(view->ColumnWidth(0), 0);
    QCOMPARE(view->SubItem(2, 1), QString("third.jpg"));
    view->SetEditColumn(1);
    QSignalSpy edited(view.get(), &TphotoListView::CaptionEdited);
    view->SetSelected(2, true);
    view->SetItemIndex(2);

    QTest::keyRelease(view->ReportList(), Qt::Key_F2);
    QVERIFY(!view->Editing()); // read-only
    view->SetReadOnly(false);
    QTest::keyRelease(view->ReportList(), Qt::Key_F2);
    QTRY_VERIFY(view->Editing());
    auto* editor = view->ReportList()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor);
    editor->setText("renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(edited.count(), 1);
    QCOMPARE(edited.at(0).at(0).toInt(), 2);
    QCOMPARE(edited.at(0).at(1).toString(), QString("renamed"));
  }
};

QTEST_MAIN(TestPhotoListView)
#include "test_photolistview.moc"
