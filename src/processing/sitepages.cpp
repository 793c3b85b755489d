#include "processing/sitepages.h"

#include "processing/sitepagewriter.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

namespace site_pages {

// The width of an album's cover as the style sheet lays out the album list: one column below
// 553 CSS pixels, two below 849 (the page's margins are 2 % of the width there), at most 340
// pixels beyond. It lets a phone take the cover size below the medium image. site.js has the
// same.
constexpr const char* kCoverSizes = "(max-width: 552px) 96vw, (max-width: 848px) 47vw, 340px";

bool TPageWriter::Write(const TSitePageSink& sink, QString* error) {
  auto out = [&](const QString& name, const QString& html) {
    if (language_ == 1) return true; // collected by page()
    return sink(name, html.toUtf8(), error);
  };
  const QString backHome =
      QStringLiteral("<a class=\"back\" href=\"index.html\">← %1</a>").arg(esc(c_.Texts.AllAlbums));
  auto heading = [](const QString& cls, const QString& text) {
    return QStringLiteral("<h1 class=\"%1\" tabindex=\"-1\">%2</h1>").arg(cls, esc(text));
  };
  auto para = [](const QString& cls, const QString& text) {
    return text.trimmed().isEmpty() ? QString()
                                    : QStringLiteral("<p class=\"%1\">%2</p>").arg(cls, esc(text));
  };
  auto joined = [](const QStringList& parts) {
    QStringList kept;
    for (const QString& p : parts)
      if (!p.trimmed().isEmpty()) kept << p;
    return kept.join(QStringLiteral(" · "));
  };

  // The home page: the albums with their covers, then the categories.
  QString home = heading(QStringLiteral("section-title"), c_.Texts.Albums);
  home += QStringLiteral("<ul class=\"albums\">");
  for (size_t i = 0; i < c_.Albums.size(); ++i) {
    const TSiteAlbum& a = c_.Albums[i];
    home += QStringLiteral("<li class=\"album-card\"><a class=\"album-link\" href=\"%1\" "
                           "data-album-id=\"%2\">")
                .arg(AlbumPageName(a.Id))
                .arg(a.Id);
    QString cover =
        img(QStringLiteral("thumb"), c_.Cover(a), a.Name, QLatin1String(kCoverSizes), i == 0);
    // The first cover is the largest image of a phone's first screen; the next ones, partly on
    // that screen, wait until it is shown instead of sharing the line with it: the page's last
    // script gives them their sources (see secondCopy). Without scripts the <noscript> copy
    // shows.
    if (i > 0) {
      QString held = cover;
      for (const char* attribute : {" src=\"", " srcset=\"", " sizes=\""})
        held.replace(QLatin1String(attribute),
                     QLatin1String(" data-") + QLatin1String(attribute + 1));
      cover = held + QStringLiteral("<noscript>") + cover + QStringLiteral("</noscript>");
    }
    home += cover;
    home += QStringLiteral("<div class=\"album-text\"><h2 class=\"album-name\">%1</h2>")
                .arg(esc(a.Name));
    home += para(QStringLiteral("meta"),
                 joined({c_.DateText(a.Date), c_.CountText(qsizetype(a.Pictures.size()))}));
    home += para(QStringLiteral("description"), a.Description) + QStringLiteral("</div></a></li>");
  }
  home += QStringLiteral("</ul>");
  if (!c_.Categories.empty()) {
    home += QStringLiteral("<h2 class=\"section-title\">%1</h2><ul class=\"categories\">")
                .arg(esc(c_.Texts.Categories));
    for (const TSiteCategory& c : c_.Categories)
      home += QStringLiteral("<li><a class=\"category-link\" href=\"%1\" data-category-id=\"%2\">"
                             "<span class=\"category-name\">%3</span><span class=\"count\">%4"
                             "</span></a></li>")
                  .arg(CategoryPageName(c.Id))
                  .arg(c.Id)
                  .arg(esc(c.Title), esc(c_.CountText(qsizetype(c.Pictures.size()))));
    home += QStringLiteral("</ul>");
  }
  QStringList albumNames;
  for (const TSiteAlbum& a : c_.Albums)
    albumNames << a.Name;
  if (!out(QStringLiteral("index.html"),
           page(QStringLiteral("index.html"), QString(), c_.SiteTitle, albumNames.join(", "),
                c_.Albums.empty() ? nullptr : &c_.Cover(c_.Albums.front()), home)))
    return false;

  for (const TSiteAlbum& a : c_.Albums) {
    if (skipped_.contains(a.Id)) {
      // Kept as they are; the sitemap still names them.
      if (!input_.SiteAddress.isEmpty() && language_ == 0) {
        addresses_ << input_.SiteAddress + AlbumPageName(a.Id);
        for (const TSitePicture& p : a.Pictures)
          addresses_ << input_.SiteAddress + PicturePageName(p.Id);
      }
      continue;
    }
    std::vector<const TSitePicture*> pictures;
    for (const TSitePicture& p : a.Pictures)
      pictures.push_back(&p);
    const QString meta = joined({c_.DateText(a.Date), c_.CountText(qsizetype(pictures.size()))});
    const QString content = backHome + heading(QStringLiteral("page-title"), a.Name) +
                            para(QStringLiteral("meta"), meta) +
                            para(QStringLiteral("description"), a.Description) +
                            tiles(pictures, a.Name);
    if (!out(AlbumPageName(a.Id),
             page(AlbumPageName(a.Id), QStringLiteral("album/%1").arg(a.Id),
                  a.Name + QStringLiteral(" – ") + c_.SiteTitle,
                  a.Description.trimmed().isEmpty() ? meta : a.Description, &c_.Cover(a), content)))
      return false;
    // A page per picture, with the way back to its album and on to its neighbours.
    for (size_t i = 0; i < pictures.size(); ++i) {
      const TSitePicture& p = *pictures[i];
      const QString name = c_.PictureName(p, a.Name, qsizetype(i), qsizetype(pictures.size()));
      QString body = QStringLiteral("<a class=\"back\" href=\"%1\">← %2</a>")
                         .arg(AlbumPageName(a.Id), esc(a.Name)) +
                     heading(QStringLiteral("page-title"), name);
      body += QStringLiteral("<figure class=\"photo\">") +
              img(QStringLiteral("photo-image"), p, name, QStringLiteral("100vw"), true);
      const QString date = c_.DateText(p.Date);
      if (!date.isEmpty())
        body += QStringLiteral("<figcaption class=\"meta\">%1</figcaption>").arg(esc(date));
      body += QStringLiteral("</figure>");
      if (input_.Download == 1 || input_.Download == 2)
        body += QStringLiteral("<p><a class=\"download\" href=\"%1\" download>%2</a></p>")
                    .arg(esc(input_.Download == 2 && !p.Large.isEmpty() ? p.Large : p.Medium.Url),
                         esc(c_.Texts.Download));
      body += QStringLiteral("<nav class=\"photo-nav\" aria-label=\"%1\">").arg(esc(a.Name));
      if (i > 0)
        body += QStringLiteral("<a rel=\"prev\" href=\"%1\">← %2</a>")
                    .arg(PicturePageName(pictures[i - 1]->Id), esc(c_.Texts.Previous));
      if (i + 1 < pictures.size())
        body += QStringLiteral("<a rel=\"next\" href=\"%1\">%2 →</a>")
                    .arg(PicturePageName(pictures[i + 1]->Id), esc(c_.Texts.Next));
      body += QStringLiteral("</nav>");
      if (!out(PicturePageName(p.Id),
               page(PicturePageName(p.Id), QStringLiteral("album/%1/%2").arg(a.Id).arg(p.Id),
                    name + QStringLiteral(" – ") + a.Name + QStringLiteral(" – ") + c_.SiteTitle,
                    joined({name, date, a.Name}), &p, body)))
        return false;
    }
  }
  for (const TSiteCategory& c : c_.Categories) {
    const QString meta = c_.CountText(qsizetype(c.Pictures.size()));
    const QString content = backHome + heading(QStringLiteral("page-title"), c.Title) +
                            para(QStringLiteral("meta"), meta) +
                            para(QStringLiteral("description"), c.Description) +
                            tiles(c.Pictures, c.Title);
    if (!out(CategoryPageName(c.Id),
             page(CategoryPageName(c.Id), QStringLiteral("category/%1").arg(c.Id),
                  c.Title + QStringLiteral(" – ") + c_.SiteTitle,
                  c.Description.trimmed().isEmpty() ? c.Title + QStringLiteral(": ") + meta
                                                    : c.Description,
                  c.Pictures.front(), content)))
      return false;
  }

  if (language_ == 1) return true;
  const QString& base = input_.SiteAddress;
  if (!out(QStringLiteral("feed.xml"), SiteFeedText(c_, base))) return false;
  if (base.isEmpty()) return true;
  return out(QStringLiteral("sitemap.xml"), SitemapText(addresses_)) &&
         out(QStringLiteral("robots.txt"), RobotsText(base));
}

} // namespace site_pages

