#pragma once
// What the main window shows where there is nothing to list yet.
//
// TStartPage ("pnlStart"): with no project open, two large choices (New project, Open project) and
// the recent projects, of which a missing file is shown but cannot be opened.
// TEmptyProjectPage ("pnlEmptyProject"): an open project without albums offers "Add an album from
// a folder" and says that a folder may be dropped onto the window.
//
// RecentMenuEntries() is what File › Open Recent lists: the first ten of the recent-projects
// list in its order, each with whether the file is still there.
//
// Threads: user-interface thread only.
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;
class QPushButton;

struct TRecentEntry {
  QString fileName;
  bool exists = false;
};
inline constexpr int kRecentMenuSize = 10;
QList<TRecentEntry> RecentMenuEntries(const QStringList& recent);

class TStartPage : public QWidget {
  Q_OBJECT

public:
  explicit TStartPage(QWidget* parent = nullptr);
  // Refills the recent list from the recent-projects list.
  void SetRecentProjects(const QStringList& recent);

signals:
  void NewRequested();
  void OpenRequested();
  void RecentChosen(const QString& fileName);

private:
  QListWidget* recent_ = nullptr;
};

class TEmptyProjectPage : public QWidget {
  Q_OBJECT

public:
  explicit TEmptyProjectPage(QWidget* parent = nullptr);

signals:
  void AddAlbumRequested();
};
