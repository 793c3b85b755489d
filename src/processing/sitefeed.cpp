#include "processing/sitecontent.h"
#include "processing/sitepages.h"

#include <QDate>
#include <QStringList>
#include <algorithm>

namespace {

QString feedEscaped(const QString& text) {
  return text.toHtmlEscaped();
}

} // namespace

QString SiteFeedText(const TSiteContent& content, const QString& siteAddress) {
  auto joined = [](const QStringList& parts) {
    QStringList kept;
    for (const QString& p : parts)
      if (!p.trimmed().isEmpty()) kept << p;
    return kept.join(QStringLiteral(" · "));
  };
  const QString& base = siteAddress;
  std::vector<const TSiteAlbum*> byDate;
  for (const TSiteAlbum& a : content.Albums)
    byDate.push_back(&a);
  std::stable_sort(byDate.begin(), byDate.end(), [](const TSiteAlbum* a, const TSiteAlbum* b) {
    return a->Date.left(10) > b->Date.left(10);
  });
  auto stamp = [](const QString& date) {
    const QDate d = QDate::fromString(date.left(10), QStringLiteral("yyyy-MM-dd"));
    return (d.isValid() ? d : QDate(2000, 1, 1)).toString(Qt::ISODate) +
           QStringLiteral("T00:00:00Z");
  };
  auto id = [&](const QString& file) {
    return base.isEmpty() ? QStringLiteral("urn:lumenfold:site:") + file : base + file;
  };
  QString feed = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:lang=\"%1\">\n"
                                "<title>%2</title>\n<id>%3</id>\n<updated>%4</updated>\n"
                                "<link rel=\"alternate\" href=\"%5\"/>\n")
                     .arg(feedEscaped(content.Language), feedEscaped(content.SiteTitle),
                          feedEscaped(id(QStringLiteral("feed.xml"))),
                          stamp(byDate.empty() ? QString() : byDate.front()->Date),
                          feedEscaped(base.isEmpty() ? QStringLiteral("index.html") : base));
  for (const TSiteAlbum* a : byDate) {
    feed +=
        QStringLiteral("<entry>\n<title>%1</title>\n<id>%2</id>\n<updated>%3</updated>\n"
                       "<author><name>%4</name></author>\n<link rel=\"alternate\" href=\"%5\"/>\n")
            .arg(feedEscaped(a->Name), feedEscaped(id(AlbumPageName(a->Id))), stamp(a->Date),
                 feedEscaped(content.SiteTitle), feedEscaped(base + AlbumPageName(a->Id)));
    const QString summary =
        joined({a->Description.simplified(), content.CountText(qsizetype(a->Pictures.size()))});
    feed += QStringLiteral("<summary>%1</summary>\n</entry>\n").arg(feedEscaped(summary));
  }
  feed += QStringLiteral("</feed>\n");
  return feed;
}

QString SitemapText(const QStringList& addresses) {
  QString sitemap =
      QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n");
  for (const QString& address : addresses)
    sitemap += QStringLiteral("<url><loc>%1</loc></url>\n").arg(feedEscaped(address));
  return sitemap + QStringLiteral("</urlset>\n");
}

QString RobotsText(const QString& siteAddress) {
  return QStringLiteral("User-agent: *\nAllow: /\nSitemap: %1sitemap.xml\n").arg(siteAddress);
}
