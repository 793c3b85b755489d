#include "cli/settingfields.h"

#include "core/outputsettings.h"
#include "core/project.h"

#include <limits>

namespace {

constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr int kIntMax = std::numeric_limits<int>::max();
const char* const* const kPageNames = WizardPageNames;
constexpr int kPageCount = kWizardPageCount;

#define LF_BOOL(F)                                                                                 \
  TSettingField {                                                                                  \
#F, TSettingField::Boolean, 0, 1,                                                              \
        [](const TLumenfoldProject&                                                                \
               p) { return QJsonValue(bool(p.F)); }, [](TLumenfoldProject & p,                     \
                                                        const QJsonValue& v) { p.F = v.toBool(); } \
  }
#define LF_INT(F, MIN, MAX)                                                                        \
  TSettingField {                                                                                  \
#F, TSettingField::Integer, MIN, MAX,                                                          \
        [](const TLumenfoldProject&                                                                \
               p) { return QJsonValue(int(p.F)); }, [](TLumenfoldProject & p,                      \
                                                       const QJsonValue& v) { p.F = v.toInt(); }   \
  }
#define LF_TEXT(F)                                                                                 \
  TSettingField {                                                                                  \
#F, TSettingField::Text, 0, 0,                                                                 \
        [](const TLumenfoldProject&                                                                \
               p) { return QJsonValue(p.F); }, [](TLumenfoldProject & p,                           \
                                                  const QJsonValue& v) { p.F = v.toString(); }     \
  }

} // namespace

const std::vector<TSettingField>& SettingFields() {
  static const std::vector<TSettingField> fields = {
      LF_TEXT(ConnectionString),
      LF_BOOL(ThumbEnabled),
      LF_INT(ThumbWidth, 1, kMaxOutputSide),
      LF_INT(ThumbHeight, 1, kMaxOutputSide),
      LF_TEXT(ThumbFolder),
      LF_TEXT(ThumbPrefix),
      LF_INT(ThumbQuality, 1, 100),
      LF_BOOL(MediumEnabled),
      LF_INT(MediumWidth, 1, kMaxOutputSide),
      LF_INT(MediumHeight, 1, kMaxOutputSide),
      LF_TEXT(MediumFolder),
      LF_TEXT(MediumPrefix),
      LF_INT(MediumQuality, 1, 100),
      LF_BOOL(LargeEnabled),
      LF_TEXT(LargeFolder),
      LF_TEXT(LargePrefix),
      LF_INT(LargeQuality, 1, 100),
      LF_BOOL(WarnUpscale),
      LF_BOOL(NeverUpscale),
      LF_INT(FileNameCase, 0, 2),
      LF_INT(ResizeMethod, 0, 4),
      TSettingField{"WizardPages", TSettingField::Pages, 0, (1 << kPageCount) - 1,
                    [](const TLumenfoldProject& p) {
                      return QJsonValue(TLumenfoldProject::WizardPagesToText(p.WizardPages));
                    },
                    [](TLumenfoldProject& p, const QJsonValue& v) {
                      p.WizardPages = TLumenfoldProject::TextToWizardPages(v.toString());
                    }},
      LF_INT(RenameStart, kIntMin, kIntMax),
      LF_TEXT(RenameTemplate),
      LF_TEXT(ZipFileName),
      LF_BOOL(Reserved1),
      LF_BOOL(Reserved2),
      LF_BOOL(Reserved3),
      LF_BOOL(ProcessAfterWizard),
      LF_BOOL(ZipDatabase),
      LF_TEXT(SiteTemplate),
      LF_TEXT(SiteFolder),
      LF_BOOL(ZipEnabled),
      LF_INT(MaxMegapixels, 1, kMaxMaxMegapixels),
      LF_INT(OutputMetadata, omSafe, omNone),
      TSettingField{
          "ChromaSubsampling", TSettingField::Integer, cs420, cs444,
          [](const TLumenfoldProject& p) { return QJsonValue(p.ChromaSubsampling); },
          [](TLumenfoldProject& p, const QJsonValue& v) { p.ChromaSubsampling = v.toInt(); },
          [](int v) { return IsChromaSubsampling(v); }},
      LF_TEXT(SiteAddress),
      LF_INT(SiteDownload, 0, 2),
      LF_BOOL(SiteCameraDetails),
  };
  return fields;
}

