#include "core/signature.h"

#include "db/sqlaccess.h"
#include "db/statements.h"

namespace {

const char* const kLocationLabels[kSignatureLocationCount] = {"Offset as absolute coordinates",
                                                              "Top - Left",
                                                              "Top - Center",
                                                              "Top - Right",
                                                              "Left - Center",
                                                              "Center",
                                                              "Right - Center",
                                                              "Bottom - Left",
                                                              "Bottom - Center",
                                                              "Bottom - Right"};

} // namespace

QString SignatureLocationLabel(int location) {
  if (location < 0 || location >= kSignatureLocationCount) return QString();
  return QString::fromLatin1(kLocationLabels[location]);
}

QStringList SignatureLocationLabels() {
  QStringList labels;
  for (int i = 0; i < kSignatureLocationCount; ++i)
    labels << SignatureLocationLabel(i);
  return labels;
}

// ---- TLumenfoldSignatureItem ----

TLumenfoldSignatureItem::TLumenfoldSignatureItem(const QString& name) : Name(name) {}

void TLumenfoldSignatureItem::SetCaption(const QString& caption) {
  if (!caption.isEmpty() && caption != caption_) imageName_.clear();
  caption_ = caption;
}

void TLumenfoldSignatureItem::SetImageName(const QString& imageName) {
  if (!imageName.isEmpty() && imageName != imageName_) caption_.clear();
  imageName_ = imageName;
}

void TLumenfoldSignatureItem::LoadFromDataSet(const TDataSet& query) {
  Id = query.AsInteger("signature_item_id");
  Name = query.AsString("signature_item_name");
  // Both fields are read as stored; a row holding both is drawn as text.
  caption_ = query.AsString("caption");
  imageName_ = query.AsString("image_name");
  FontName = query.AsString("font_name");
  FontSize = query.AsInteger("font_size");
  FontStyle = TextToFontStyle(query.AsString("font_style"));
  FontColor = query.AsInteger("font_color");
  ImageTransparent = query.AsInteger("image_transparent");
}

bool TLumenfoldSignatureItem::Save() {
  return Id == -1 ? Insert() : Update();
}

bool TLumenfoldSignatureItem::Insert() {
  const QString cs = CurrentConnectionString();
  const int id = AllocateId(cs, SQL_SIGNATURE_ITEM_MAX_ID);
  if (id < 0) return false;
  Id = id;
  const int rows = ExecSQL(
      cs, FormatSql(SQL_SIGNATURE_ITEM_INSERT,
                    {SqlInt(Id), QuoteSqlText(Name), QuoteSqlText(caption_), QuoteSqlText(FontName),
                     SqlInt(FontSize), FontStyleToText(FontStyle), SqlInt(FontColor),
                     QuoteSqlText(imageName_), SqlInt(ImageTransparent)}));
  if (rows < 1) {
    Id = -1; // not stored
    return false;
  }
  return true;
}

bool TLumenfoldSignatureItem::Update() {
  if (Id < 0) return false;
  return ExecSQL(CurrentConnectionString(),
                 FormatSql(SQL_SIGNATURE_ITEM_UPDATE,
                           {QuoteSqlText(Name), QuoteSqlText(caption_), QuoteSqlText(FontName),
                            SqlInt(FontSize), FontStyleToText(FontStyle), SqlInt(FontColor),
                            QuoteSqlText(imageName_), SqlInt(ImageTransparent), SqlInt(Id)})) >= 0;
}

bool TLumenfoldSignatureItem::Delete() {
  return ExecSQL(CurrentConnectionString(), FormatSql(SQL_SIGNATURE_ITEM_DELETE, {SqlInt(Id)})) >=
         0;
}

void TLumenfoldSignatureItem::Assign(const TLumenfoldSignatureItem& source) {
  Id = source.Id;
  Name = source.Name;
  caption_ = source.caption_;
  imageName_ = source.imageName_;
  FontName = source.FontName;
  FontSize = source.FontSize;
  FontStyle = source.FontStyle;
  FontColor = source.FontColor;
  ImageTransparent = source.ImageTransparent;
}

bool TLumenfoldSignatureItem::Equals(const TLumenfoldSignatureItem& other) const {
  return Id == other.Id && Name == other.Name && caption_ == other.caption_ &&
         FontName == other.FontName && FontSize == other.FontSize && FontColor == other.FontColor &&
         FontStyle == other.FontStyle && imageName_ == other.imageName_ &&
         ImageTransparent == other.ImageTransparent;
}

// ---- TLumenfoldSignatureItemList ----

bool TLumenfoldSignatureItemList::LoadAll() {
  TQuery query;
  if (OpenQuery(CurrentConnectionString(), QString::fromLatin1(SQL_SIGNATURE_ITEMS), query) != 0)
    return false;
  while (!query->Eof()) {
    auto* item = new TLumenfoldSignatureItem;
    item->LoadFromDataSet(*query);
    Add(item->Name, item);
    query->Next();
  }
  return CloseQuery(query) == 0;
}

