#pragma once
// Signatures: named watermarks stamped on generated pictures. A signature is a list of
// placements; each placement puts one signature item (one line of text in a font, or one image
// file) at an anchor position of the picture. Items are shared between signatures; the project
// owns one item list and one signature list.
//
// Threads: the lists and objects are built and changed on the user-interface thread only. While a
// processing run is active (the modal progress dialog prevents edits), the processing thread
// reads signatures and items and calls Draw/DrawAt, which only read them. Drawing text needs a
// QGuiApplication (fonts; the command-line program can use the offscreen platform); without one
// text items are left out. Create it before any worker starts.
#include "core/ownedlist.h"
#include "util/helpers.h"

#include <QPoint>
#include <QString>
#include <QStringList>

class QImage;
class TDataSet;
class TLumenfoldPicture;

// Anchor codes of a placement.
inline constexpr int kSignatureLocationCount = 10;
inline constexpr int kSignatureLocationDefault = 9; // "Bottom - Right"
// The label of a location code 0..9 ("Offset as absolute coordinates", "Top - Left", ...);
// empty for any other code.
QString SignatureLocationLabel(int location);
// The ten labels in code order.
QStringList SignatureLocationLabels();

// One text or image element (table signature_item). An item is either a text item (caption not
// empty) or an image item; text wins when both are present.
class TLumenfoldSignatureItem {
public:
  explicit TLumenfoldSignatureItem(const QString& name = QStringLiteral("<SignatureItem>"));

  int Id = -1; // -1 until loaded or inserted
  QString Name;
  QString FontName = QStringLiteral("Tahoma");
  int FontSize = 8; // points
  TFontStyles FontStyle = TFontStyle::fsBold;
  int FontColor = 0;               // 0x00BBGGRR
  int ImageTransparent = 0xFFFFFF; // 0x00BBGGRR; pixels of this colour are not drawn

  const QString& Caption() const { return caption_; }
  const QString& ImageName() const { return imageName_; }
  // A non-empty caption that differs from the current one clears the image name; an empty one
  // clears only the caption.
  void SetCaption(const QString& caption);
  // A non-empty image name that differs from the current one clears the caption; an empty one
  // clears only the image name.
  void SetImageName(const QString& imageName);
  bool IsText() const { return !caption_.isEmpty(); }

  // Reads every column of the current row by name (NULL reads as 0 or the empty text).
  void LoadFromDataSet(const TDataSet& query);
  // Insert when Id is -1, else Update.
  bool Save();
  // Allocates the id (MAX + 1), stores it in Id and writes the row. False when a statement failed
  // (the error has been shown); Id is then -1 again.
  bool Insert();
  // Rewrites the row of Id; false when the statement failed.
  bool Update();
  // Deletes the row of Id; false when the statement failed.
  bool Delete();

  void Assign(const TLumenfoldSignatureItem& source);
  bool Equals(const TLumenfoldSignatureItem& other) const;

  // Draws this item on the bitmap at one placement (location code and offset). The caption is
  // expanded for the picture when one is given and its album belongs to a project; the editors
  // pass no picture, so macros show literally. Missing or undecodable image files draw nothing.
  // Any thread (see the header comment); the bitmap belongs to the caller.
  void DrawAt(QImage& bitmap, const TLumenfoldPicture* picture, QPoint offset, int location) const;

private:
  QString caption_ = QStringLiteral("@ lumenfold");
  QString imageName_;
};

class TLumenfoldSignatureItemList : public TOwnedList<TLumenfoldSignatureItem> {
public:
  // Appends every item of the database, ordered by id; the caller empties the list first. False
  // when the query could not be opened (the error has been shown).
  bool LoadAll();
  int IndexOfId(int id) const;
  TLumenfoldSignatureItem* FindById(int id) const;
  TLumenfoldSignatureItem* Items(int index) const { return Objects(index); }
  // Empties the list and fills it with copies (display text = the copy's name).
  void Assign(const TLumenfoldSignatureItemList& source);
};

class TLumenfoldSignature;

// One placement of an item in a signature (table signature_map).
class TLumenfoldSignatureMap {
public:
  TLumenfoldSignatureMap(int signatureId = -1, int itemId = -1, int order = -1,
                         TLumenfoldSignatureItem* item = nullptr);

  int SignatureId = -1;
  int ItemId = -1;
  int Location = kSignatureLocationDefault; // 0..9
  int Order = -1;                           // drawing order within the signature, ascending
  QPoint Offset{-1, -1};                    // added to the anchor point
  // The placed item of the project's item list; not owned; nullptr when the item is missing.
  TLumenfoldSignatureItem* Item = nullptr;

