// Picture list benchmark: the main window shows the first album of a project (a large one) and
// times what a person does with a long list: select all (Ctrl+A), sort by each column of the
// details view (both directions), filter by a category and back to all pictures, and change the
// thumbnail size. Each figure is the time from the action to the list repainted, the median of
// five runs.
//
//   bench_list PROJECT.lumenfold [folder for pictures of the window]
//
// The pictures get a category in memory (every third picture), so the filter has work to do;
// nothing is saved.
#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/photolist/photolistcontrols.h"
#include "ui/photolist/photolistview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QRadioButton>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Runs the event loop until done() holds; false after ten minutes without.
template <class F> bool RunUntil(F done) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > 600000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

// Median milliseconds of five runs of action, each until the shown list has repainted.
// prepare runs before each, untimed.
double Time(TphotoListView* view, const std::function<void(int run)>& action,
            const std::function<void()>& prepare = {}) {
  std::vector<double> ms;
  for (int run = 0; run < 5; ++run) {
    if (prepare) prepare();
    QCoreApplication::processEvents();
    view->CurrentList()->viewport()->repaint();
    QElapsedTimer t;
    t.start();
    action(run);
    QCoreApplication::processEvents();
    view->CurrentList()->viewport()->repaint();
    ms.push_back(t.nsecsElapsed() / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void Print(const char* what, int rows, double ms) {
  std::printf("%-34s %8d %10.1f\n", what, rows, ms);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_list PROJECT.lumenfold\n");
    return 2;
  }
  TfrmLumenFold2 w;
  w.StartDialogOnShow = false;
  w.resize(1600, 1000);
  w.show();
  w.OpenProjectFile(QString::fromLocal8Bit(argv[1]));
  if (!w.CurrentAlbum()) {
    std::fprintf(stderr, "no albums in %s\n", argv[1]);
    return 1;
  }
  TphotoListView* view = w.PictureView();
  // The loader's walk is not what is measured: it ends first.
  RunUntil([&] { return !w.ThumbnailLoader(); });

  auto* category = new TLumenfoldCategory;
  category->Id = 900001;
  category->Title = QStringLiteral("Every third");
  w.Project()->Categories.Add(category->Title, category);
  const QString id = QString::number(category->Id);
  for (int i = 0; i < w.CurrentAlbum()->Pictures.Count(); i += 3)
    w.CurrentAlbum()->Pictures.Pictures(i)->CategoryIds.append(id);
  auto* filter = w.findChild<TCategoryFilterBox*>(QStringLiteral("cbxCategoryFilter"));
  filter->SetCategories(w.Project()->Categories);
  // Pictures of the window to look at: small and large tiles, the details view sorted.
  const QString shots = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  auto shoot = [&](const char* name) {
    if (shots.isEmpty()) return;
    QCoreApplication::processEvents();
    RunUntil([&] {
      for (int row = 0; row < view->Count(); ++row)
        if (view->ItemRect(row).intersects(view->IconViewport()->rect()) &&
            !view->Picture(row)->Thumbnail())
          return false;
      return true;
    });
    w.grab().save(shots + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"));
  };
  w.CurrentAlbum()->Pictures.Pictures(1)->Title = QStringLiteral("Harbour at dawn");
  w.CurrentAlbum()->Pictures.Pictures(1)->IsPrivate = true;
  w.CurrentAlbum()->Pictures.Pictures(2)->IsDeleted = true;
  view->SetSelected(4, true);
  view->SetThumbnailSize(96);
  shoot("tiles-96");
  view->SetThumbnailSize(260);
  shoot("tiles-260");
  view->SetThumbnailSize(164);
  view->ClearSelection();

  std::printf("%-34s %8s %10s\n", "action", "rows", "ms");
  const int rows = view->Count();
  const auto clear = [&] { view->ClearSelection(); };
  Print("select all (Ctrl+A), icons", rows,
        Time(
            view,
            [&](int) {
              QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::ControlModifier);
              QCoreApplication::sendEvent(view->IconList(), &release);
            },
            clear));
  Print("thumbnail size 164 <-> 260", rows,
        Time(view, [&](int run) { view->SetThumbnailSize(run % 2 ? 164 : 260); }));
  view->SetThumbnailSize(164);
  w.findChild<QRadioButton*>(QStringLiteral("rbnReport"))->click();
  Print("select all (Ctrl+A), details", rows,
        Time(
            view,
            [&](int) {
              QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::ControlModifier);
              QCoreApplication::sendEvent(view->ReportList(), &release);
            },
            clear));
  static const char* const names[] = {"",     "file name", "size",         "date",    "dimension",
                                      "hash", "title",     "second title", "private", "categories"};
  for (int column = 1; column < TPhotoListModel::fdCount; ++column) {
    const QByteArray what = QByteArray("sort by ") + names[column] + " (all selected)";
    Print(what.constData(), rows, Time(view, [&](int run) {
            view->SortBy(column, run % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
          }));
  }
  view->SortBy(TPhotoListModel::fdTitle, Qt::DescendingOrder);
  view->ClearSelection();
  shoot("details-by-title");
  view->SortBy(TPhotoListModel::NoSortColumn);
  Print("filter by a category", rows,
        Time(
            view, [&](int) { filter->setCurrentIndex(1); }, [&] { filter->setCurrentIndex(0); }));
  Print("back to all pictures", rows,
        Time(
            view, [&](int) { filter->setCurrentIndex(0); }, [&] { filter->setCurrentIndex(1); }));
  w.StopThumbnailLoader();
  w.Project()->Modified = false;
  w.CloseCurrentProject();
  return 0;
}
