#pragma once
// Categories: project-wide tags with a title and a description in each of the two site
// languages. A picture belongs to any number of categories; the links live in the
// picture_to_category table and, in memory, in the picture's CategoryIds.
//
// Threads: user-interface thread only (the processing and thumbnail workers never touch
// categories).
#include "core/defaulttexts.h"
#include "core/ownedlist.h"

#include <QString>
#include <QStringList>

class TDataSet;
class TLumenfoldPicture;
class TLumenfoldProject;

class TLumenfoldCategory {
public:
  TLumenfoldCategory() = default;

  int Id = -1; // -1 until inserted
  QString Title = QLatin1String(kDefaultCategoryTitle);
  QString Description = QLatin1String(kDefaultCategoryDescription);
  QString Title2 = QLatin1String(kDefaultCategoryTitle2);
  QString Description2 = QLatin1String(kDefaultCategoryDescription2);
  // Number of linked pictures as loaded; not maintained in memory.
  int PictureCount = 0;

  void Assign(const TLumenfoldCategory& source);
  bool Equals(const TLumenfoldCategory& other) const;

  // Insert when Id is -1, else Update.
  bool Save();
  // Allocates the id (MAX + 1), stores it in Id and writes the row. False when a statement
  // failed (the error has been shown); Id is then -1 again.
  bool Insert();
  // Writes the row under the given id (one counted on by the caller inside its transaction).
  bool InsertAs(int id);
  bool Update();
  // Deletes the row and every picture link of the category, also those of pictures that are not
  // loaded, in one transaction. Pictures in memory lose the id through the project.
  bool Delete();
  // Reads category_id, title, description, title2, description2 and pic_count by name.
  void LoadFromDataSet(const TDataSet& query);
};

class TLumenfoldCategoryList : public TOwnedList<TLumenfoldCategory> {
public:
  // Appends every category of the database, ordered by title, each with its title as entry
  // text. Does not empty the list first. False when the query could not be opened (the error
  // has been shown; nothing is appended).
  bool LoadAll();
  int IndexOfId(int id) const;
  TLumenfoldCategory* Categories(int index) const { return Objects(index); }
  // Empties this list, then appends a copy of every source category.
  void Assign(const TLumenfoldCategoryList& source);
  // Titles of the picture's categories in the order of its CategoryIds, joined by the
  // separator; ids without a category are skipped. Empty for no picture.
  QString CategoryTitles(const TLumenfoldPicture* picture, const QString& separator) const;
  QString CategoryTitles(const QStringList& categoryIds, const QString& separator) const;
};

// Write-back of the category editor: reconciles the project's list against the edited copy.
// Categories missing from the copy lose their links in every loaded picture and in the database
// (also those of pictures not loaded) and leave the list; changed ones are assigned, renamed in
// the list and updated; copies with an id the project does not know are appended and inserted in
// the copy's order (consecutive new ids). *deleted (optional) tells whether a category went.
// False when a write failed (the failure has been shown); a failed insert leaves the new category
// out of the list.
bool ApplyCategoryEdits(TLumenfoldProject& project, const TLumenfoldCategoryList& copy,
                        bool* deleted = nullptr);
// How many pictures lose the category when it is deleted now: the loaded pictures that hold it in
// memory and the stored pictures, not loaded, that the database links to it. -1 when the
// database could not be read. The pictures in except (and the stored ones with their ids) are
// left out: a chooser that is changing their links counts them itself.
int CategoryPictureCount(const TLumenfoldProject& project, int categoryId,
                         const QList<TLumenfoldPicture*>& except = {});
// Drops from the picture every category id that the list does not hold (a copy made before a
// category was deleted must not bring its link back). Returns whether something was dropped.
bool DropUnknownCategories(TLumenfoldPicture& picture, const TLumenfoldCategoryList& categories);
// The category chooser's OK for one picture: the picture gains the categories of `add` it lacks
// (in that order) and loses those of `remove`; ids the list does not hold are dropped as by
// DropUnknownCategories. The picture is marked unsaved; the result tells whether its categories
// changed.
bool ChangePictureCategories(TLumenfoldPicture& picture, const QList<int>& add,
                             const QList<int>& remove, const TLumenfoldCategoryList& categories);