QString AlbumPageName(int albumId) {
  return QStringLiteral("album-%1.html").arg(albumId);
}

QString CategoryPageName(int categoryId) {
  return QStringLiteral("category-%1.html").arg(categoryId);
}

QString PicturePageName(int pictureId) {
  return QStringLiteral("photo-%1.html").arg(pictureId);
}

bool IsSiteTemplateFile(const QString& relative) {
  static const QRegularExpression own(
      QStringLiteral("^(readme\\.txt|template\\.json|preview_(big|small)\\.jpg)$"),
      QRegularExpression::CaseInsensitiveOption);
  return !own.match(relative).hasMatch();
}

namespace {

// The template's style sheets beside index.html are written into the pages: a phone then draws
// the first screen without waiting for one more request. site.js finds them by data-file.
QString WithStylesInside(QString skeleton, const QString& templateFolder) {
  static const QRegularExpression link(
      QStringLiteral("<link rel=\"stylesheet\" href=\"([A-Za-z0-9_-][A-Za-z0-9._-]*\\.css)\">"));
  constexpr qint64 kLargest = 64 * 1024; // larger ones are worth their own cached file
  for (qsizetype from = 0;;) {
    const QRegularExpressionMatch m = link.match(skeleton, from);
    if (!m.hasMatch()) break;
    from = m.capturedEnd();
    QFile css(IncludeTrailingSeparator(templateFolder) + m.captured(1));
    if (css.size() > kLargest || !css.open(QIODevice::ReadOnly)) continue;
    const QString text = QString::fromUtf8(css.readAll());
    // Markup in a style sheet (a comment naming a tag) could end the <style> element or be
    // taken for a part of the page: such a sheet stays a file.
    if (text.contains(QLatin1Char('<'))) continue;
    const QString inside =
        QStringLiteral("<style data-file=\"%1\">\n%2</style>").arg(m.captured(1), text);
    skeleton.replace(m.capturedStart(), m.capturedLength(), inside);
    from = m.capturedStart() + inside.size();
  }
  return skeleton;
}

} // namespace