int TLumenfoldSignatureItemList::IndexOfId(int id) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i)->Id == id) return i;
  return -1;
}

TLumenfoldSignatureItem* TLumenfoldSignatureItemList::FindById(int id) const {
  const int index = IndexOfId(id);
  return index < 0 ? nullptr : Objects(index);
}

void TLumenfoldSignatureItemList::Assign(const TLumenfoldSignatureItemList& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    auto* item = new TLumenfoldSignatureItem(QStringLiteral("<SignatureItem %1>").arg(i));
    item->Assign(*source.Objects(i));
    Add(item->Name, item);
  }
}

// ---- TLumenfoldSignatureMap ----

TLumenfoldSignatureMap::TLumenfoldSignatureMap(int signatureId, int itemId, int order,
                                               TLumenfoldSignatureItem* item)
    : SignatureId(signatureId), ItemId(itemId), Order(order), Item(item) {}

void TLumenfoldSignatureMap::LoadFromDataSet(const TDataSet& query) {
  SignatureId = query.AsInteger("signature_id");
  ItemId = query.AsInteger("signature_item_id");
  Location = query.AsInteger("location");
  Order = query.AsInteger("sign_order");
  Offset = QPoint(query.AsInteger("offset_x"), query.AsInteger("offset_y"));
  Item = nullptr;
}

bool TLumenfoldSignatureMap::Insert() const {
  return ExecSQL(CurrentConnectionString(),
                 FormatSql(SQL_SIGNATURE_MAP_INSERT,
                           {SqlInt(SignatureId), SqlInt(ItemId), SqlInt(Location), SqlInt(Order),
                            SqlInt(Offset.x()), SqlInt(Offset.y())})) == 1;
}

void TLumenfoldSignatureMap::Assign(const TLumenfoldSignatureMap& source) {
  SignatureId = source.SignatureId;
  ItemId = source.ItemId;
  Location = source.Location;
  Order = source.Order;
  Offset = source.Offset;
  Item = nullptr;
}

bool TLumenfoldSignatureMap::Equals(const TLumenfoldSignatureMap& other) const {
  return SignatureId == other.SignatureId && ItemId == other.ItemId && Location == other.Location &&
         Order == other.Order && Offset == other.Offset;
}

// ---- TLumenfoldSignatureMapList ----

bool TLumenfoldSignatureMapList::LoadAll() {
  if (!Owner) return false;
  TQuery query;
  if (OpenQuery(CurrentConnectionString(),
                FormatSql(SQL_SIGNATURE_MAP_OF_SIGNATURE, {SqlInt(Owner->Id)}), query) != 0)
    return false;
  while (!query->Eof()) {
    auto* map = new TLumenfoldSignatureMap;
    map->LoadFromDataSet(*query);
    Add(QString(), map);
    query->Next();
  }
  return CloseQuery(query) == 0;
}

bool TLumenfoldSignatureMapList::InsertAll() const {
  for (int i = 0; i < Count(); ++i)
    if (!Objects(i)->Insert()) return false;
  return true;
}

bool TLumenfoldSignatureMapList::DeleteAll() const {
  if (!Owner) return false;
  return ExecSQL(CurrentConnectionString(),
                 FormatSql(SQL_SIGNATURE_MAP_DELETE, {SqlInt(Owner->Id)})) >= 0;
}

void TLumenfoldSignatureMapList::SetSignatureId() {
  if (!Owner) return;
  for (int i = 0; i < Count(); ++i)
    Objects(i)->SignatureId = Owner->Id;
}

int TLumenfoldSignatureMapList::IndexOfItem(int itemId) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i)->ItemId == itemId) return i;
  return -1;
}

void TLumenfoldSignatureMapList::RefreshCaptions() {
  for (int i = 0; i < Count(); ++i) {
    const TLumenfoldSignatureMap* map = Objects(i);
    const QString name = map->Item ? map->Item->Name : Strings(i);
    SetString(i, name + QStringLiteral(" (") + SignatureLocationLabel(map->Location) +
                     QStringLiteral(")"));
  }
}

bool TLumenfoldSignatureMapList::Equals(const TLumenfoldSignatureMapList& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (!Objects(i)->Equals(*other.Objects(i))) return false;
  return true;
}

void TLumenfoldSignatureMapList::Assign(const TLumenfoldSignatureMapList& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const TLumenfoldSignatureMap* from = source.Objects(i);
    auto* map = new TLumenfoldSignatureMap;
    map->Assign(*from);
    Add(from->Item ? from->Item->Name : source.Strings(i), map);
  }
  Owner = nullptr;
}

// ---- TLumenfoldSignature ----

TLumenfoldSignature::TLumenfoldSignature(const QString& name, TLumenfoldSignatureItemList* items)
    : Name(name), Items(items) {
  Maps.Owner = this;
}

