#include "ui/common/settingsstore.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

namespace {

QString normaliseKey(const QString& key) {
  QString k = key;
  k.replace('\\', '/');
  while (k.endsWith('/'))
    k.chop(1);
  return k;
}

// Geometry of the screen used for clamping: the primary screen's available area. Positions
// may lie anywhere on the whole desktop, so a window left on a second monitor stays there.
QRect screenArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QRect desktopArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->virtualGeometry() : QRect(0, 0, 1024, 768);
}

} // namespace

QString LumenfoldSettingsFile() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  if (base.isEmpty()) base = QDir::homePath() + "/.config";
  return base + "/Kelm/LumenFold2.ini";
}

std::unique_ptr<QSettings> LumenfoldSettings() {
  return std::make_unique<QSettings>(LumenfoldSettingsFile(), QSettings::IniFormat);
}

QString FormSettingsKey(const QString& formName) {
  return QString::fromLatin1(kSettingsRoot) + '/' + formName;
}

bool SaveFormPlacement(QWidget* window, const QString& key) {
  if (!window || key.isEmpty()) return false;
  auto settings = LumenfoldSettings();
  const QString base = normaliseKey(key) + "/Position/";
  const bool maximised = window->isMaximized();
  // normalGeometry() is the restored rectangle of a maximised (or minimised) window; for a
  // window in normal state it is empty before the first show, so the current geometry serves.
  QRect r = window->normalGeometry();
  if (!maximised || !r.isValid()) r = window->geometry();
  settings->setValue(base + "Restore", maximised);
  settings->setValue(base + "Top", r.top());
  settings->setValue(base + "Left", r.left());
  settings->setValue(base + "Width", r.width());
  settings->setValue(base + "Heigth", r.height());
  settings->sync();
  return settings->status() == QSettings::NoError;
}

bool LoadFormPlacement(QWidget* window, const QString& key, QPoint defaultPos, QSize defaultSize) {
  if (!window || key.isEmpty()) return false;
  auto settings = LumenfoldSettings();
  if (settings->status() != QSettings::NoError) return false;
  const QString base = normaliseKey(key) + "/Position/";
  bool ok = true;
  auto readInt = [&](const char* name, int fallback) {
    const QVariant v = settings->value(base + name);
    if (!v.isValid()) return fallback;
    bool good = false;
    const int n = v.toInt(&good);
    if (!good) ok = false;
    return good ? n : fallback;
  };
  int top = readInt("Top", defaultPos.y());
  int left = readInt("Left", defaultPos.x());
  int width = readInt("Width", defaultSize.width());
  int height = readInt("Heigth", defaultSize.height());
  const bool restore = settings->value(base + "Restore", false).toBool();
  if (!ok) return false;

  const QRect screen = screenArea();
  const QRect desktop = desktopArea();
  if (width > screen.width() || width < 70) width = screen.width();
  if (height > screen.height() || height < 70) height = screen.height();
  if (left < -10 || left > desktop.x() + desktop.width()) left = 0;
  if (top < -10 || top > desktop.y() + desktop.height()) top = 0;

  window->setGeometry(left, top, width, height);
  if (restore) window->setWindowState(window->windowState() | Qt::WindowMaximized);
  return true;
}

void CenterFormOnScreen(QWidget* window) {
  if (!window) return;
  const QRect screen = screenArea();
  const QSize size = window->size();
  window->move(screen.left() + (screen.width() - size.width()) / 2,
               screen.top() + (screen.height() - size.height()) / 2);
}

void RestoreDialogPlacement(QWidget* window, const QString& formName, QSize designSize) {
  if (!window) return;
  if (!LoadFormPlacement(window, FormSettingsKey(formName), QPoint(-1, -1), designSize))
    window->resize(designSize);
  if (window->geometry().top() == -1) CenterFormOnScreen(window);
}