bool WriteSitePages(const TSitePagesInput& input, const TSitePageSink& sink, QString* error) {
  QFile file(IncludeTrailingSeparator(input.TemplateFolder) + QStringLiteral("index.html"));
  if (!file.open(QIODevice::ReadOnly)) return true; // no skeleton, no pages
  const QString skeleton =
      WithStylesInside(QString::fromUtf8(file.readAll()), input.TemplateFolder);
  if (!skeleton.contains(QLatin1String("<main id=\"main\">")) ||
      !skeleton.contains(QLatin1String("</main>")))
    return true;
  site_pages::TPageWriter writer(input, skeleton);
  if (!writer.Read(error)) return false;
  // A site in two languages: every page carries its content in the second one too.
  site_pages::TPageWriter second(input, skeleton, 1);
  const bool two = !writer.Content().SecondLanguage.isEmpty();
  if (two) second.ReadFrom(writer);
  if (input.KeepAlbum) {
    // Everything an album's pages take from outside the album.
    QCryptographicHash common(QCryptographicHash::Blake2b_256);
    common.addData(QStringLiteral("pages 2 %1 %2 %3")
                       .arg(QCoreApplication::applicationVersion())
                       .arg(input.Download)
                       .arg(two)
                       .toUtf8());
    common.addData(input.SiteAddress.toUtf8() + '\0' + skeleton.toUtf8());
    AddSiteTextsToKey(common, writer.Content());
    if (two) AddSiteTextsToKey(common, second.Content());
    const QByteArray commonKey = common.result();
    QHash<int, const TSiteAlbum*> secondAlbums;
    for (const TSiteAlbum& a : second.Content().Albums)
      secondAlbums.insert(a.Id, &a);
    for (const TSiteAlbum& a : writer.Content().Albums) {
      QCryptographicHash key(QCryptographicHash::Blake2b_160);
      key.addData(commonKey);
      AddAlbumToKey(key, a);
      if (two) {
        const TSiteAlbum* other = secondAlbums.value(a.Id, nullptr);
        key.addData(QByteArrayView(other ? "1" : "0", 1));
        if (other) AddAlbumToKey(key, *other);
      }
      QStringList entries{AlbumPageName(a.Id)};
      for (const TSitePicture& p : a.Pictures)
        entries << PicturePageName(p.Id);
      if (input.KeepAlbum(a.Id, key.result(), entries)) {
        writer.Skip(a.Id);
        second.Skip(a.Id);
      }
    }
  }
  if (two) {
    if (!second.Write({}, error)) return false;
    writer.SetSecond(&second);
  }
  return writer.Write(sink, error);
}
