// Signature items, placements and signatures: persistence, linking, copies and the editors'
// write-back.
#include "core/signature.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "testenv.h"

#include <QtTest>

namespace {

int countRows(const QString& cs, const QString& sql) {
  TQuery q;
  if (OpenQuery(cs, sql, q) != 0) return -1;
  const int n = q->FirstAsInteger();
  CloseQuery(q);
  return n;
}

// "item:location:order:x:y" for every placement row of a signature, in sign_order.
QStringList mapRows(const QString& cs, int signatureId) {
  QStringList rows;
  TQuery q;
  if (OpenQuery(cs, FormatSql(SQL_SIGNATURE_MAP_OF_SIGNATURE, {SqlInt(signatureId)}), q) != 0)
    return {"error"};
  for (; !q->Eof(); q->Next())
    rows << QString("%1:%2:%3:%4:%5")
                .arg(q->AsInteger("signature_item_id"))
                .arg(q->AsInteger("location"))
                .arg(q->AsInteger("sign_order"))
                .arg(q->AsInteger("offset_x"))
                .arg(q->AsInteger("offset_y"));
  CloseQuery(q);
  return rows;
}

TLumenfoldSignatureMap* place(TLumenfoldSignature& s, TLumenfoldSignatureItem* item, int location,
                              QPoint offset = {-1, -1}) {
  auto* map = new TLumenfoldSignatureMap(s.Id, item->Id, s.Maps.Count(), item);
  map->Location = location;
  map->Offset = offset;
  s.Maps.Add(item->Name, map);
  return map;
}

} // namespace

class TestSignature : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cs;

  // Loads items and signatures the way a project does.
  void load(TLumenfoldSignatureItemList& items, TLumenfoldSignatureList& signatures) {
    items.Clear();
    QVERIFY(items.LoadAll());
    signatures.Clear();
    QVERIFY(signatures.LoadAll());
    signatures.LinkItems(&items);
  }