const TSettingField* FindSettingField(const QString& name) {
  for (const TSettingField& f : SettingFields())
    if (name == QLatin1String(f.name)) return &f;
  return nullptr;
}

namespace {

bool parsePages(const QString& text, QJsonValue& value, QString& reason) {
  // The stored form: page names run together (also what `info` shows).
  QString stored;
  const QString trimmed = text.trimmed();
  bool isNumber = false;
  const int bits = trimmed.toInt(&isNumber);
  if (isNumber) {
    if (bits < 0 || bits >= (1 << kPageCount)) {
      reason = QStringLiteral("page bits must be 0..%1").arg((1 << kPageCount) - 1);
      return false;
    }
    for (int i = 0; i < kPageCount; ++i)
      if (bits & (1 << i)) stored += QLatin1String(kPageNames[i]);
    value = stored;
    return true;
  }
  if (trimmed.contains(QLatin1Char(','))) {
    QString parts[kPageCount];
    for (const QString& raw : trimmed.split(QLatin1Char(','))) {
      const QString part = raw.trimmed();
      if (part.isEmpty()) continue;
      bool isIndex = false;
      const int index = part.toInt(&isIndex);
      int found = -1;
      if (isIndex && index >= 0 && index < kPageCount) found = index;
      for (int i = 0; found < 0 && i < kPageCount; ++i)
        if (part.compare(QLatin1String(kPageNames[i]), Qt::CaseInsensitive) == 0) found = i;
      if (found < 0) {
        reason = QStringLiteral("unknown wizard page \"%1\"").arg(part);
        return false;
      }
      parts[found] = QLatin1String(kPageNames[found]);
    }
    for (const QString& p : parts)
      stored += p;
    value = stored;
    return true;
  }
  // A text that names no page at all is most likely a typing error (an empty text clears all).
  bool any = false;
  for (int i = 0; i < kPageCount; ++i)
    any = any || text.contains(QLatin1String(kPageNames[i]));
  if (!any && !trimmed.isEmpty()) {
    reason = QStringLiteral("no wizard page name in \"%1\"").arg(text);
    return false;
  }
  value = text;
  return true;
}

} // namespace

bool ParseSettingValue(const TSettingField& field, const QString& text, QJsonValue& value,
                       QString& reason) {
  switch (field.kind) {
  case TSettingField::Boolean: {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes") ||
        t == QLatin1String("on"))
      value = true;
    else if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no") ||
             t == QLatin1String("off"))
      value = false;
    else {
      reason = QStringLiteral("expected true or false");
      return false;
    }
    return true;
  }
  case TSettingField::Integer: {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok, 10);
    if (!ok) {
      reason = QStringLiteral("expected a whole number");
      return false;
    }
    if (n < field.min || n > field.max) {
      reason = QStringLiteral("must be between %1 and %2").arg(field.min).arg(field.max);
      return false;
    }
    if (field.allowed && !field.allowed(int(n))) {
      reason = QStringLiteral("must be %1 or %2").arg(field.min).arg(field.max);
      return false;
    }
    value = int(n);
    return true;
  }
  case TSettingField::Text:
    value = text;
    return true;
  case TSettingField::Pages:
    return parsePages(text, value, reason);
  }
  return false;
}

QString SettingText(const TSettingField& field, const TLumenfoldProject& project) {
  const QJsonValue v = field.get(project);
  switch (field.kind) {
  case TSettingField::Boolean:
    return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
  case TSettingField::Integer:
    return QString::number(v.toInt());
  default:
    return v.toString();
  }
}
