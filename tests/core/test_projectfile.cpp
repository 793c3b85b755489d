// Project settings and the byte layout of the project file.
#include "core/project.h"
#include "db/sqlaccess.h"
#include "testenv.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <vector>

namespace {

bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Byte offset just after the n-th value (1-based) of a project file, walking the tags.
int offsetAfterValue(const QByteArray& b, int n) {
  int pos = 0;
  for (int v = 0; v < n; ++v) {
    const quint8 tag = quint8(b[pos++]);
    auto u32 = [&](int at) {
      return int(quint8(b[at])) | int(quint8(b[at + 1])) << 8 | int(quint8(b[at + 2])) << 16 |
             int(quint8(b[at + 3])) << 24;
    };
    switch (tag) {
    case 0x02:
      pos += 1;
      break;
    case 0x03:
      pos += 2;
      break;
    case 0x04:
      pos += 4;
      break;
    case 0x06:
      pos += 1 + quint8(b[pos]);
      break;
    case 0x0C:
    case 0x14:
      pos += 4 + u32(pos);
      break;
    case 0x12:
      pos += 4 + 2 * u32(pos);
      break;
    case 0x08:
    case 0x09:
      break;
    default:
      return -1;
    }
  }
  return pos;
}

} // namespace

class TestProjectFile : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void defaultsAndReset() {
    TLumenfoldProject p;
    QCOMPARE(p.RenameStart, 0);
    QVERIFY(p.ZipDatabase);
    QVERIFY(p.ProcessAfterWizard);
    QCOMPARE(p.WizardPages, TWizardPages(0));
    p.ZipFileName = "z.zip";
    p.ZipEnabled = true;
    p.SiteTemplate = "tpl";
    p.Reserved2 = true;
    p.ProcessAfterWizard = false;
    p.Modified = true;
    p.Reset();
    QCOMPARE(p.ConnectionString, "Provider=SQLite;Data Source=" + ProgramFolder() + "db.sqlite");
    QCOMPARE(p.RenameTemplate, QString("%SHORT_ALBUM_NAME%_%N000%.jpg"));
    QCOMPARE(p.RenameStart, 1);
    QCOMPARE(p.WizardPages, TWizardPages(511));
    QCOMPARE(p.ResizeMethod, 3);
    QCOMPARE(p.MediumHeight, 768);
    QVERIFY(!p.Modified);
    // Zip settings, template, reserved flags and the wizard choice survive a reset.
    QCOMPARE(p.ZipFileName, QString("z.zip"));
    QVERIFY(p.ZipEnabled);
    QCOMPARE(p.SiteTemplate, QString("tpl"));
    QVERIFY(p.Reserved2);
    QVERIFY(!p.ProcessAfterWizard);
  }

  void assignKeepsZipFileAndDatabaseFlag() {
    TLumenfoldProject a, b;
    a.Reset();
    a.ZipFileName = "a.zip";
    a.ZipDatabase = false;
    a.ZipEnabled = true;
    a.Reserved1 = true;
    a.ThumbWidth = 321;
    a.FileName = "/x/a.lumenfold";
    b.ZipFileName = "b.zip";
    b.Modified = true;
    b.Assign(a);
    QCOMPARE(b.ZipFileName, QString("b.zip"));
    QVERIFY(b.ZipDatabase);
    QVERIFY(!b.Reserved1);
    QVERIFY(b.Modified);
    QVERIFY(b.ZipEnabled);
    QCOMPARE(b.ThumbWidth, 321);
    QCOMPARE(b.FileName, QString("/x/a.lumenfold"));
  }

  void wizardPagesText() {
    QCOMPARE(TLumenfoldProject::WizardPagesToText(3), QString("WelcomePath selection"));
    QCOMPARE(TLumenfoldProject::WizardPagesToText(511).size(), 87);
    QCOMPARE(TLumenfoldProject::TextToWizardPages("SummaryWelcome"), TWizardPages(1 | 256));
    QCOMPARE(TLumenfoldProject::TextToWizardPages("summary"), TWizardPages(0));
    QCOMPARE(TLumenfoldProject::TextToWizardPages(TLumenfoldProject::WizardPagesToText(0x1A5)),
             TWizardPages(0x1A5));
  }

  void defaultFileBytes() {
    TLumenfoldProject p;
    p.Reset();
    const QByteArray b = p.SettingsToBytes();
    // Marker.
    QCOMPARE(b.left(14), QByteArray("\x06\x0C$lumenFold2@"));
    // Value 3 (ThumbEnabled) follows the connection string; 4 is the width 200.
    const int afterConn = offsetAfterValue(b, 2);
    QCOMPARE(quint8(b[afterConn]), quint8(0x09));
    QCOMPARE(b.mid(afterConn + 1, 3), QByteArray("\x03\xC8\x00", 3));
    // ThumbQuality 90 is value 8.
    const int q = offsetAfterValue(b, 7);
    QCOMPARE(b.mid(q, 2), QByteArray("\x02\x5A"));
    // Value 23: the wizard pages, 87 characters with tag 0x06.
    const int pages = offsetAfterValue(b, 22);
    QCOMPARE(quint8(b[pages]), quint8(0x06));
    QCOMPARE(quint8(b[pages + 1]), quint8(0x57));
    QCOMPARE(offsetAfterValue(b, 33), b.size());
  }

  void integerAndTextTags() {
    TLumenfoldProject p;
    p.Reset();
    const int widthAt = offsetAfterValue(p.SettingsToBytes(), 3);
    const struct {
      int value;
      QByteArray bytes;
    } cases[] = {
        {127, QByteArray("\x02\x7F", 2)},       {128, QByteArray("\x03\x80\x00", 3)},
        {-128, QByteArray("\x02\x80", 2)},      {-129, QByteArray("\x03\x7F\xFF", 3)},
        {32767, QByteArray("\x03\xFF\x7F", 3)}, {32768, QByteArray("\x04\x00\x80\x00\x00", 5)},
        {-1, QByteArray("\x02\xFF", 2)}};
    for (const auto& c : cases) {
      p.ThumbWidth = c.value;
      const QByteArray b = p.SettingsToBytes();
      QCOMPARE(b.mid(widthAt, c.bytes.size()), c.bytes);
    }

    // A long ASCII text uses 0x0C, a non-ASCII one 0x14 with UTF-8 bytes.
    p.ThumbWidth = 200;
    p.ConnectionString = QString(300, 'x');
    QByteArray b = p.SettingsToBytes();
    QCOMPARE(b.mid(14, 5), QByteArray("\x0C\x2C\x01\x00\x00", 5));
    p.ConnectionString = QString::fromUtf8("Provider=SQLite;Data Source=/tmp/Fotky/Žluťoučký.db");
    b = p.SettingsToBytes();
    const QByteArray utf8 = p.ConnectionString.toUtf8();
    QCOMPARE(quint8(b[14]), quint8(0x14));
    QCOMPARE(b.mid(15, 4), QByteArray::fromRawData("\x00\x00\x00\x00", 4)
                               .replace(0, 1, QByteArray(1, char(utf8.size()))));
    QCOMPARE(b.mid(19, utf8.size()), utf8);
  }

  void roundTripThroughFile() {
    TLumenfoldProject a;
    a.Reset();
    a.ConnectionString = env.newDatabase("rt.sqlite");
    a.ThumbWidth = 32768;
    a.MediumHeight = -5;
    a.ThumbFolder = QString::fromUtf8("náhledy");
    a.MediumPrefix = QString(QChar(0xfeff)) + "m_"; // a leading U+FEFF is text, not a mark
    a.RenameTemplate = QString(400, 'r');
    a.ZipFileName = "/somewhere/out.zip";
    a.WizardPages = 0x155;
    a.Reserved3 = true;
    a.ProcessAfterWizard = false;
    a.ZipDatabase = false;
    a.SiteTemplate = "dark";
    a.ZipEnabled = true;
    a.FileName = env.path("rt.lumenfold");
    a.Modified = true;
    QVERIFY(a.WriteSettings());
    QVERIFY(!a.Modified);

    TLumenfoldProject b;
    b.Modified = true;
    QVERIFY(b.ReadSettings(a.FileName));
    QVERIFY(!b.Modified);
    QCOMPARE(b.FileName, a.FileName);
    QCOMPARE(b.SettingsToBytes(), a.SettingsToBytes());
    QCOMPARE(b.ThumbFolder, QString::fromUtf8("náhledy"));
    QCOMPARE(b.MediumPrefix, a.MediumPrefix);
    QCOMPARE(CurrentConnectionString(), a.ConnectionString);
    QCOMPARE(ReadTestFile(a.FileName), a.SettingsToBytes());
  }

  // The pixel limit and the metadata choice follow the 33 classic values as (name, value) text
  // pairs, written only when they differ from their defaults.
  void settingsAfterTheClassicValues() {
    TLumenfoldProject a;
    a.Reset();
    a.ZipFileName = "/x/out.zip";
    const QByteArray classic = a.SettingsToBytes();
    QCOMPARE(offsetAfterValue(classic, 33), int(classic.size()));
    a.MaxMegapixels = 350;
    a.OutputMetadata = omNone;
    const QByteArray extended = a.SettingsToBytes();
    QVERIFY(extended.startsWith(classic));
    QCOMPARE(offsetAfterValue(extended, 37), int(extended.size()));

    TLumenfoldProject b;
    QVERIFY(b.SettingsFromBytes(extended, "/x/site.lumenfold"));
    QCOMPARE(b.MaxMegapixels, 350);
    QCOMPARE(b.OutputMetadata, int(omNone));
    QCOMPARE(b.SettingsToBytes(), extended);
    // Reading a classic file brings the defaults back; Assign and Reset carry them.
    QVERIFY(b.SettingsFromBytes(classic, "/x/site.lumenfold"));
    QCOMPARE(b.MaxMegapixels, kDefaultMaxMegapixels);
    QCOMPARE(b.OutputMetadata, int(omSafe));
    b.Assign(a);
    QCOMPARE(b.MaxMegapixels, 350);
    b.Reset();
    QCOMPARE(b.MaxMegapixels, kDefaultMaxMegapixels);

    auto pair = [](const QByteArray& name, const QByteArray& value) {
      return char(0x06) + QByteArray(1, char(name.size())) + name + char(0x06) +
             QByteArray(1, char(value.size())) + value;
    };
    // Unknown names and values out of range are passed over; the rest still counts.
    const QByteArray odd = classic + pair("FutureSetting", "x") + pair("MaxMegapixels", "0") +
                           pair("OutputMetadata", "7") + pair("MaxMegapixels", "12");
    QVERIFY(b.SettingsFromBytes(odd, "/x/site.lumenfold"));
    QCOMPARE(b.MaxMegapixels, 12);
    QCOMPARE(b.OutputMetadata, int(omSafe));
    // A pair cut anywhere is a damaged file.
    for (int n = classic.size() + 1; n < extended.size(); ++n) {
      if (n == offsetAfterValue(extended, 35)) continue; // one whole pair
      TLumenfoldProject c;
      QVERIFY2(!c.SettingsFromBytes(extended.left(n), "/x/site.lumenfold"),
               qPrintable(QString::number(n)));
      QVERIFY(c.Modified);
    }
  }

  void emptyZipFileNameTakesProjectFolder() {
    TLumenfoldProject a;
    a.Reset();
    a.FileName = env.makeFolder("proj") + "/p.lumenfold";
    QVERIFY(a.WriteSettings());
    TLumenfoldProject b;
    QVERIFY(b.ReadSettings(a.FileName));
    QCOMPARE(b.ZipFileName, env.path("proj") + QDir::separator() + "albums.zip");
  }

  void markerIsNotCompared() {
    TLumenfoldProject a;
    a.Reset();
    a.ThumbWidth = 77;
    QByteArray bytes = a.SettingsToBytes();
    bytes.replace(0, 14,
                  QByteArray("\x06\x03"
                             "abc"));
    const QString path = env.path("othermarker.lumenfold");
    QVERIFY(writeAll(path, bytes));
    TLumenfoldProject b;
    QVERIFY(b.ReadSettings(path));
    QCOMPARE(b.ThumbWidth, 77);
  }

  void readsUtf16Texts() {
    TLumenfoldProject a;
    a.Reset();
    QByteArray bytes = a.SettingsToBytes();
    // Replace value 6 (ThumbFolder) by a UTF-16 text.
    const int at = offsetAfterValue(bytes, 5), end = offsetAfterValue(bytes, 6);
    const QString folder = QString::fromUtf8("šablony");
    QByteArray utf16("\x12", 1);
    const int n = int(folder.size());
    utf16 += QByteArray(1, char(n)) + QByteArray(3, '\0');
    for (QChar c : folder)
      utf16 += QByteArray(1, char(c.unicode() & 0xFF)) + QByteArray(1, char(c.unicode() >> 8));
    bytes.replace(at, end - at, utf16);
    const QString path = env.path("utf16.lumenfold");
    QVERIFY(writeAll(path, bytes));
    TLumenfoldProject b;
    QVERIFY(b.ReadSettings(path));
    QCOMPARE(b.ThumbFolder, folder);
    QCOMPARE(b.ThumbPrefix, QString("tn_"));
  }

  void fileEndingAfterValue25() {
    TLumenfoldProject a;
    a.Reset();
    a.RenameTemplate = "%PICTURE_ID%.jpg";
    const QByteArray bytes = a.SettingsToBytes();
    const QString path = env.path("short.lumenfold");
    QVERIFY(writeAll(path, bytes.left(offsetAfterValue(bytes, 25))));
    TLumenfoldProject b;
    b.FileName = "/before.lumenfold";
    b.ZipFileName = "keep.zip";
    QVERIFY(!b.ReadSettings(path));
    QCOMPARE(b.RenameTemplate, QString("%PICTURE_ID%.jpg"));
    QCOMPARE(b.FileName, QString("/before.lumenfold"));
    QCOMPARE(b.ZipFileName, QString("keep.zip"));
    QVERIFY(b.Modified);
  }

  void malformedFilesNeverCrash() {
    TLumenfoldProject a;
    a.Reset();
    const QByteArray good = a.SettingsToBytes();
    const QString path = env.path("bad.lumenfold");
    // A length field that claims 2 GiB, a negative one, a wrong tag, an empty file.
    QByteArray hugeLength = good.left(14) + QByteArray("\x0C\xFF\xFF\xFF\x7F", 5) + "abc";
    QByteArray negativeLength = good.left(14) + QByteArray("\x14\xFF\xFF\xFF\xFF", 5) + "abc";
    QByteArray utf16Huge = good.left(14) + QByteArray("\x12\xFF\xFF\xFF\x3F", 5) + "abcd";
    QByteArray badTag = good;
    badTag[offsetAfterValue(good, 3)] = 0x07;
    for (const QByteArray& bytes : {hugeLength, negativeLength, utf16Huge, badTag, QByteArray()}) {
      QVERIFY(writeAll(path, bytes));
      TLumenfoldProject b;
      b.ConnectionString = "unchanged";
      QVERIFY(!b.ReadSettings(path));
      QVERIFY(b.Modified);
      QCOMPARE(b.ConnectionString, bytes == badTag ? a.ConnectionString : QString("unchanged"));
    }
    // Every truncation of a good file fails cleanly.
    for (int n = 0; n < good.size(); ++n) {
      QVERIFY(writeAll(path, good.left(n)));
      TLumenfoldProject b;
      QVERIFY(!b.ReadSettings(path));
    }
  }

  // A file cut inside a text: the reader must not take the bytes after the end of the data as
  // the rest of the text. The data lies in a buffer of exactly its size, so an address sanitizer
  // sees any read past it; the field's value shows it without one.
  void cutInsideATextLeavesTheFieldAlone() {
    struct Case {
      const char* name;
      QString value; // the connection string (value 2): short, long, UTF-8
    };
    const QString longText = "Provider=SQLite;Data Source=/" + QString(300, 'x') + "/db.sqlite";
    for (const Case& c : {Case{"short", "Provider=SQLite;Data Source=/p/db.sqlite"},
                          Case{"long", longText}, Case{"utf8", "Data Source=/fotky/léto.sqlite"}}) {
      TLumenfoldProject a;
      a.Reset();
      a.ConnectionString = c.value;
      const QByteArray good = a.SettingsToBytes();
      const int start = offsetAfterValue(good, 1), end = offsetAfterValue(good, 2);
      for (int cut : {start + 3, (start + end) / 2, end - 1}) {
        std::vector<char> exact(good.constData(), good.constData() + cut);
        const QByteArray bytes = QByteArray::fromRawData(exact.data(), qsizetype(exact.size()));
        TLumenfoldProject b;
        b.ConnectionString = "before";
        QVERIFY2(!b.SettingsFromBytes(bytes, "/x/site.lumenfold"), c.name);
        QCOMPARE(b.ConnectionString, QString("before"));
        QVERIFY(b.Modified);
      }
    }
    // A UTF-16 text (tag 0x12) whose count runs past the end.
    QByteArray utf16 = QByteArray("\x06\x0C$lumenFold2@", 14) + QByteArray("\x12\x05\0\0\0", 5);
    utf16 += QByteArray("a\0b\0c\0d\0", 8); // four of the five units
    std::vector<char> exact(utf16.constData(), utf16.constData() + utf16.size());
    TLumenfoldProject b;
    b.ConnectionString = "before";
    QVERIFY(!b.SettingsFromBytes(QByteArray::fromRawData(exact.data(), qsizetype(exact.size())),
                                 "/x/site.lumenfold"));
    QCOMPARE(b.ConnectionString, QString("before"));
  }

  void missingFileChangesNothing() {
    TLumenfoldProject b;
    b.ThumbWidth = 5;
    QVERIFY(!b.ReadSettings(env.path("nothere.lumenfold")));
    QCOMPARE(b.ThumbWidth, 5);
    QVERIFY(!b.Modified);
    QVERIFY(!b.LoadFromFile(env.path("nothere.lumenfold")));
  }

  void failedWriteKeepsOldFileAndReports() {
    RecordingPrompt prompt;
    // No file name at all.
    TLumenfoldProject c;
    c.Modified = true;
    QVERIFY(!c.WriteSettings());
    QVERIFY(c.Modified);
    QCOMPARE(prompt.errors().size(), 1);

    // A folder where the file should be: nothing is replaced.
    TLumenfoldProject d;
    d.Reset();
    d.FileName = env.makeFolder("isafolder.lumenfold");
    QVERIFY(QFile::copy(ProgramFolder() + "template.db", d.FileName + "/inside"));
    d.Modified = true;
    QVERIFY(!d.WriteSettings());
    QVERIFY(d.Modified);
    QVERIFY(QFileInfo(d.FileName + "/inside").isFile());
    QCOMPARE(prompt.errors().size(), 2);

    // A folder that cannot be written: the old file stays as it was.
    TLumenfoldProject a;
    a.Reset();
    a.FileName = env.makeFolder("ro") + "/p.lumenfold";
    a.ThumbWidth = 111;
    QVERIFY(a.WriteSettings());
    const QByteArray before = ReadTestFile(a.FileName);
    QVERIFY(QFile::setPermissions(env.path("ro"), QFile::ReadOwner | QFile::ExeOwner));
    a.ThumbWidth = 222;
    a.Modified = true;
    const bool written = a.WriteSettings();
    QFile::setPermissions(env.path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (written) QSKIP("permissions are not enforced for this user");
    QVERIFY(a.Modified);
    QCOMPARE(prompt.errors().size(), 3);
    QCOMPARE(ReadTestFile(a.FileName), before);
  }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_projectfile.moc"