bool TLumenfoldSignature::LoadFromDataSet(const TDataSet& query) {
  Id = query.AsInteger("signature_id");
  Name = query.AsString("signature_name");
  Maps.Clear();
  Maps.Owner = this;
  return Maps.LoadAll();
}

bool TLumenfoldSignature::Save() {
  return Id == -1 ? Insert() : Update();
}

bool TLumenfoldSignature::Insert() {
  const QString cs = CurrentConnectionString();
  const int oldId = Id;
  TSqlTransaction transaction(cs);
  const int id = AllocateId(cs, SQL_SIGNATURE_MAX_ID);
  bool ok = id >= 0;
  if (ok) {
    Id = id;
    ok = ExecSQL(cs, FormatSql(SQL_SIGNATURE_INSERT, {SqlInt(Id), QuoteSqlText(Name)})) == 1;
  }
  if (ok) {
    Maps.Owner = this;
    Maps.SetSignatureId();
    ok = Maps.InsertAll();
  }
  ok = ok && transaction.Commit(); // without a commit the guard rolls back
  if (!ok) {
    Id = oldId;
    Maps.SetSignatureId();
  }
  return ok;
}

bool TLumenfoldSignature::Update() {
  if (Id < 0) return false;
  const QString cs = CurrentConnectionString();
  TSqlTransaction transaction(cs);
  bool ok = ExecSQL(cs, FormatSql(SQL_SIGNATURE_UPDATE, {QuoteSqlText(Name), SqlInt(Id)})) >= 0;
  Maps.Owner = this;
  Maps.SetSignatureId();
  ok = ok && Maps.DeleteAll() && Maps.InsertAll();
  return ok && transaction.Commit();
}

bool TLumenfoldSignature::Delete() {
  const QString cs = CurrentConnectionString();
  TSqlTransaction transaction(cs);
  Maps.Owner = this;
  bool ok = Maps.DeleteAll();
  ok = ok && ExecSQL(cs, FormatSql(SQL_SIGNATURE_DELETE, {SqlInt(Id)})) >= 0;
  return ok && transaction.Commit();
}

void TLumenfoldSignature::Assign(const TLumenfoldSignature& source) {
  if (&source == this) return;
  Id = source.Id;
  Name = source.Name;
  Items = source.Items;
  Maps.Assign(source.Maps);
  Maps.Owner = this;
}

bool TLumenfoldSignature::Equals(const TLumenfoldSignature& other) const {
  return Id == other.Id && Name == other.Name && Maps.Equals(other.Maps);
}

// ---- TLumenfoldSignatureList ----

bool TLumenfoldSignatureList::LoadAll() {
  TQuery query;
  if (OpenQuery(CurrentConnectionString(), QString::fromLatin1(SQL_SIGNATURES), query) != 0)
    return false;
  // Read the rows first: the placements are loaded with their own queries.
  struct Row {
    int id;
    QString name;
  };
  std::vector<Row> rows;
  while (!query->Eof()) {
    rows.push_back({query->AsInteger("signature_id"), query->AsString("signature_name")});
    query->Next();
  }
  bool ok = CloseQuery(query) == 0;
  for (const Row& row : rows) {
    auto* signature = new TLumenfoldSignature(row.name);
    signature->Id = row.id;
    ok = signature->Maps.LoadAll() && ok;
    Add(signature->Name, signature);
  }
  return ok;
}

int TLumenfoldSignatureList::IndexOfId(int id) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i)->Id == id) return i;
  return -1;
}

TLumenfoldSignature* TLumenfoldSignatureList::FindById(int id) const {
  const int index = IndexOfId(id);
  return index < 0 ? nullptr : Objects(index);
}

bool TLumenfoldSignatureList::IsItemUsed(const TLumenfoldSignatureItem* item) const {
  return item && IsItemUsed(item->Id);
}

bool TLumenfoldSignatureList::IsItemUsed(int itemId) const {
  for (int i = 0; i < Count(); ++i)
    if (Objects(i)->Maps.IndexOfItem(itemId) >= 0) return true;
  return false;
}

void TLumenfoldSignatureList::RefreshNames() {
  for (int i = 0; i < Count(); ++i)
    SetString(i, Objects(i)->Name);
}

void TLumenfoldSignatureList::LinkItems(TLumenfoldSignatureItemList* items) {
  for (int i = 0; i < Count(); ++i) {
    TLumenfoldSignature* signature = Objects(i);
    signature->Items = items;
    TLumenfoldSignatureMapList& maps = signature->Maps;
    for (int m = 0; m < maps.Count(); ++m) {
      TLumenfoldSignatureMap* map = maps.Maps(m);
      map->Item = items ? items->FindById(map->ItemId) : nullptr;
      if (map->Item) maps.SetString(m, map->Item->Name);
    }
  }
}

void TLumenfoldSignatureList::Assign(const TLumenfoldSignatureList& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    auto* signature = new TLumenfoldSignature(QStringLiteral("<Signature %1>").arg(i));
    signature->Assign(*source.Objects(i));
    Add(signature->Name, signature);
  }
}
