#include "ui/common/colourscheme.h"

#include "ui/common/settingsstore.h"

#include <QApplication>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>

namespace {

const QString kKey = QStringLiteral("Software/Kelm/LumenFold/2.0/View/ColourScheme");

// The platform's palette before the first change: what "follow the system" follows.
const QPalette& systemPalette() {
  static const QPalette palette = QApplication::palette();
  return palette;
}

bool systemIsDark() {
  const QString gtk = qEnvironmentVariable("GTK_THEME");
  if (gtk.endsWith(QStringLiteral(":dark"), Qt::CaseInsensitive)) return true;
  const QPalette& p = systemPalette();
  return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness();
}

} // namespace

TColourScheme StoredColourScheme() {
  const QString v = LumenfoldSettings()->value(kKey).toString();
  if (v == QLatin1String("light")) return TColourScheme::Light;
  if (v == QLatin1String("dark")) return TColourScheme::Dark;
  return TColourScheme::System;
}

void StoreColourScheme(TColourScheme scheme) {
  auto s = LumenfoldSettings();
  s->setValue(kKey, scheme == TColourScheme::Light  ? QStringLiteral("light")
                    : scheme == TColourScheme::Dark ? QStringLiteral("dark")
                                                    : QStringLiteral("system"));
  s->sync();
}

bool ColourSchemeIsDark(TColourScheme scheme) {
  switch (scheme) {
  case TColourScheme::Light:
    return false;
  case TColourScheme::Dark:
    return true;
  case TColourScheme::System:
    break;
  }
  return systemIsDark();
}

QPalette DarkPalette() {
  QPalette p;
  const QColor window(45, 45, 48), base(30, 30, 32), text(228, 228, 228), dim(128, 128, 128);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, window);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, dim);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, window);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(255, 90, 90));
  p.setColor(QPalette::Light, QColor(70, 70, 74));
  p.setColor(QPalette::Midlight, QColor(58, 58, 62));
  p.setColor(QPalette::Mid, QColor(40, 40, 42));
  p.setColor(QPalette::Dark, QColor(22, 22, 24));
  p.setColor(QPalette::Shadow, Qt::black);
  p.setColor(QPalette::Highlight, QColor(52, 120, 198));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Link, QColor(110, 170, 240));
  p.setColor(QPalette::LinkVisited, QColor(170, 140, 230));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, dim);
  p.setColor(QPalette::Disabled, QPalette::Base, window);
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 84));
  return p;
}

QPalette LightPalette() {
  QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
  QPalette p = fusion ? fusion->standardPalette() : QPalette();
  delete fusion;
  return p;
}

void ApplyColourScheme(TColourScheme scheme) {
  (void)systemPalette(); // remember the platform's palette before the first change
  if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
    QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(ColourSchemeIsDark(scheme) ? DarkPalette() : LightPalette());
}

QColor NoteColour(const QPalette& palette, bool problem) {
  const bool dark = palette.color(QPalette::Base).lightness() < 128;
  if (problem) return dark ? QColor(255, 128, 128) : QColor(0x80, 0x00, 0x00);
  return dark ? QColor(150, 180, 255) : QColor(0x00, 0x00, 0x80);
}

QString NoteStyleSheet(const QPalette& palette, bool problem) {
  if (palette.color(QPalette::Base).lightness() >= 128)
    return problem ? QStringLiteral("color: maroon;") : QStringLiteral("color: navy;");
  return QStringLiteral("color: %1;").arg(NoteColour(palette, problem).name());
}
