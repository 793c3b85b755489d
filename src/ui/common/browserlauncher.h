#pragma once
// Opening local pages (the help) in the desktop's browser where the window system's own opener
// starts "xdg-open" and forgets it: that opener reports success even when no browser comes up.
// Installed as the handler of "file" addresses, TBrowserLauncher runs the program itself and,
// when it cannot be started or ends with a failure, tells the user which file could not be shown
// (its path, to open by hand).
//
// Threads: user-interface thread only.
#include <QObject>
#include <QString>

class QUrl;

class TBrowserLauncher : public QObject {
  Q_OBJECT
public:
  // program: the opener to run with the address ("xdg-open" on the desktop).
  explicit TBrowserLauncher(QString program, QObject* parent = nullptr);
  ~TBrowserLauncher() override;

  // Handles every "file" address opened through QDesktopServices from now on. False, and
  // nothing installed, when the program is not found (the window system's opener stays).
  bool Install();
  // The opener the desktop program installs on systems where browsers start that way; nullptr
  // elsewhere.
  static TBrowserLauncher* InstallDesktopDefault(QObject* parent);

public slots:
  void Open(const QUrl& url);

private:
  void failed(const QUrl& url);
  QString program_;
  bool installed_ = false;
};
