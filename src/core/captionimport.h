#pragma once
// Titles and keywords that pictures carry from the photographer's editor (see
// util/imaging/embeddedcaptions.h) taken into the project: titles into the picture's two titles,
// keywords into categories (created when the project has none of that title; a picture never
// loses a category here). A title the user has already set is replaced only when asked to.
//
// Threads: user-interface thread only (categories are created and saved on the way).
#include "util/imaging/embeddedcaptions.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class TLumenfoldCategory;
class TLumenfoldPicture;
class TLumenfoldProject;

// The codes of the site's two languages ("en", "de") from the project's site template; an empty
// code for a language the template does not name.
QStringList SiteLanguageCodes(const TLumenfoldProject& project);

// The captions of the picture's original in the project's two languages.
TEmbeddedCaptions ReadPictureCaptions(const TLumenfoldProject& project,
                                      const TLumenfoldPicture& picture);

// True when taking the captions would replace a title the picture has already (a different,
// non-empty text).
bool CaptionsReplaceTitles(const TLumenfoldPicture& picture, const TEmbeddedCaptions& captions);

// The project's categories by title (letter case ignored), looked up once for a run over many
// pictures. Categories it has to make join the project at once and are written together by
// Save(), in one short transaction.
class TCaptionCategories {
public:
  explicit TCaptionCategories(TLumenfoldProject& project);
  // The id (as pictures hold it) of the category of that title, made when the project has none
  // (its title is then appended to created); empty when no id could be had (the failure has
  // been shown).
  QString IdOf(const QString& title, QStringList* created);
  // Writes the categories made since the last call. When that fails they leave the project
  // again and the pictures lose their links to them; false then (the failure has been shown).
  bool Save(const QList<TLumenfoldPicture*>& pictures);

private:
  QString idOf(const QString& title, QStringList* created);
  TLumenfoldProject& project_;
  QHash<QString, QString> idByKey_;
  // The last keywords asked for, as written, with their ids: pictures of one shoot repeat the
  // same few, which are then found without folding their case and hashing.
  std::vector<std::pair<QString, QString>> recent_;
  size_t nextRecent_ = 0;
  QList<TLumenfoldCategory*> made_;
  int nextId_ = -1;
};

// Takes the captions into the picture: empty titles are filled, set ones replaced only when
// replaceTitles; each keyword links the category of that title, made and saved when there is
// none (its name is appended to created). The picture is marked unsaved (and to be processed
// when a title changed). Returns whether the picture changed.
bool ApplyEmbeddedCaptions(TCaptionCategories& categories, TLumenfoldPicture& picture,
                           const TEmbeddedCaptions& captions, bool replaceTitles,
                           QStringList* created = nullptr);

enum class TCaptionTitles { Keep, Replace, Ask };

struct TReadCaptionsResult {
  int Pictures = 0;          // pictures whose files were read
  int Changed = 0;           // pictures that took something
  int TitlesKept = 0;        // pictures whose own titles were kept although their files differ
  QStringList NewCategories; // categories made
  QStringList Problems;      // files whose captions could not be read, with the reason
  // One line per fact, for the desktop's message and the command line.
  QStringList Summary() const;
};

// "Read captions from files" for chosen pictures. With Ask, one Yes/No question (Prompt())
// decides whether titles set already are replaced, asked only when some would be.
TReadCaptionsResult ReadCaptionsIntoPictures(TLumenfoldProject& project,
                                             const QList<TLumenfoldPicture*>& pictures,
                                             TCaptionTitles titles);
