// The pieces of a site's pages: image tags with the sizes to choose from, tile lists, and each
// page's head and frame cut from the template's skeleton, with its second-language copy.
#include "processing/sitepagewriter.h"

#include <QRegularExpression>
#include <algorithm>

namespace site_pages {

// The image in the sizes the browser may choose from: a tile or cover the thumbnail, the web
// sizes below the medium image and the medium image, a picture's page the medium image and the
// larger web sizes. Width and height
// keep the page from moving when the image arrives.
QString TPageWriter::img(const QString& cls, const TSitePicture& p, const QString& alt,
                         const QString& sizes, bool first) const {
  const bool thumb = cls == QLatin1String("thumb");
  const bool large = !thumb || sizes.contains(QLatin1String("vw"));
  const TSiteImage& main = large ? p.Medium : p.Thumb;
  QString html =
      QStringLiteral("<img class=\"%1\" src=\"%2\" alt=\"%3\"").arg(cls, esc(main.Url), esc(alt));
  if (main.Width > 0 && main.Height > 0)
    html += QStringLiteral(" width=\"%1\" height=\"%2\"").arg(main.Width).arg(main.Height);
  std::vector<const TSiteImage*> choices;
  if (thumb) {
    // Between the thumbnail and the medium image: the web sizes made for covers.
    choices = {&p.Thumb};
    for (const TSiteImage& web : p.Web)
      if (web.Width < p.Medium.Width) choices.push_back(&web);
    choices.push_back(&p.Medium);
  } else {
    choices = {&p.Medium};
    for (const TSiteImage& web : p.Web)
      choices.push_back(&web);
  }
  QStringList candidates;
  int widest = 0;
  for (const TSiteImage* image : choices)
    if (image->Width > widest && !image->Url.isEmpty()) {
      candidates << QStringLiteral("%1 %2w").arg(esc(image->Url)).arg(image->Width);
      widest = image->Width;
    }
  if (candidates.size() > 1 && !sizes.isEmpty())
    html += QStringLiteral(" srcset=\"%1\" sizes=\"%2\"")
                .arg(candidates.join(QStringLiteral(", ")), sizes);
  // The first image of a page is the largest of its first screen: it is fetched at once.
  html += first ? QStringLiteral(" fetchpriority=\"high\" decoding=\"async\">")
                : QStringLiteral(" loading=\"lazy\" decoding=\"async\">");
  return html;
}

// How many tiles an album or category page holds as HTML; the scripts add the others.
constexpr size_t kStaticTiles = 240;
// Tiles that are loaded at once: more than a large screen shows.
constexpr size_t kEagerTiles = 24;

QString TPageWriter::tiles(const std::vector<const TSitePicture*>& pictures,
                           const QString& pageName) const {
  QString html = QStringLiteral("<ul class=\"grid\" data-static=\"%1\" data-count=\"%2\">")
                     .arg(std::min(pictures.size(), kStaticTiles))
                     .arg(pictures.size());
  for (size_t i = 0; i < pictures.size() && i < kStaticTiles; ++i) {
    const TSitePicture& p = *pictures[i];
    html += QStringLiteral("<li class=\"tile\"><a class=\"tile-link\" href=\"%1\" "
                           "data-picture-id=\"%2\" data-big=\"%3\">")
                .arg(PicturePageName(p.Id))
                .arg(p.Id)
                .arg(esc(p.Medium.Url));
    QString tile = img(QStringLiteral("thumb"), p,
                       c_.PictureName(p, pageName, qsizetype(i), qsizetype(pictures.size())),
                       QString(), i == 0);
    if (i > 0 && i < kEagerTiles) tile.replace(QStringLiteral(" loading=\"lazy\""), QString());
    html += tile + QStringLiteral("</a></li>");
  }
  return html + QStringLiteral("</ul>");
}

QString TPageWriter::page(const QString& file, const QString& route, const QString& title,
                          const QString& description, const TSitePicture* image,
                          const QString& content) {
  if (language_ == 1) {
    collected_[file] = {title, content};
    return QString();
  }
  const QString& base = input_.SiteAddress;
  QString head = QStringLiteral("<title>%1</title>\n").arg(esc(title));
  const QString summary = description.simplified().left(300);
  if (!summary.isEmpty())
    head += QStringLiteral("<meta name=\"description\" content=\"%1\">\n").arg(esc(summary));
  head += QStringLiteral("<meta property=\"og:type\" content=\"%1\">\n")
              .arg(route.startsWith(QLatin1String("album/")) && route.count('/') == 2
                       ? QStringLiteral("article")
                       : QStringLiteral("website"));
  head += QStringLiteral("<meta property=\"og:title\" content=\"%1\">\n").arg(esc(title));
  head +=
      QStringLiteral("<meta property=\"og:site_name\" content=\"%1\">\n").arg(esc(c_.SiteTitle));
  if (!summary.isEmpty())
    head += QStringLiteral("<meta property=\"og:description\" content=\"%1\">\n").arg(esc(summary));
  head += QStringLiteral("<meta name=\"twitter:card\" content=\"%1\">\n")
              .arg(image ? QStringLiteral("summary_large_image") : QStringLiteral("summary"));
  if (!base.isEmpty()) {
    const QString address = base + (file == QLatin1String("index.html") ? QString() : file);
    addresses_ << address;
    head += QStringLiteral("<link rel=\"canonical\" href=\"%1\">\n").arg(esc(address));
    head += QStringLiteral("<meta property=\"og:url\" content=\"%1\">\n").arg(esc(address));
    if (image) {
      head += QStringLiteral("<meta property=\"og:image\" content=\"%1\">\n")
                  .arg(esc(base + image->Medium.Url));
      if (image->Medium.Width > 0)
        head += QStringLiteral("<meta property=\"og:image:width\" content=\"%1\">\n"
                               "<meta property=\"og:image:height\" content=\"%2\">\n")
                    .arg(image->Medium.Width)
                    .arg(image->Medium.Height);
    }
  }
  head += QStringLiteral("<link rel=\"alternate\" type=\"application/atom+xml\" href=\"feed.xml\" "
                         "title=\"%1\">")
              .arg(esc(c_.SiteTitle));
  prepare();
  const QString htmlTag =
      QStringLiteral("<html lang=\"%1\" data-page=\"%2\">").arg(esc(c_.Language), esc(route));
  QString html;
  html.reserve(cutLength_ + head.size() + content.size() + 2048);
  auto put = [&](const std::vector<TCut>& cuts) {
    for (const TCut& cut : cuts) {
      html += cut.Text;
      if (cut.Hole == TCut::Head)
        html += head;
      else if (cut.Hole == TCut::HtmlTag)
        html += htmlTag;
    }
  };
  put(beforeMain_);
  html +=
      QLatin1Char('\n') + content + QLatin1Char('\n') + QLatin1String("</main>") + secondCopy(file);
  put(afterMain_);
  return html;
}

// The skeleton as every page has it, cut where a page puts its own head and <html> tag: its
// <noscript> removed, its home link named after the site, and its <main> left out.
void TPageWriter::prepare() {
  if (prepared_) return;
  prepared_ = true;
  QString html = skeleton_;
  static const QRegularExpression noscript(QStringLiteral("<noscript>.*?</noscript>\\n?"),
                                           QRegularExpression::DotMatchesEverythingOption);
  html.remove(noscript);
  html.replace(QStringLiteral("href=\"#/\">Photo gallery</a>"),
               QStringLiteral("href=\"index.html\">%1</a>").arg(esc(c_.SiteTitle)));
  const qsizetype open = html.indexOf(QLatin1String("<main id=\"main\">"));
  const qsizetype close = html.indexOf(QLatin1String("</main>"), open);
  const qsizetype start = open + qsizetype(qstrlen("<main id=\"main\">"));
  static const QRegularExpression holes(QStringLiteral("(<title>[^<]*</title>)|(<html[^>]*>)"));
  auto cut = [](const QString& text) {
    std::vector<TCut> cuts;
    qsizetype at = 0;
    for (auto m = holes.globalMatch(text); m.hasNext();) {
      const QRegularExpressionMatch match = m.next();
      cuts.push_back({text.mid(at, match.capturedStart() - at),
                      match.capturedLength(1) > 0 ? TCut::Head : TCut::HtmlTag});
      at = match.capturedEnd();
    }
    cuts.push_back({text.mid(at), TCut::None});
    return cuts;
  };
  beforeMain_ = cut(html.left(start));
  afterMain_ = cut(html.mid(close + qsizetype(qstrlen("</main>"))));
  cutLength_ = html.size();
}

// The page's content in the site's second language, and the script that shows it instead of
// the first language's before the page is first drawn, for a visitor who chose that language
// (the head's script marks the page with data-want-language and keeps its content hidden).
QString TPageWriter::secondCopy(const QString& file) const {
  QString html;
  const TCollected* found = nullptr;
  if (second_)
    if (const auto it = second_->collected_.find(file); it != second_->collected_.end())
      found = &it->second;
  if (found)
    html += QStringLiteral("\n<template id=\"page-language-2\" data-language=\"%1\" "
                           "data-title=\"%2\">\n%3\n</template>")
                .arg(esc(second_->c_.Language), esc(found->Title), found->Content);
  html += QStringLiteral(
      "\n<script>(() => {\n"
      "  const root = document.documentElement;\n"
      "  const copy = document.getElementById('page-language-2');\n"
      "  if (copy && root.dataset.wantLanguage === copy.dataset.language) {\n"
      "    document.getElementById('main').replaceChildren(copy.content.cloneNode(true));\n"
      "    document.title = copy.dataset.title;\n"
      "    root.lang = copy.dataset.language;\n"
      "    root.dataset.pageLanguage = '1';\n"
      "  }\n"
      "  delete root.dataset.wantLanguage;\n"
      "  const held = document.querySelectorAll('#main img[data-src]');\n"
      "  if (held.length === 0) return;\n"
      "  const release = () => {\n"
      "    for (const img of held) {\n"
      "      for (const name of ['sizes', 'srcset', 'src'])\n"
      "        if (img.dataset[name]) img.setAttribute(name, img.dataset[name]);\n"
      "      delete img.dataset.sizes; delete img.dataset.srcset; delete img.dataset.src;\n"
      "    }\n"
      "  };\n"
      "  const first = document.querySelector('#main img[src]');\n"
      "  const shown = () => requestAnimationFrame(() => setTimeout(release));\n"
      "  if (!first || first.complete) shown();\n"
      "  else {\n"
      "    first.addEventListener('load', shown, { once: true });\n"
      "    first.addEventListener('error', shown, { once: true });\n"
      "  }\n"
      "})();</script>");
  return html;
}

} // namespace site_pages