  void LoadFromDataSet(const TDataSet& query);
  // Writes one row; false when the statement failed.
  bool Insert() const;
  // Copies ids, location, order and offset; the copy is not linked to an item.
  void Assign(const TLumenfoldSignatureMap& source);
  bool Equals(const TLumenfoldSignatureMap& other) const;
};

// The placements of one signature, in drawing order.
class TLumenfoldSignatureMapList : public TOwnedList<TLumenfoldSignatureMap> {
public:
  TLumenfoldSignature* Owner = nullptr; // not owned

  TLumenfoldSignatureMap* Maps(int index) const { return Objects(index); }
  // Appends the owner's placements from the database by ascending order. False when the query
  // could not be opened (the error has been shown).
  bool LoadAll();
  // One insert per placement, in list order; false at the first failure.
  bool InsertAll() const;
  // Deletes every row of the owner's id; false when the statement failed.
  bool DeleteAll() const;
  // Writes the owner's id into every placement.
  void SetSignatureId();
  int IndexOfItem(int itemId) const;
  // Display texts := item name, " (", location label, ")".
  void RefreshCaptions();
  bool Equals(const TLumenfoldSignatureMapList& other) const;
  // Empties the list, then adds unlinked copies (display text = the source item's name) and
  // drops the owner reference.
  void Assign(const TLumenfoldSignatureMapList& source);
};

// A named watermark (table signature) with its placements.
class TLumenfoldSignature {
public:
  explicit TLumenfoldSignature(const QString& name = QStringLiteral("<Signature>"),
                               TLumenfoldSignatureItemList* items = nullptr);
  TLumenfoldSignature(const TLumenfoldSignature&) = delete;
  TLumenfoldSignature& operator=(const TLumenfoldSignature&) = delete;

  int Id = -1;
  QString Name;
  TLumenfoldSignatureMapList Maps;              // owned placements
  TLumenfoldSignatureItemList* Items = nullptr; // the project's item list, not owned

  // Reads the row, then loads its placements; false when they could not be loaded.
  bool LoadFromDataSet(const TDataSet& query);
  // Insert when Id is -1, else Update.
  bool Save();
  // Allocates the id, writes the signature row and all placements in one transaction. On
  // failure nothing is written and Id is -1 again.
  bool Insert();
  // Rewrites the name and all placements (delete all, insert all in list order) in one
  // transaction, so a failure never leaves the signature with part of its placements.
  bool Update();
  // Deletes the placements and the row in one transaction; false when a statement failed (the
  // error has been shown).
  bool Delete();

  // Copies id, name and item-list reference and the placements (unlinked), then owns them.
  void Assign(const TLumenfoldSignature& source);
  bool Equals(const TLumenfoldSignature& other) const;

  // Draws every placement whose item is linked, in list order, on the bitmap. The picture (or
  // nullptr in the editors' previews) fills caption macros.
  void Draw(QImage& bitmap, const TLumenfoldPicture* picture) const;
};

class TLumenfoldSignatureList : public TOwnedList<TLumenfoldSignature> {
public:
  TLumenfoldSignature* Signatures(int index) const { return Objects(index); }
  // Appends every signature of the database ordered by id, each with its placements; the caller
  // empties the list first and links the items afterwards. False when a query failed.
  bool LoadAll();
  int IndexOfId(int id) const;
  TLumenfoldSignature* FindById(int id) const;
  // True when any placement of any signature names the item's id (drawn or not).
  bool IsItemUsed(const TLumenfoldSignatureItem* item) const;
  bool IsItemUsed(int itemId) const;
  // Display texts := signature names.
  void RefreshNames();
  // Sets every signature's item list and resolves every placement's item by id (nullptr when
  // missing); a linked placement's display text becomes the item's name.
  void LinkItems(TLumenfoldSignatureItemList* items);
  // Empties the list and fills it with copies (display text = the copy's name).
  void Assign(const TLumenfoldSignatureList& source);
};

// Write-back of the editors: reconciles the project's list against the edited copy.
// Objects missing from the copy are deleted (database and list), changed ones are assigned,
// renamed in the list and updated, and copies whose id is not in the project list are appended
// and inserted (which gives them their ids). Returns false when any write failed; the failed
// insert of a new object leaves it out of the project list. A failing signature delete stops the
// write-back at that point.
// Placements link to item objects of `project`; the given signature list (the project's) is
// re-linked afterwards so that none of its placements refers to a deleted item. Any other list
// linked to `project` (an open signature editor's working copy) must call LinkItems itself.
bool ApplyItemEdits(TLumenfoldSignatureItemList& project, const TLumenfoldSignatureItemList& copy,
                    TLumenfoldSignatureList* signatures = nullptr);
// Changed and new signatures are linked to the given item list before they are written.
bool ApplySignatureEdits(TLumenfoldSignatureList& project, const TLumenfoldSignatureList& copy,
                         TLumenfoldSignatureItemList* items);