private slots:
  void init() {
    cs = env.useNewDatabase();
    QVERIFY(!cs.isEmpty());
  }

  void textOrImageInvariant() {
    TLumenfoldSignatureItem item;
    QCOMPARE(item.Name, QString("<SignatureItem>"));
    QCOMPARE(item.Caption(), QString("@ lumenfold"));
    QCOMPARE(item.FontName, QString("Tahoma"));
    QCOMPARE(item.FontSize, 8);
    QCOMPARE(item.FontStyle, TFontStyles(TFontStyle::fsBold));
    QCOMPARE(item.ImageTransparent, 0xFFFFFF);
    item.SetImageName("/logo.png");
    QVERIFY(item.Caption().isEmpty());
    item.SetImageName("/logo.png"); // same value changes nothing
    item.SetCaption("text");
    QVERIFY(item.ImageName().isEmpty());
    item.SetImageName("/a.png");
    item.SetImageName(""); // empty clears only its own field
    QVERIFY(item.ImageName().isEmpty());
    QVERIFY(item.Caption().isEmpty());
    item.SetCaption("x");
    item.SetCaption("");
    QVERIFY(item.Caption().isEmpty());
  }

  void itemRoundTrip() {
    TLumenfoldSignatureItem a("first");
    a.SetCaption("Photo 'by' me %PICTURE_TITLE%");
    a.FontName = "DejaVu Sans";
    a.FontSize = 14;
    a.FontStyle = TFontStyle::fsItalic | TFontStyle::fsUnderline;
    a.FontColor = 0x0000FF;
    QVERIFY(a.Insert());
    QCOMPARE(a.Id, 1);
    TLumenfoldSignatureItem b("logo");
    b.SetImageName(env.path("logo.png"));
    b.ImageTransparent = 0x00FF00;
    QVERIFY(b.Save());
    QCOMPARE(b.Id, 2);

    TQuery q;
    QCOMPARE(OpenQuery(cs, "SELECT font_style FROM signature_item WHERE signature_item_id=1", q),
             0);
    QCOMPARE(q->AsString("font_style"), QString(",fsItalic,fsUnderline"));
    CloseQuery(q);

    TLumenfoldSignatureItemList items;
    QVERIFY(items.LoadAll());
    QCOMPARE(items.Count(), 2);
    QVERIFY(items.Items(0)->Equals(a));
    QVERIFY(items.Items(1)->Equals(b));
    QCOMPARE(items.Items(0)->Caption(), QString("Photo 'by' me %PICTURE_TITLE%"));
    QCOMPARE(items.Items(0)->FontStyle, TFontStyle::fsItalic | TFontStyle::fsUnderline);
    QCOMPARE(items.Strings(1), QString("logo"));
    QCOMPARE(items.FindById(2), items.Items(1));
    QCOMPARE(items.FindById(3), nullptr);

    // Update rewrites the row; delete removes it.
    a.Name = "renamed";
    a.FontStyle = {};
    QVERIFY(a.Update());
    QVERIFY(b.Delete());
    items.Clear();
    QVERIFY(items.LoadAll());
    QCOMPARE(items.Count(), 1);
    QCOMPARE(items.Items(0)->Name, QString("renamed"));
    QCOMPARE(items.Items(0)->FontStyle, TFontStyles());

    // Copies end with the source's names and are independent objects.
    TLumenfoldSignatureItemList copy;
    copy.Assign(items);
    QCOMPARE(copy.Strings(0), QString("renamed"));
    QVERIFY(copy.Items(0)->Equals(*items.Items(0)));
    QVERIFY(copy.Items(0) != items.Items(0));
  }

  void nullColumnsReadAsZeroOrEmpty() {
    QCOMPARE(ExecSQL(cs, "INSERT INTO signature_item (signature_item_id) VALUES (5)"), 1);
    QCOMPARE(ExecSQL(cs, "INSERT INTO signature (signature_id) VALUES (3)"), 1);
    TLumenfoldSignatureItemList items;
    TLumenfoldSignatureList signatures;
    load(items, signatures);
    QCOMPARE(items.Count(), 1);
    QCOMPARE(items.Items(0)->Id, 5);
    QVERIFY(items.Items(0)->Name.isEmpty());
    QVERIFY(items.Items(0)->Caption().isEmpty());
    QVERIFY(items.Items(0)->ImageName().isEmpty());
    QCOMPARE(items.Items(0)->FontStyle, TFontStyles());
    QCOMPARE(signatures.Count(), 1);
    QVERIFY(signatures.Signatures(0)->Name.isEmpty());
    QCOMPARE(signatures.Signatures(0)->Maps.Count(), 0);
  }

  void placementsLinkAndKeepMissingItems() {
    TLumenfoldSignatureItem a("a"), b("b");
    QVERIFY(a.Insert());
    QVERIFY(b.Insert());
    TLumenfoldSignature s("sig");
    place(s, &a, 1, {2, 3});
    place(s, &b, 9);
    place(s, &a, 5, {0, 0});
    QVERIFY(s.Insert());
    QCOMPARE(s.Id, 1);
    QCOMPARE(mapRows(cs, 1), QStringList({"1:1:0:2:3", "2:9:1:-1:-1", "1:5:2:0:0"}));

    // Item b goes away behind the signature's back.
    QVERIFY(b.Delete());
    TLumenfoldSignatureItemList items;
    TLumenfoldSignatureList signatures;
    load(items, signatures);
    QCOMPARE(signatures.Count(), 1);
    const TLumenfoldSignature* loaded = signatures.Signatures(0);
    QCOMPARE(loaded->Items, &items);
    QCOMPARE(loaded->Maps.Count(), 3);
    QCOMPARE(loaded->Maps.Maps(0)->Item, items.FindById(1));
    QCOMPARE(loaded->Maps.Maps(1)->Item, nullptr);
    QCOMPARE(loaded->Maps.Maps(2)->Item, items.FindById(1));
    QCOMPARE(loaded->Maps.Strings(0), QString("a"));
    QCOMPARE(loaded->Maps.Maps(0)->Offset, QPoint(2, 3));
    QCOMPARE(loaded->Maps.IndexOfItem(2), 1);
    QCOMPARE(loaded->Maps.IndexOfItem(7), -1);

    // A placement counts as a use even when it is never drawn.
    QVERIFY(signatures.IsItemUsed(&b));
    QVERIFY(signatures.IsItemUsed(items.Items(0)));
    QVERIFY(!signatures.IsItemUsed(42));
    QVERIFY(!signatures.IsItemUsed(nullptr));

    signatures.Signatures(0)->Maps.RefreshCaptions();
    QCOMPARE(loaded->Maps.Strings(0), QString("a (Top - Left)"));
    QCOMPARE(loaded->Maps.Strings(2), QString("a (Center)"));
  }

  void updateRewritesPlacementsInListOrder() {
    TLumenfoldSignatureItem a("a"), b("b"), c("c");
    QVERIFY(a.Insert() && b.Insert() && c.Insert());
    TLumenfoldSignature s("sig");
    place(s, &a, 1);
    place(s, &b, 2);
    place(s, &c, 3);
    QVERIFY(s.Save());
    // Move the first placement down, as the editor does, and drop the last.
    s.Maps.Exchange(0, 1);
    s.Maps.Maps(0)->Order = 0;
    s.Maps.Maps(1)->Order = 1;
    s.Maps.Delete(2);
    s.Name = "it's renamed";
    QVERIFY(s.Save());
    QCOMPARE(mapRows(cs, s.Id), QStringList({"2:2:0:-1:-1", "1:1:1:-1:-1"}));
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM signature_map"), 2);
    TLumenfoldSignatureItemList items;
    TLumenfoldSignatureList signatures;
    load(items, signatures);
    QCOMPARE(signatures.Signatures(0)->Name, QString("it's renamed"));
    QCOMPARE(signatures.Signatures(0)->Maps.Maps(0)->ItemId, 2);

    // Delete removes the row and its placements, and nothing of other signatures.
    TLumenfoldSignature other("other");
    place(other, &c, 4);
    QVERIFY(other.Insert());
    QVERIFY(s.Delete());
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM signature"), 1);
    QCOMPARE(mapRows(cs, other.Id), QStringList({"3:4:0:-1:-1"}));
  }

  void failedPlacementWriteLeavesTheSignatureWhole() {
    RecordingPrompt prompt;
    TLumenfoldSignatureItem a("a"), b("b");
    QVERIFY(a.Insert() && b.Insert());
    TLumenfoldSignature s("sig");
    place(s, &a, 1);
    place(s, &b, 2);
    QVERIFY(s.Insert());
    // The database refuses placements of item 2 from now on.
    QVERIFY(ExecSQL(cs, "CREATE TRIGGER refuse BEFORE INSERT ON signature_map WHEN "
                        "NEW.signature_item_id=2 BEGIN SELECT RAISE(ABORT, 'refused'); END") >= 0);
    s.Name = "changed";
    s.Maps.Maps(0)->Location = 7;
    QVERIFY(!s.Update());
    QCOMPARE(mapRows(cs, s.Id), QStringList({"1:1:0:-1:-1", "2:2:1:-1:-1"}));
    TLumenfoldSignatureList signatures;
    QVERIFY(signatures.LoadAll());
    QCOMPARE(signatures.Signatures(0)->Name, QString("sig"));

    // A new signature whose placements cannot be written is not stored at all.
    TLumenfoldSignature n("new");
    place(n, &a, 3);
    place(n, &b, 3);
    QVERIFY(!n.Insert());
    QCOMPARE(n.Id, -1);
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM signature"), 1);
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM signature_map"), 2);
    QVERIFY(!prompt.errors().isEmpty());

    // A missing database: writes fail, loads report failure and stay empty.
    SetCurrentConnectionString("Provider=SQLite;Data Source=" + env.path("missing.sqlite"));
    QVERIFY(!a.Update());
    QVERIFY(!a.Delete());
    TLumenfoldSignatureItem fresh;
    QVERIFY(!fresh.Insert());
    QCOMPARE(fresh.Id, -1);
    QVERIFY(!s.Delete());
    TLumenfoldSignatureItemList items;
    QVERIFY(!items.LoadAll());
    signatures.Clear();
    QVERIFY(!signatures.LoadAll());
    QCOMPARE(signatures.Count(), 0);
  }

  void copiesAreUnlinkedAndNamedAfterTheirSources() {
    TLumenfoldSignatureItemList items;
    auto* item = new TLumenfoldSignatureItem("logo");
    item->Id = 4;
    items.Add(item->Name, item);
    TLumenfoldSignatureList list;
    auto* s = new TLumenfoldSignature("sig", &items);
    s->Id = 9;
    place(*s, item, 6, {5, 6});
    list.Add(s->Name, s);

    TLumenfoldSignatureList copy;
    copy.Assign(list);
    QCOMPARE(copy.Count(), 1);
    const TLumenfoldSignature* c = copy.Signatures(0);
    QCOMPARE(copy.Strings(0), QString("sig"));
    QCOMPARE(c->Items, &items);
    QCOMPARE(c->Maps.Owner, c);
    QCOMPARE(c->Maps.Maps(0)->Item, nullptr);
    QCOMPARE(c->Maps.Strings(0), QString("logo"));
    QVERIFY(c->Equals(*s));
    c->Maps.Maps(0)->Location = 5;
    QVERIFY(!c->Equals(*s));
    copy.LinkItems(&items);
    QCOMPARE(c->Maps.Maps(0)->Item, item);

    copy.Signatures(0)->Name = "other";
    copy.RefreshNames();
    QCOMPARE(copy.Strings(0), QString("other"));
    QCOMPARE(list.IndexOfId(9), 0);
    QCOMPARE(list.FindById(8), nullptr);

    QCOMPARE(SignatureLocationLabels().size(), 10);
    QCOMPARE(SignatureLocationLabel(0), QString("Offset as absolute coordinates"));
    QCOMPARE(SignatureLocationLabel(6), QString("Right - Center"));
    QCOMPARE(SignatureLocationLabel(10), QString());
  }

  void itemWriteBackReconciles() {
    TLumenfoldSignatureItemList project;
    for (const char* name : {"keep", "change", "drop"}) {
      auto* item = new TLumenfoldSignatureItem(name);
      QVERIFY(item->Insert());
      project.Add(item->Name, item);
    }
    TLumenfoldSignatureItemList copy;
    copy.Assign(project);
    copy.Delete(2);
    copy.Items(1)->Name = "changed";
    copy.Items(1)->SetImageName("/x.png");
    copy.Add("<SignatureItem>", new TLumenfoldSignatureItem);
    auto* second = new TLumenfoldSignatureItem("second new");
    copy.Add(second->Name, second);
    TLumenfoldSignatureItem* keep = project.Items(0);
    // A signature still places the dropped item: it must not keep a pointer to the freed object.
    TLumenfoldSignatureList signatures;
    auto* s = new TLumenfoldSignature("s", &project);
    place(*s, project.Items(2), 9);
    place(*s, keep, 9);
    signatures.Add(s->Name, s);

    QVERIFY(ApplyItemEdits(project, copy, &signatures));
    const TLumenfoldSignatureItem* relinked = s->Maps.Maps(0)->Item;
    QVERIFY(!relinked || project.IndexOfObject(relinked) >= 0);
    QCOMPARE(s->Maps.Maps(1)->Item, keep);
    QCOMPARE(project.Count(), 4);
    QCOMPARE(project.Items(0), keep);
    QCOMPARE(project.Strings(1), QString("changed"));
    // Ids are MAX + 1 after the deletes, in the order the user added the items.
    QCOMPARE(project.Items(2)->Id, 3);
    QCOMPARE(project.Items(3)->Id, 4);
    QCOMPARE(project.Strings(3), QString("second new"));

    TLumenfoldSignatureItemList loaded;
    QVERIFY(loaded.LoadAll());
    QCOMPARE(loaded.Count(), 4);
    for (int i = 0; i < 4; ++i)
      QVERIFY(loaded.Items(i)->Equals(*project.Items(i)));

    // A new item the database refuses is not kept as if it were stored.
    RecordingPrompt prompt;
    QVERIFY(ExecSQL(cs, "CREATE TRIGGER refuse BEFORE INSERT ON signature_item BEGIN SELECT "
                        "RAISE(ABORT, 'refused'); END") >= 0);
    copy.Assign(project);
    copy.Add("<SignatureItem>", new TLumenfoldSignatureItem);
    QVERIFY(!ApplyItemEdits(project, copy));
    QCOMPARE(project.Count(), 4);
  }

  void signatureWriteBackReconciles() {
    TLumenfoldSignatureItemList items;
    for (const char* name : {"a", "b"}) {
      auto* item = new TLumenfoldSignatureItem(name);
      QVERIFY(item->Insert());
      items.Add(item->Name, item);
    }
    TLumenfoldSignatureList project;
    for (const char* name : {"keep", "change", "drop"}) {
      auto* s = new TLumenfoldSignature(name, &items);
      place(*s, items.Items(0), 9);
      QVERIFY(s->Insert());
      project.Add(s->Name, s);
    }
    TLumenfoldSignatureList copy;
    copy.Assign(project);
    copy.LinkItems(&items);
    copy.Delete(2);
    TLumenfoldSignature* changed = copy.Signatures(1);
    changed->Name = "changed";
    place(*changed, items.Items(1), 3, {4, 4});
    auto* added = new TLumenfoldSignature("<Signature>", &items);
    place(*added, items.Items(1), 5);
    copy.Add(added->Name, added);

    QVERIFY(ApplySignatureEdits(project, copy, &items));
    QCOMPARE(project.Count(), 3);
    QCOMPARE(project.Strings(1), QString("changed"));
    QCOMPARE(project.Signatures(1)->Maps.Maps(1)->Item, items.Items(1));
    // The dropped signature's placements went with it; the new one takes id MAX + 1.
    QCOMPARE(project.Signatures(2)->Id, 3);
    QCOMPARE(project.Signatures(2)->Maps.Maps(0)->Item, items.Items(1));
    QCOMPARE(project.Signatures(2)->Maps.Maps(0)->SignatureId, 3);
    QCOMPARE(mapRows(cs, 3), QStringList({"2:5:0:-1:-1"}));
    QCOMPARE(mapRows(cs, 2), QStringList({"1:9:0:-1:-1", "2:3:1:4:4"}));
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM signature_map"), 4);

    TLumenfoldSignatureItemList loadedItems;
    TLumenfoldSignatureList loaded;
    load(loadedItems, loaded);
    QCOMPARE(loaded.Count(), 3);
    for (int i = 0; i < 3; ++i)
      QVERIFY(loaded.Signatures(i)->Equals(*project.Signatures(i)));
  }
};

QTEST_MAIN(TestSignature)
#include "test_signature.moc"
