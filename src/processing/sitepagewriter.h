#pragma once
// The writer of a site's pages, shared by sitepages.cpp (which pages a site has and what they
// say) and sitepagewriter.cpp (image tags, tile lists, each page's head and frame).
#include "processing/sitecontent.h"
#include "processing/sitepages.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <map>
#include <utility>
#include <vector>

namespace site_pages {

inline QString esc(const QString& text) {
  return text.toHtmlEscaped();
}

class TPageWriter {
public:
  // language 1: the writer only collects each page's content in the site's second language,
  // which the first language's pages carry (see secondCopy).
  TPageWriter(const TSitePagesInput& input, QString skeleton, int language = 0)
      : input_(input), skeleton_(std::move(skeleton)), language_(language) {}

  bool Read(QString* error) {
    return c_.Read(input_.PublicDatabase, input_.TemplateFolder, error, language_);
  }
  void ReadFrom(const TPageWriter& first) {
    c_.ReadFrom(first.c_, input_.TemplateFolder, language_);
  }
  bool Write(const TSitePageSink& sink, QString* error);
  const TSiteContent& Content() const { return c_; }
  void SetSecond(const TPageWriter* second) { second_ = second; }
  // The album's pages are kept from an earlier run: none is made.
  void Skip(int albumId) { skipped_.insert(albumId); }

private:
  QString img(const QString& cls, const TSitePicture& p, const QString& alt, const QString& sizes,
              bool first) const;
  QString tiles(const std::vector<const TSitePicture*>& pictures, const QString& pageName) const;
  QString page(const QString& file, const QString& route, const QString& title,
               const QString& description, const TSitePicture* image, const QString& content);

  QString secondCopy(const QString& file) const;
  void prepare();

  // A piece of the skeleton and what the page puts after it.
  struct TCut {
    enum THole { None, Head, HtmlTag };
    QString Text;
    THole Hole = None;
  };
  QSet<int> skipped_; // albums whose pages are not made
  bool prepared_ = false;
  std::vector<TCut> beforeMain_, afterMain_;
  qsizetype cutLength_ = 0;

  struct TCollected {
    QString Title, Content;
  };
  const TSitePagesInput& input_;
  QString skeleton_;
  int language_ = 0;
  const TPageWriter* second_ = nullptr;
  std::map<QString, TCollected> collected_; // by file, when language_ is 1
  TSiteContent c_;
  QStringList addresses_; // of every page, for the sitemap
};

} // namespace site_pages
