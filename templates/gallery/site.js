// The gallery: reads the packed project database in the browser and shows its public albums,
// pictures and categories. Every text that comes from the database is inserted as text.
(function () {
  'use strict';

  const LANGUAGE_KEY = 'lumenfold-gallery-language';
  const THEME_KEY = 'lumenfold-gallery-theme';

  // Texts of the page itself; a language without its own texts uses the English ones.
  const UI = {
    en: {
      albums: 'Albums',
      categories: 'Categories',
      allAlbums: 'All albums',
      pictures: { one: '{n} picture', other: '{n} pictures' },
      empty: 'There are no pictures here.',
      noAlbums: 'This gallery has no albums yet.',
      notFound: 'This page does not exist.',
      notFoundTitle: 'Page not found',
      untitled: '{album}, picture {n} of {count}',
      viewer: 'Picture viewer',
      loading: 'Loading…',
      language: 'Language',
      copyLink: 'Copy link',
      linkCopied: 'Link copied',
      darkMode: 'Dark',
      search: 'Search',
      picturesHeading: 'Pictures',
      searchTitle: 'Search: “{q}”',
      nothingFound: 'Nothing found.',
      slideshow: 'Slideshow',
      interval: 'Slideshow interval {n} s',
      fullScreen: 'Full screen',
      download: 'Download',
      cameraDetails: 'Camera details',
      camera: ['Camera', 'Lens', 'Focal length', 'Aperture', 'Exposure time', 'ISO', 'Taken'],
      fromFile:
        'This gallery has to be opened through a web server. Browsers do not let a page that ' +
        'was opened from a file read its database. Upload the whole folder to your web space ' +
        'and open its address, or start a local web server in this folder.',
      loadError: 'The gallery could not read its database: {detail}',
    },
    de: {
      albums: 'Alben',
      categories: 'Kategorien',
      allAlbums: 'Alle Alben',
      pictures: { one: '{n} Bild', other: '{n} Bilder' },
      empty: 'Hier gibt es keine Bilder.',
      noAlbums: 'Diese Galerie hat noch keine Alben.',
      notFound: 'Diese Seite gibt es nicht.',
      notFoundTitle: 'Seite nicht gefunden',
      untitled: '{album}, Bild {n} von {count}',
      viewer: 'Bildbetrachter',
      loading: 'Wird geladen…',
      language: 'Sprache',
      copyLink: 'Link kopieren',
      linkCopied: 'Link kopiert',
      darkMode: 'Dunkel',
      search: 'Suche',
      picturesHeading: 'Bilder',
      searchTitle: 'Suche: „{q}“',
      nothingFound: 'Nichts gefunden.',
      slideshow: 'Diashow',
      interval: 'Diashow-Intervall {n} s',
      fullScreen: 'Vollbild',
      download: 'Herunterladen',
      cameraDetails: 'Kameradaten',
      camera: ['Kamera', 'Objektiv', 'Brennweite', 'Blende', 'Belichtungszeit', 'ISO', 'Aufgenommen'],
      fromFile:
        'Diese Galerie muss über einen Webserver geöffnet werden. Browser erlauben einer Seite, ' +
        'die aus einer Datei geöffnet wurde, nicht, ihre Datenbank zu lesen. Laden Sie den ' +
        'ganzen Ordner auf Ihren Webspace und öffnen Sie dessen Adresse.',
      loadError: 'Die Galerie konnte ihre Datenbank nicht lesen: {detail}',
    },
  };

  const state = {
    settings: { title: ['Photo gallery'], languages: [{ code: 'en', label: 'English' }] },
    language: 0, // index into settings.languages: 0 the first site language, 1 the second
    model: null,
    lightbox: null,
    gridObserver: null, // makes more tiles of a large grid as it is scrolled
    shown: null, // the page shown: key ("album/1"), list, grid, heading, language
    pages: document.documentElement.hasAttribute('data-page'), // the program wrote the pages
    staticKey: null, // the page the program wrote, while it is shown
    closingByRoute: false,
  };
  // Natural sizes of lightbox images seen so far, by address.
  const imageSizes = new Map();

  // ---- small helpers ---------------------------------------------------------------------

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = String(text);
    return node;
  }

  function localeCode() {
    const entry = state.settings.languages[state.language] || state.settings.languages[0];
    return (entry && entry.code) || 'en';
  }

  function ui() {
    const code = localeCode().toLowerCase();
    return UI[code] || UI[code.split('-')[0]] || UI.en;
  }

  function fill(template, values) {
    return template.replace(/\{(\w+)\}/g, (m, key) => (key in values ? values[key] : m));
  }

  // Texts a new album or category starts with; never written by the photographer, so not shown.
  const DEFAULT_TEXTS = new Set([
    '<Long Name>',
    '<title>',
    '<title2>',
    '<description>',
    '<description 2>',
  ]);

  function written(value) {
    const text = value === null || value === undefined ? '' : String(value);
    return DEFAULT_TEXTS.has(text) ? '' : text;
  }

  // The text in the chosen language; the first language's text when the second one is empty.
  function pick(first, second) {
    const a = written(first);
    const b = written(second);
    return state.language === 1 && b.trim() !== '' ? b : a;
  }

  // Intl formatters by kind and language, made once: the first one of a kind costs the browser
  // far more than formatting with it. Null where the language code is not one Intl knows.
  const formatters = new Map();

  function formatter(kind, make) {
    const key = kind + ' ' + localeCode();
    if (!formatters.has(key)) {
      let made = null;
      try {
        made = make(localeCode());
      } catch (e) {
        made = null;
      }
      formatters.set(key, made);
    }
    return formatters.get(key);
  }

  function countText(n) {
    const rules = formatter('plural', (code) => new Intl.PluralRules(code));
    const rule = rules ? rules.select(n) : n === 1 ? 'one' : 'other';
    const forms = ui().pictures;
    const form = forms[rule] || forms.other;
    const number = formatter('number', (code) => new Intl.NumberFormat(code));
    return fill(form, { n: number ? number.format(n) : String(n) });
  }

  // Dates are stored as "yyyy-MM-dd" (a time after it is ignored); other texts are shown as is.
  function dateText(value) {
    if (value === null || value === undefined) return '';
    const text = String(value).trim();
    const m = /^(\d{4})-(\d{1,2})-(\d{1,2})/.exec(text);
    if (!m) return text;
    const date = new Date(Date.UTC(Number(m[1]), Number(m[2]) - 1, Number(m[3])));
    if (isNaN(date.getTime())) return text;
    const dates = formatter(
      'date',
      (code) => new Intl.DateTimeFormat(code, { dateStyle: 'long', timeZone: 'UTC' })
    );
    return dates ? dates.format(date) : text;
  }

  // A stored relative path ("\" or "/" between its parts) as an address below the site.
  function siteUrl(directory, relative) {
    const parts = [];
    for (const piece of [directory, relative]) {
      for (const part of String(piece || '').split(/[\\/]+/)) {
        if (part === '' || part === '.') continue;
        if (part === '..') return null; // never leave the site's folder
        parts.push(encodeURIComponent(part));
      }
    }
    return parts.length ? parts.join('/') : null;
  }

  // ---- reading the database --------------------------------------------------------------

  // The rows of a statement as arrays (much cheaper than one object per row).
  function rows(db, sql, params) {
    const statement = db.prepare(sql);
    const out = [];
    try {
      if (params) statement.bind(params);
      while (statement.step()) out.push(statement.get());
    } finally {
      statement.free();
    }
    return out;
  }

  // The pixel sizes of the web images are in the database the program packs for a site; a
  // database without them gives -1 (unknown).
  const SIZE_COLUMNS =
    'p.thumb_width, p.thumb_height, p.medium_width, p.medium_height, p.large_width, p.large_height';
  let PICTURE_COLUMNS = '';
  const BASE_COLUMNS =
    'p.picture_id, p.picture_date, p.title, p.title2, p.thumb_filename, p.medium_filename, ' +
    'p.medium_size, p.large_filename, p.large_size, a.directory, ';

  // The pictures the site shows (p: picture, a: its album): neither private nor deleted, in an
  // album that is not private, processed (a thumbnail size), with a thumbnail address inside the
  // site: no ".." part (looked for closely only where ".." occurs at all), and some character
  // besides dots and separators.
  const THUMB_PATH = "(coalesce(a.directory, '') || '/' || coalesce(p.thumb_filename, ''))";
  const SHOWN =
    'a.is_private = 0 AND p.is_private = 0 AND p.is_deleted = 0 AND p.thumb_size > 0 ' +
    `AND (instr(${THUMB_PATH}, '..') = 0 ` +
    `OR ('/' || replace(${THUMB_PATH}, '\\', '/') || '/') NOT LIKE '%/../%') ` +
    `AND ${THUMB_PATH} GLOB '*[^./\\]*'`;

  function pictureOf(row) {
    const [id, date, title, title2, thumbFile, mediumFile, mediumSize, largeFile, largeSize, dir] =
      row;
    const [thumbW, thumbH, mediumW, mediumH, largeW, largeH] = row.slice(10);
    const camera = row.slice(16, 23);
    const web = row[23];
    const thumb = siteUrl(dir, thumbFile);
    let big = null;
    let bigSize = null;
    if (mediumSize > 0) big = siteUrl(dir, mediumFile);
    if (big && mediumW > 0 && mediumH > 0) bigSize = [mediumW, mediumH];
    if (!big && largeSize > 0) big = siteUrl(dir, largeFile);
    const thumbSize = thumbW > 0 && thumbH > 0 ? [thumbW, thumbH] : null;
    // The viewer chooses among all web sizes whose pixel sizes are known, up to the large one.
    const sources = [];
    const coverSizes = [];
    if (thumbSize) sources.push([thumb, thumbW]);
    if (bigSize) sources.push([big, mediumW]);
    let largest = bigSize;
    const large = largeSize > 0 && largeW > 0 && largeH > 0 ? siteUrl(dir, largeFile) : null;
    // The template's extra web sizes (JSON [[width, height, file], ...], smallest first), then
    // the large image when it is larger still: the viewer and its zoom take the largest the
    // screen can show.
    if (bigSize && web) {
      let list = [];
      try {
        list = JSON.parse(web);
      } catch (e) {
        list = [];
      }
      for (const [w, h, file] of Array.isArray(list) ? list : []) {
        const url = typeof file === 'string' ? siteUrl(dir, file) : null;
        if (!url) continue;
        // A size below the medium image is the covers' (between thumbnail and medium).
        if (w < mediumW && thumbSize && w > thumbW) coverSizes.push([url, w]);
        if (w <= largest[0]) continue;
        sources.push([url, w]);
        largest = [w, h];
      }
    }
    if (large && bigSize && largeW > largest[0]) {
      sources.push([large, largeW]);
      largest = [largeW, largeH];
    }
    const srcset = sources.length > 1 ? sources.map(([u, w]) => u + ' ' + w + 'w').join(', ') : '';
    return {
      id,
      date,
      title: [title, title2],
      thumb,
      thumbSize,
      big: big || thumb,
      bigSize,
      srcset,
      coverSizes,
      largest,
      largeFile: largeSize > 0 ? siteUrl(dir, largeFile) : null,
      camera: camera.some((v) => v !== null && v !== undefined && v !== '') ? camera : null,
    };
  }

  function albumOf(a) {
    return {
      id: a[0],
      faceId: a[1],
      date: a[2],
      shortName: [a[3], a[4]],
      longName: [a[5], a[6]],
      description: [a[7], a[8]],
    };
  }

  function categoryOf(c) {
    return { id: c[0], title: [c[1], c[2]], description: [c[3], c[4]] };
  }

  const ALBUM_COLUMNS =
    'a.album_id, a.face_picture_id, a.album_date, a.short_name, a.short_name2, a.long_name, ' +
    'a.long_name2, a.description, a.description2';
  const CATEGORY_COLUMNS = 'c.category_id, c.title, c.title2, c.description, c.description2';

  // The site's contents, read from the open database only as far as a page needs them: the
  // album list with its counts and covers and the category list for the home page, one album's
  // or one category's pictures for its page, and of those only as many as its grid shows so far.
  // A site of many thousand pictures then opens as fast as one of a few. Albums and categories
  // without a shown picture do not exist.
  function readModel(db) {
    const sized =
      rows(db, "SELECT COUNT(*) FROM pragma_table_info('picture') WHERE name = 'medium_height'")[0][0] >
      0;
    PICTURE_COLUMNS =
      BASE_COLUMNS +
      (sized ? SIZE_COLUMNS : '-1, -1, -1, -1, -1, -1') +
      (sized
        ? ', p.camera, p.lens, p.focal_length, p.aperture, p.exposure_time, p.iso, p.taken'
        : ', NULL, NULL, NULL, NULL, NULL, NULL, NULL') +
      (rows(db, "SELECT COUNT(*) FROM pragma_table_info('picture') WHERE name = 'web_images'")[0][0] >
      0
        ? ', p.web_images'
        : ', NULL');
    // Whether a picture's title in either language holds the (lower-case) text; SQLite's own
    // LIKE ignores the case of ASCII letters only.
    db.create_function('lf_has', (a, b, wanted) =>
      [a, b].some((t) => written(t).toLocaleLowerCase().includes(wanted)) ? 1 : 0
    );
    let albums = null;
    let categories = null;
    const lists = new Map();

    // The pictures of a page (the rows of "FROM ... WHERE ..." in the given order): their count
    // at once, the pictures themselves by load(n), which reads the first n of them as far as
    // they have not been read yet and returns all read so far.
    function pictureList(key, from, order, params) {
      if (lists.has(key)) return lists.get(key);
      const list = { count: rows(db, 'SELECT COUNT(*) ' + from, params)[0][0], pictures: [] };
      list.load = (n) => {
        const wanted = Math.min(n, list.count) - list.pictures.length;
        if (wanted > 0) {
          const more = rows(
            db,
            'SELECT ' + PICTURE_COLUMNS + ' ' + from + ' ' + order + ' LIMIT ? OFFSET ?',
            params.concat([wanted, list.pictures.length])
          );
          for (const row of more) list.pictures.push(pictureOf(row));
          // Should the database not give what it counted, the list ends where it stopped.
          if (more.length < wanted) list.count = list.pictures.length;
        }
        return list.pictures;
      };
      lists.set(key, list);
      return list;
    }

    return {
      // The public albums with a shown picture, newest first, with count and cover (the face
      // picture when it is shown, else the album's first shown picture).
      albums() {
        if (albums) return albums;
        // Counted per album along its index, which is far cheaper than grouping all pictures.
        albums = rows(
          db,
          'SELECT * FROM (SELECT ' + ALBUM_COLUMNS + ', (SELECT COUNT(*) FROM picture p ' +
            'WHERE p.album_id = a.album_id AND ' + SHOWN + ') AS shown FROM album a ' +
            'WHERE a.is_private = 0) WHERE shown > 0 ORDER BY album_id DESC'
        ).map((a) => Object.assign(albumOf(a), { count: a[9] }));
        const face = db.prepare(
          'SELECT ' + PICTURE_COLUMNS + ' FROM picture p JOIN album a ON a.album_id = p.album_id ' +
            'WHERE p.picture_id = ? AND p.album_id = ? AND ' + SHOWN
        );
        const first = db.prepare(
          'SELECT ' + PICTURE_COLUMNS + ' FROM picture p JOIN album a ON a.album_id = p.album_id ' +
            'WHERE p.album_id = ? AND ' + SHOWN + ' ORDER BY p.sort_order, p.picture_id LIMIT 1'
        );
        try {
          for (const album of albums) {
            for (const [statement, params] of [
              [face, [album.faceId, album.id]],
              [first, [album.id]],
            ]) {
              statement.bind(params);
              const found = statement.step() ? statement.get() : null;
              statement.reset();
              if (found) {
                album.cover = pictureOf(found);
                break;
              }
            }
          }
        } finally {
          face.free();
          first.free();
        }
        return albums;
      },
      // The albums, categories and pictures whose names or titles in either language contain
      // the text (letter case ignored); the pictures as a picture list.
      search(text) {
        const wanted = text.toLocaleLowerCase();
        const has = (...texts) =>
          texts.some((t) => written(t).toLocaleLowerCase().includes(wanted));
        const list = pictureList(
          's' + wanted,
          'FROM picture p JOIN album a ON a.album_id = p.album_id ' +
            'WHERE lf_has(p.title, p.title2, ?) AND ' + SHOWN,
          'ORDER BY p.album_id DESC, p.sort_order, p.picture_id',
          [wanted]
        );
        return {
          albums: this.albums().filter((a) => has(...a.shortName, ...a.longName)),
          categories: this.categories().filter((c) => has(...c.title)),
          list,
        };
      },
      // One album with its pictures in their order, or null when the site does not show it.
      album(id) {
        const found = rows(
          db,
          'SELECT ' + ALBUM_COLUMNS + ' FROM album a WHERE a.album_id = ? AND a.is_private = 0',
          [id]
        );
        if (found.length === 0) return null;
        const album = albumOf(found[0]);
        album.list = pictureList(
          'a' + id,
          'FROM picture p JOIN album a ON a.album_id = p.album_id WHERE p.album_id = ? AND ' +
            SHOWN,
          'ORDER BY p.sort_order, p.picture_id',
          [id]
        );
        album.count = album.list.count;
        return album.count > 0 ? album : null;
      },
      // The categories with a shown picture and their counts (a picture counted once).
      categories() {
        if (categories) return categories;
        categories = rows(
          db,
          'SELECT ' + CATEGORY_COLUMNS + ', COUNT(DISTINCT p.picture_id) FROM category c ' +
            'JOIN picture_to_category l ON l.category_id = c.category_id ' +
            'JOIN picture p ON p.picture_id = l.picture_id ' +
            'JOIN album a ON a.album_id = p.album_id WHERE ' + SHOWN +
            ' GROUP BY c.category_id'
        ).map((c) => Object.assign(categoryOf(c), { count: c[5] }));
        return categories;
      },
      // One category with its pictures in the order of the albums and of the pictures in them,
      // or null when the site does not show it.
      category(id) {
        const found = rows(db, 'SELECT ' + CATEGORY_COLUMNS + ' FROM category c WHERE c.category_id = ?', [
          id,
        ]);
        if (found.length === 0) return null;
        const category = categoryOf(found[0]);
        category.list = pictureList(
          'c' + id,
          'FROM picture p JOIN album a ON a.album_id = p.album_id ' +
            'WHERE p.picture_id IN (SELECT picture_id FROM picture_to_category ' +
            'WHERE category_id = ?) AND ' + SHOWN,
          'ORDER BY p.album_id DESC, p.sort_order, p.picture_id',
          [id]
        );
        category.count = category.list.count;
        return category.count > 0 ? category : null;
      },
    };
  }

  // sql.js on the module the page compiled while it downloaded (window.lumenfoldBoot); when there
  // is none (a server that sends .wasm with another type) sql.js loads the module itself.
  function startSqlite(compiled) {
    const locateFile = (file) => 'vendor/' + file;
    const itself = () => window.initSqlJs({ locateFile });
    if (!compiled) return itself();
    return compiled.then(
      (module) =>
        new Promise((resolve, reject) => {
          window
            .initSqlJs({
              locateFile,
              instantiateWasm(imports, receive) {
                WebAssembly.instantiate(module, imports).then(receive, reject);
                return {};
              },
            })
            .then(resolve, reject);
        }),
      itself
    );
  }

  // The database, downloaded while the SQLite module compiles.
  async function loadDatabase(downloaded, sqlPromise) {
    const bytes = new Uint8Array(await downloaded);
    const SQL = await sqlPromise;
    const db = new SQL.Database(bytes);
    try {
      return readModel(db);
    } catch (error) {
      db.close();
      throw error;
    }
  }

  // ---- views -----------------------------------------------------------------------------

  function main() {
    return document.getElementById('main');
  }

  function showMessage(text) {
    const box = main();
    box.replaceChildren(el('p', 'status', text));
  }

  function siteTitle() {
    const t = state.settings.title || [];
    return pick(t[0], t[1]) || 'Photo gallery';
  }

  function renderHeader() {
    document.documentElement.lang = localeCode();
    const home = document.getElementById('home');
    home.textContent = siteTitle();
    if (state.pages) home.href = 'index.html';
    const search = document.getElementById('search-text');
    if (search) {
      search.setAttribute('aria-label', ui().search);
      search.placeholder = ui().search;
    }
    const nav = document.getElementById('languages');
    nav.setAttribute('aria-label', ui().language);
    const buttons = [];
    const languages = state.settings.languages.slice(0, 2);
    if (languages.length > 1) {
      languages.forEach((entry, index) => {
        const button = el('button', 'language', entry.label || entry.code);
        button.type = 'button';
        button.lang = entry.code;
        button.dataset.language = String(index);
        button.setAttribute('aria-pressed', String(index === state.language));
        button.addEventListener('click', () => setLanguage(index));
        buttons.push(button);
      });
    }
    buttons.push(themeButton());
    nav.replaceChildren(...buttons);
  }

  // ---- dark mode -------------------------------------------------------------------------

  // The page follows the system's light or dark look until the visitor chooses one; the head
  // of the page applies a stored choice before anything is drawn.
  function darkShown() {
    const chosen = document.documentElement.dataset.theme;
    if (chosen) return chosen === 'dark';
    return !!(window.matchMedia && matchMedia('(prefers-color-scheme: dark)').matches);
  }

  function themeButton() {
    const button = el('button', 'language theme', ui().darkMode);
    button.type = 'button';
    button.id = 'theme';
    button.setAttribute('aria-pressed', String(darkShown()));
    button.addEventListener('click', () => {
      const theme = darkShown() ? 'light' : 'dark';
      document.documentElement.dataset.theme = theme;
      try {
        localStorage.setItem(THEME_KEY, theme);
      } catch (e) {
        // Kept for this visit only.
      }
      button.setAttribute('aria-pressed', String(theme === 'dark'));
    });
    return button;
  }

  function albumName(album) {
    return pick(album.longName[0], album.longName[1]) || pick(album.shortName[0], album.shortName[1]);
  }

  function pictureTitle(picture) {
    return pick(picture.title[0], picture.title[1]);
  }

  // A name for the picture at index (0-based) of a page's count pictures: its title, or for an
  // untitled one the page's name and its place there, so that no image goes unnamed.
  function pictureName(picture, index, pageName, count) {
    const title = pictureTitle(picture);
    if (title.trim()) return title;
    const number = formatter('number', (code) => new Intl.NumberFormat(code));
    const format = (n) => (number ? number.format(n) : String(n));
    return fill(ui().untitled, { album: pageName, n: format(index + 1), count: format(count) });
  }

  // The page's heading takes the focus after a move within the site, so that a screen reader
  // starts reading the new page there and the keyboard goes on from it.
  function pageHeading(text) {
    const heading = el('h1', 'page-title', text);
    heading.tabIndex = -1;
    return heading;
  }

  // The width of an album's cover in the album list (see .albums in style.css): one column
  // below 553 CSS pixels, two below 849, at most 340 pixels beyond. The program's pages say the
  // same.
  const COVER_SIZES = '(max-width: 552px) 96vw, (max-width: 848px) 47vw, 340px';

  // An image that loads when it comes near the window, or at once when eager. With sizes the
  // browser picks the thumbnail, a cover size or the medium image, whichever fits the shown size.
  function thumbImage(picture, alt, eager, sizes) {
    const img = el('img', 'thumb');
    img.loading = eager ? 'eager' : 'lazy';
    img.decoding = 'async';
    img.alt = alt;
    const large = !!sizes;
    const size = large ? picture.bigSize : picture.thumbSize;
    if (size) {
      img.width = size[0];
      img.height = size[1];
    }
    if (large && picture.thumbSize && picture.bigSize && picture.bigSize[0] > picture.thumbSize[0]) {
      const choices = [[picture.thumb, picture.thumbSize[0]], ...picture.coverSizes,
        [picture.big, picture.bigSize[0]]];
      img.srcset = choices.map(([url, w]) => url + ' ' + w + 'w').join(', ');
      img.sizes = sizes;
    }
    img.src = large ? picture.big : picture.thumb;
    return img;
  }

  // Addresses of the pages: the program's own pages where the site has them, else the
  // addresses within this page.
  function albumHref(id) {
    return state.pages ? 'album-' + id + '.html' : '#/album/' + id;
  }

  function categoryHref(id) {
    return state.pages ? 'category-' + id + '.html' : '#/category/' + id;
  }

  function photoHref(pageKey, id) {
    return state.pages ? 'photo-' + id + '.html' : '#/' + pageKey + '/' + id;
  }

  function renderHome() {
    const model = state.model;
    const t = ui();
    const box = main();
    const parts = [];
    document.title = siteTitle();
    const albumsHeading = pageHeading(t.albums);
    albumsHeading.className = 'section-title';
    parts.push(albumsHeading);
    const albums = model.albums();
    const categoryList = model.categories();
    if (albums.length === 0) parts.push(el('p', 'status', t.noAlbums));
    const list = el('ul', 'albums');
    albums.forEach((album, index) => {
      const item = el('li', 'album-card');
      const link = el('a', 'album-link');
      link.href = albumHref(album.id);
      link.dataset.albumId = String(album.id);
      const name = albumName(album);
      link.append(thumbImage(album.cover, name, index < 4, COVER_SIZES));
      const text = el('div', 'album-text');
      text.append(el('h2', 'album-name', name));
      const meta = [dateText(album.date), countText(album.count)].filter((s) => s);
      text.append(el('p', 'meta', meta.join(' · ')));
      const description = pick(album.description[0], album.description[1]);
      if (description.trim()) text.append(el('p', 'description', description));
      link.append(text);
      item.append(link);
      list.append(item);
    });
    parts.push(list);
    if (categoryList.length > 0) {
      parts.push(el('h2', 'section-title', t.categories));
      const collator =
        formatter('collator', (code) => new Intl.Collator(code)) || new Intl.Collator();
      const sorted = categoryList
        .slice()
        .sort((a, b) => collator.compare(pick(a.title[0], a.title[1]), pick(b.title[0], b.title[1])));
      const categories = el('ul', 'categories');
      for (const category of sorted) {
        const item = el('li');
        const link = el('a', 'category-link');
        link.href = categoryHref(category.id);
        link.dataset.categoryId = String(category.id);
        link.append(el('span', 'category-name', pick(category.title[0], category.title[1])));
        link.append(el('span', 'count', countText(category.count)));
        item.append(link);
        categories.append(item);
      }
      parts.push(categories);
    }
    box.replaceChildren(...parts);
  }

  function backLink() {
    const link = el('a', 'back', '← ' + ui().allAlbums);
    link.href = state.pages ? 'index.html' : '#/';
    return link;
  }

  // Tiles made at once; the following ones are made in steps of this size as the page is
  // scrolled towards the end of the grid, so that a large album shows at once.
  const GRID_STEP = 120;
  // Tiles are at least this large (see .grid in style.css).
  const TILE_WIDTH = 180;
  const TILE_HEIGHT = 135;

  function stopGridGrowth() {
    if (state.gridObserver) {
      state.gridObserver.disconnect();
      state.gridObserver = null;
    }
  }

  // A page of pictures; list is a picture list of the model (count, load). adopted: the grid
  // the page already holds (written by the program), whose tiles are kept.
  function renderPictures(key, heading, meta, description, list, adopted) {
    const box = main();
    document.title = heading + ' – ' + siteTitle();
    const grid = adopted || el('ul', 'grid');
    let made = adopted ? adopted.querySelectorAll('a.tile-link').length : 0;
    let observer = null;
    // The thumbnails of the first screenful load at once, without waiting for the layout that
    // lazy loading needs; the others as they come near the window.
    const firstScreen = Math.min(
      GRID_STEP,
      Math.ceil(innerWidth / TILE_WIDTH) * Math.ceil(innerHeight / TILE_HEIGHT)
    );
    // Makes the tiles up to (not including) the given position.
    grid.ensureTiles = (count) => {
      const pictures = list.load(count);
      const end = Math.min(count, pictures.length);
      for (; made < end; ++made) {
        const index = made;
        const picture = pictures[index];
        const item = el('li', 'tile');
        const link = el('a', 'tile-link');
        link.href = photoHref(key, picture.id);
        link.dataset.pictureId = String(picture.id);
        link.dataset.big = picture.big;
        const name = pictureName(picture, index, heading, list.count);
        link.append(thumbImage(picture, name, index < firstScreen));
        item.append(link);
        grid.append(item);
      }
      if (observer && state.gridObserver === observer) {
        observer.disconnect();
        if (made < list.count) observer.observe(grid.lastElementChild);
      }
    };
    // One handler for all tiles, those of the program's page included.
    grid.onclick = (event) => {
      const link = event.target.closest('a.tile-link');
      if (!link || event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey) return;
      event.preventDefault();
      showPhoto(Number(link.dataset.pictureId), true);
    };
    stopGridGrowth();
    if (list.count > made + GRID_STEP && 'IntersectionObserver' in window) {
      observer = new IntersectionObserver(
        (entries) => {
          if (entries.some((e) => e.isIntersecting)) grid.ensureTiles(made + GRID_STEP);
        },
        { rootMargin: '0px 0px 1500px 0px' }
      );
      state.gridObserver = observer;
      grid.ensureTiles(Math.max(made, GRID_STEP));
    } else {
      grid.ensureTiles(list.count);
    }
    state.shown = { key, list, grid, heading };
    if (adopted) return;
    const parts = [backLink(), pageHeading(heading)];
    if (meta) parts.push(el('p', 'meta', meta));
    if (description && description.trim()) parts.push(el('p', 'description', description));
    if (list.count === 0) parts.push(el('p', 'status', ui().empty));
    parts.push(grid);
    box.replaceChildren(...parts);
  }

  function renderAlbum(key, album, adopted) {
    const meta = [dateText(album.date), countText(album.count)].filter((s) => s);
    renderPictures(
      key,
      albumName(album),
      meta.join(' · '),
      pick(album.description[0], album.description[1]),
      album.list,
      adopted
    );
  }

  function renderCategory(key, category, adopted) {
    renderPictures(
      key,
      pick(category.title[0], category.title[1]),
      countText(category.count),
      pick(category.description[0], category.description[1]),
      category.list,
      adopted
    );
  }

  function renderSearch(key, text) {
    const found = state.model.search(text);
    renderPictures(key, fill(ui().searchTitle, { q: text }), countText(found.list.count), '', found.list);
    const grid = state.shown.grid;
    const parts = [];
    if (found.albums.length > 0) {
      const list = el('ul', 'categories');
      for (const album of found.albums) {
        const link = el('a', 'category-link', albumName(album));
        link.href = albumHref(album.id);
        const item = el('li');
        item.append(link);
        list.append(item);
      }
      parts.push(el('h2', 'section-title', ui().albums), list);
    }
    if (found.categories.length > 0) {
      const list = el('ul', 'categories');
      for (const category of found.categories) {
        const link = el('a', 'category-link', pick(category.title[0], category.title[1]));
        link.href = categoryHref(category.id);
        const item = el('li');
        item.append(link);
        list.append(item);
      }
      parts.push(el('h2', 'section-title', ui().categories), list);
    }
    if (found.list.count > 0 && parts.length > 0) parts.push(el('h2', 'section-title', ui().picturesHeading));
    if (parts.length === 0 && found.list.count === 0) parts.push(el('p', 'status', ui().nothingFound));
    const empty = main().querySelector('p.status');
    if (empty) empty.remove();
    grid.before(...parts);
  }

  // The search field: answers as the visitor types, on a page of results with an address.
  function setUpSearch() {
    const form = document.getElementById('search');
    if (!form) return;
    const input = form.querySelector('input');
    let timer = null;
    const go = () => {
      const text = input.value.trim();
      if (!text) return;
      loadModel()
        .then(() => {
          const address = '#/search/' + encodeURIComponent(text);
          if (currentRoute().kind === 'search') history.replaceState(null, '', address);
          else history.pushState(null, '', address);
          route({ type: 'search' });
        })
        .catch(showLoadError);
    };
    input.addEventListener('focus', () => loadModel().catch(() => {}), { once: true });
    input.addEventListener('input', () => {
      clearTimeout(timer);
      timer = setTimeout(go, 120);
    });
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      clearTimeout(timer);
      go();
    });
    form.hidden = false;
  }

  function renderNotFound() {
    document.title = ui().notFoundTitle + ' – ' + siteTitle();
    main().replaceChildren(
      backLink(),
      pageHeading(ui().notFoundTitle),
      el('p', 'status', ui().notFound)
    );
  }

  // ---- addresses -------------------------------------------------------------------------

  // What the address shows: "#/album/1/17" (album 1, viewer on picture 17), else the page the
  // program wrote (data-page of <html>), else the home page.
  function currentRoute() {
    const path = /^#\//.test(location.hash)
      ? location.hash.slice(2)
      : document.documentElement.dataset.page || '';
    const [kind, id, photo] = path.split('/');
    const number = /^\d+$/.test(id || '') ? Number(id) : NaN;
    const picture = /^\d+$/.test(photo || '') ? Number(photo) : null;
    if (!kind) return { key: '', kind: '', id: NaN, photo: null };
    let text = '';
    try {
      text = decodeURIComponent(id || '').trim();
    } catch (e) {
      text = '';
    }
    return { key: kind + '/' + (id || ''), kind, id: number, text, photo: picture };
  }

  function route(event, keepScroll) {
    if (!state.model) return;
    const r = currentRoute();
    const shown = state.shown;
    if (!shown || shown.key !== r.key || shown.language !== state.language) {
      state.closingByRoute = true;
      closeLightbox();
      state.closingByRoute = false;
      stopGridGrowth();
      renderHeader();
      // The program's page is kept when it shows what the address asks in its language.
      const adopt =
        state.staticKey === r.key && state.language === pageLanguage() && !shown
          ? main().querySelector('ul.grid[data-static]') || (r.key === '' ? main() : null)
          : null;
      state.shown = null;
      const album = r.kind === 'album' && r.id >= 0 ? state.model.album(r.id) : null;
      const category = r.kind === 'category' && r.id >= 0 ? state.model.category(r.id) : null;
      if (r.key === '') {
        if (!adopt) renderHome();
        else document.title = siteTitle();
      } else if (album) renderAlbum(r.key, album, adopt);
      else if (category) renderCategory(r.key, category, adopt);
      else if (r.kind === 'search' && r.text) renderSearch(r.key, r.text);
      else renderNotFound();
      state.shown = Object.assign(state.shown || {}, { key: r.key, language: state.language });
      if (!keepScroll && !adopt) window.scrollTo(0, 0);
      // A move within the site (not the first page, not a change of language).
      if (event && (event.type === 'hashchange' || event.type === 'popstate') && shown) {
        const heading = main().querySelector('h1');
        if (heading) heading.focus({ preventScroll: true });
      }
    }
    // The picture part of the address opens the viewer on it; without it the viewer closes.
    if (r.photo !== null) showPhoto(r.photo, false);
    else if (state.lightbox) {
      state.closingByRoute = true;
      state.lightbox.close();
      state.closingByRoute = false;
    }
  }

  // The language of the content a page the program wrote shows: 1 when it swapped in its copy
  // in the site's second language.
  function pageLanguage() {
    return document.documentElement.dataset.pageLanguage === '1' ? 1 : 0;
  }

  function setLanguage(index) {
    state.language = index;
    try {
      localStorage.setItem(LANGUAGE_KEY, state.settings.languages[index].code);
    } catch (e) {
      // A browser without storage keeps the choice for this visit only.
    }
    if (!state.model) {
      renderHeader();
      loadModel().then(() => focusLanguage(index), showLoadError);
      return;
    }
    route(null, true);
    focusLanguage(index);
  }

  function focusLanguage(index) {
    const button = document.querySelector('button.language[data-language="' + index + '"]');
    if (button) button.focus();
  }

  // ---- lightbox --------------------------------------------------------------------------

  function closeLightbox() {
    if (state.lightbox) {
      state.lightbox.destroy();
      state.lightbox = null;
    }
  }

  function captionOf(picture) {
    return [pictureTitle(picture), dateText(picture.date)].filter((s) => s && s.trim()).join(' · ');
  }

  // The address of a picture for others: the program's page of it where the site has pages.
  function shareAddress(picture) {
    const shown = state.shown;
    return new URL(photoHref(shown.key, picture.id), location.href).href;
  }

  async function copyText(text) {
    if (navigator.clipboard && window.isSecureContext) {
      await navigator.clipboard.writeText(text);
      return;
    }
    const field = el('textarea');
    field.value = text;
    field.setAttribute('readonly', '');
    field.style.position = 'fixed';
    field.style.opacity = '0';
    document.body.append(field);
    field.select();
    const done = document.execCommand('copy');
    field.remove();
    if (!done) throw new Error('copy refused');
  }

  // The viewer's library and its styles, loaded when the viewer first opens: no page's first
  // screen waits for them. The styles go before the site's own, which adjust them.
  let viewerLibrary = null;
  function loadViewerLibrary() {
    if (window.PhotoSwipe) return Promise.resolve();
    if (!viewerLibrary) {
      const load = (node, what) =>
        new Promise((resolve, reject) => {
          node.onload = resolve;
          node.onerror = () => {
            node.remove();
            reject(new Error(what + ' cannot be loaded'));
          };
        });
      const styles = document.createElement('link');
      styles.rel = 'stylesheet';
      styles.href = 'vendor/photoswipe.css';
      const script = document.createElement('script');
      script.src = 'vendor/photoswipe.umd.min.js';
      const loaded = Promise.all([
        load(styles, styles.getAttribute('href')),
        load(script, script.getAttribute('src')),
      ]);
      // Before the gallery's own styles, which adjust the library's.
      document.head.insertBefore(styles,
        document.head.querySelector('link[href="style.css"], style[data-file="style.css"]'));
      document.head.append(script);
      viewerLibrary = loaded.catch((error) => {
        viewerLibrary = null; // a later opening tries again
        throw error;
      });
    }
    return viewerLibrary;
  }

  // Shows the picture of the shown page in the viewer; pushed: a new address for it (a click on
  // a tile), so that Back closes the viewer before it leaves the page.
  function showPhoto(id, pushed) {
    const shown = state.shown;
    if (!shown || !shown.list) return;
    const pictures = shown.list.load(Infinity);
    const index = pictures.findIndex((p) => p.id === id);
    if (index < 0) return;
    const address = '#/' + shown.key + '/' + id;
    if (pushed) history.pushState({ lightbox: true }, '', address);
    if (state.lightbox) {
      if (state.lightbox.currIndex !== index) state.lightbox.goTo(index);
      return;
    }
    if (!window.PhotoSwipe) {
      // Opened once the library is there, if the address still asks for a picture of this page
      // (Back may have been pressed meanwhile); without the library a click leads to the
      // picture's own page.
      loadViewerLibrary().then(
        () => {
          const now = currentRoute();
          if (state.shown === shown && !state.lightbox && now.photo !== null)
            showPhoto(now.photo, false);
        },
        () => {
          // After a click only: the picture's page opens the viewer itself, and would load
          // itself again and again.
          if (pushed && state.pages && state.shown === shown && currentRoute().photo === id)
            location.href = photoHref(shown.key, id);
        }
      );
      return;
    }
    openLightbox(pictures, index, shown);
  }

  function openLightbox(pictures, index, shown) {
    closeLightbox();
    const { grid, heading: pageName } = shown;
    const thumbs = grid.querySelectorAll('img.thumb');
    const items = pictures.map((picture, i) => {
      let size = picture.largest || imageSizes.get(picture.big);
      if (!size) {
        // Until the image is loaded its shape is the thumbnail's (both are fitted from the same
        // picture); the real size replaces this when it arrives.
        const thumb = thumbs[i];
        const w = thumb && thumb.naturalWidth ? thumb.naturalWidth : 4;
        const h = thumb && thumb.naturalHeight ? thumb.naturalHeight : 3;
        const scale = Math.min(1024 / w, 1024 / h);
        size = [Math.round(w * scale), Math.round(h * scale)];
      }
      const alt = pictureName(picture, i, pageName, pictures.length);
      const item = { src: picture.big, width: size[0], height: size[1], alt };
      if (picture.srcset) item.srcset = picture.srcset;
      return item;
    });
    const pswp = new window.PhotoSwipe({
      dataSource: items,
      index,
      bgOpacity: 0.94,
      showHideAnimationType: 'fade',
      wheelToZoom: false,
      loop: false,
    });
    // The dialog is named; it holds the page's focus while open.
    pswp.on('firstUpdate', () => {
      pswp.element.setAttribute('aria-label', ui().viewer + ': ' + pageName);
      pswp.element.setAttribute('aria-modal', 'true');
    });
    let notice = null;
    pswp.on('uiRegister', () => {
      pswp.ui.registerElement({
        name: 'caption',
        order: 9,
        isButton: false,
        appendTo: 'root',
        onInit: (element) => {
          const update = () => {
            element.textContent = captionOf(pictures[pswp.currIndex]);
          };
          pswp.on('change', update);
          update();
        },
      });
      pswp.ui.registerElement({
        name: 'share',
        title: ui().copyLink,
        ariaLabel: ui().copyLink,
        order: 8,
        isButton: true,
        html: {
          isCustomSVG: true,
          inner:
            '<path d="M14 10.5h-3a4.5 4.5 0 0 0 0 9h3v-2h-3a2.5 2.5 0 0 1 0-5h3zm4 0v2h3a2.5 ' +
            '2.5 0 0 1 0 5h-3v2h3a4.5 4.5 0 0 0 0-9zm-5 4v2h6v-2z" id="pswp__icn-share"/>',
          outlineID: 'pswp__icn-share',
        },
        onClick: () => {
          const address = shareAddress(pictures[pswp.currIndex]);
          const say = (text) => {
            if (notice) notice.textContent = text;
          };
          copyText(address).then(
            () => say(ui().linkCopied),
            () => say(address)
          );
        },
      });
      let timer = null;
      let seconds = 5;
      let playButton = null;
      const stop = () => {
        clearInterval(timer);
        timer = null;
        if (playButton) playButton.setAttribute('aria-pressed', 'false');
        if (playButton) playButton.classList.remove('playing');
      };
      const play = () => {
        clearInterval(timer);
        timer = setInterval(() => {
          if (pswp.currIndex >= pswp.getNumItems() - 1) stop();
          else pswp.next();
        }, seconds * 1000);
        if (playButton) playButton.setAttribute('aria-pressed', 'true');
        if (playButton) playButton.classList.add('playing');
      };
      pswp.on('destroy', stop);
      pswp.ui.registerElement({
        name: 'slideshow',
        title: ui().slideshow,
        ariaLabel: ui().slideshow,
        order: 7,
        isButton: true,
        html: {
          isCustomSVG: true,
          inner: '<path d="M11 8v16l13-8z" id="pswp__icn-play"/>',
          outlineID: 'pswp__icn-play',
        },
        onInit: (element) => {
          playButton = element;
          element.setAttribute('aria-pressed', 'false');
        },
        onClick: () => (timer ? stop() : play()),
      });
      pswp.ui.registerElement({
        name: 'interval',
        title: fill(ui().interval, { n: seconds }),
        ariaLabel: fill(ui().interval, { n: seconds }),
        order: 7,
        isButton: true,
        html: '<span class="pswp__label" aria-hidden="true">5 s</span>',
        onClick: (event, element) => {
          seconds = seconds === 3 ? 5 : seconds === 5 ? 8 : 3;
          const label = fill(ui().interval, { n: seconds });
          element.title = label;
          element.setAttribute('aria-label', label);
          element.firstChild.textContent = seconds + ' s';
          if (timer) play();
        },
      });
      if (document.fullscreenEnabled)
        pswp.ui.registerElement({
          name: 'fullscreen',
          title: ui().fullScreen,
          ariaLabel: ui().fullScreen,
          order: 7,
          isButton: true,
          html: {
            isCustomSVG: true,
            inner:
              '<path d="M7 7h7v2.5H9.5V14H7zm11 0h7v7h-2.5V9.5H18zM7 18h2.5v4.5H14V25H7zm15.5 0H25v7' +
              'h-7v-2.5h4.5z" id="pswp__icn-full"/>',
            outlineID: 'pswp__icn-full',
          },
          onClick: () => {
            if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
            else document.documentElement.requestFullscreen().catch(() => {});
          },
        });
      pswp.on('close', () => {
        if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
      });
      // What the photographer lets visitors download: the medium or the large image.
      const offered = state.site && state.site.download;
      if (offered === 'medium' || offered === 'large')
        pswp.ui.registerElement({
          name: 'download',
          title: ui().download,
          ariaLabel: ui().download,
          order: 8,
          isButton: true,
          tagName: 'a',
          html: {
            isCustomSVG: true,
            inner: '<path d="M20.5 14.3 17.1 18V10h-2.2v7.9l-3.4-3.6L10 16l6 6.1 6-6.1ZM23 23H9v2h14Z" id="pswp__icn-download"/>',
            outlineID: 'pswp__icn-download',
          },
          onInit: (element) => {
            element.setAttribute('download', '');
            const update = () => {
              const picture = pictures[pswp.currIndex];
              element.href = (offered === 'large' && picture.largeFile) || picture.big;
            };
            pswp.on('change', update);
            update();
          },
        });
      // The camera details of the picture shown, behind a button.
      if (state.site && state.site.camera) {
        let panel = null;
        const fillPanel = () => {
          const picture = pictures[pswp.currIndex];
          const values = picture.camera || [];
          const [camera, lens, focal, aperture, exposure, iso, taken] = values;
          const shown = [
            camera,
            lens,
            focal ? Math.round(focal * 10) / 10 + ' mm' : '',
            aperture ? 'f/' + Math.round(aperture * 10) / 10 : '',
            exposure ? exposure + ' s' : '',
            iso ? String(iso) : '',
            taken ? dateText(taken) + String(taken).slice(10) : '',
          ];
          const rows = [];
          shown.forEach((value, i) => {
            if (value === null || value === undefined || String(value).trim() === '') return;
            rows.push(el('dt', null, ui().camera[i]), el('dd', null, value));
          });
          panel.replaceChildren(...rows);
        };
        pswp.ui.registerElement({
          name: 'camera-panel',
          order: 11,
          isButton: false,
          appendTo: 'root',
          tagName: 'dl',
          onInit: (element) => {
            panel = element;
            element.hidden = true;
            element.id = 'pswp-camera-panel';
            pswp.on('change', fillPanel);
          },
        });
        pswp.ui.registerElement({
          name: 'camera',
          title: ui().cameraDetails,
          ariaLabel: ui().cameraDetails,
          order: 8,
          isButton: true,
          html: {
            isCustomSVG: true,
            inner: '<path d="M13 9l-2 2H8v12h16V11h-3l-2-2zm3 4a4 4 0 1 1 0 8 4 4 0 0 1 0-8z" id="pswp__icn-camera"/>',
            outlineID: 'pswp__icn-camera',
          },
          onInit: (element) => {
            element.setAttribute('aria-expanded', 'false');
            element.setAttribute('aria-controls', 'pswp-camera-panel');
          },
          onClick: (event, element) => {
            fillPanel();
            panel.hidden = !panel.hidden;
            element.setAttribute('aria-expanded', String(!panel.hidden));
          },
        });
      }
      pswp.ui.registerElement({
        name: 'notice',
        order: 10,
        isButton: false,
        appendTo: 'root',
        onInit: (element) => {
          notice = element;
          element.setAttribute('role', 'status');
          pswp.on('change', () => {
            element.textContent = '';
          });
        },
      });
    });
    pswp.on('loadComplete', ({ content, slide }) => {
      const img = content.element;
      if (!img || !img.naturalWidth || content.data.srcset) return;
      const w = img.naturalWidth;
      const h = img.naturalHeight;
      imageSizes.set(content.data.src, [w, h]);
      if (content.width === w && content.height === h) return;
      content.data.width = w;
      content.data.height = h;
      content.width = w;
      content.height = h;
      if (slide) {
        slide.width = w;
        slide.height = h;
        slide.resize();
        slide.updateContentSize(true);
      }
    });
    // The address follows the picture shown, without a new history entry per picture.
    pswp.on('change', () => {
      const picture = pictures[pswp.currIndex];
      if (picture && state.lightbox === pswp)
        history.replaceState(history.state, '', '#/' + shown.key + '/' + picture.id);
    });
    // Keys work once the lightbox has opened; the mark lets a page script know when.
    pswp.on('openingAnimationEnd', () => {
      document.documentElement.dataset.lightbox = 'open';
    });
    // Closed by the visitor: the address goes back to the page's own.
    pswp.on('close', () => {
      if (state.closingByRoute) return;
      if (history.state && history.state.lightbox) history.back();
      else history.replaceState(null, '', location.pathname + location.search);
    });
    pswp.on('destroy', () => {
      delete document.documentElement.dataset.lightbox;
      if (state.lightbox === pswp) state.lightbox = null;
      // The grid may not have made the tile of the picture the lightbox ended on yet.
      if (grid.ensureTiles) grid.ensureTiles(pswp.currIndex + 1);
      const link = grid.querySelectorAll('a.tile-link')[pswp.currIndex];
      if (link && grid.isConnected) link.focus({ preventScroll: false });
    });
    state.lightbox = pswp;
    pswp.init();
  }

  // ---- start -----------------------------------------------------------------------------

  function chooseLanguage() {
    let stored = null;
    try {
      stored = localStorage.getItem(LANGUAGE_KEY);
    } catch (e) {
      stored = null;
    }
    const index = state.settings.languages.findIndex((l) => l.code === stored);
    state.language = index > 0 && index < 2 ? index : 0;
  }

  function cleanSettings(raw) {
    const settings = { title: ['Photo gallery'], languages: [{ code: 'en', label: 'English' }] };
    if (raw && Array.isArray(raw.title)) settings.title = raw.title.map((t) => String(t || ''));
    if (raw && Array.isArray(raw.languages)) {
      const languages = raw.languages
        .filter((l) => l && typeof l.code === 'string' && l.code.trim())
        .map((l) => ({ code: l.code.trim(), label: String(l.label || l.code) }));
      if (languages.length > 0) settings.languages = languages;
    }
    return settings;
  }

  function showLoadError(error) {
    showMessage(fill(ui().loadError, { detail: error && error.message ? error.message : error }));
  }

  // The SQLite module and the database, downloaded once, when a feature needs them; then the
  // page follows its address.
  let modelLoading = null;
  function loadModel() {
    if (!modelLoading) {
      modelLoading = (async () => {
        const boot = window.lumenfoldBoot.start();
        const sql = boot.sqljs.then(() => startSqlite(boot.wasm));
        sql.catch(() => {}); // reported where it is awaited
        state.model = await loadDatabase(boot.database, sql);
        state.site = (await boot.site) || {};
        window.addEventListener('popstate', route);
        window.addEventListener('hashchange', route);
        route(null, true);
        document.documentElement.dataset.model = 'loaded';
      })();
    }
    return modelLoading;
  }

  // A page the program wrote works as it is; the database is loaded when the visitor opens a
  // picture, switches the language, scrolls to the end of the first tiles, or when the address
  // or the chosen language asks for more than the page holds.
  function enhanceStaticPage() {
    const box = main();
    const grid = box.querySelector('ul.grid[data-static]');
    if (grid) {
      grid.addEventListener('click', (event) => {
        const link = event.target.closest('a.tile-link');
        if (state.model || !link) return;
        if (event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey) return;
        event.preventDefault();
        loadViewerLibrary().catch(() => {}); // beside the database; awaited by showPhoto
        loadModel().then(
          () => showPhoto(Number(link.dataset.pictureId), true),
          () => {
            location.href = link.href;
          }
        );
      });
      const last = grid.lastElementChild;
      if (last && grid.dataset.count !== grid.dataset.static && 'IntersectionObserver' in window) {
        const observer = new IntersectionObserver((entries) => {
          if (!entries.some((e) => e.isIntersecting)) return;
          observer.disconnect();
          loadModel().catch(showLoadError);
        }, { rootMargin: '0px 0px 600px 0px' });
        observer.observe(last);
      }
    }
    const r = currentRoute();
    if (r.photo !== null && !/^#\//.test(location.hash)) {
      // A picture's own page: shown in the viewer over its album, whose page it returns to.
      document.documentElement.dataset.page = 'album/' + r.id;
      history.replaceState(null, '', 'album-' + r.id + '.html#/album/' + r.id + '/' + r.photo);
    }
    if (r.photo !== null || /^#\//.test(location.hash) || state.language !== pageLanguage())
      loadModel().catch(showLoadError);
  }

  async function start() {
    // Shown in any case, should a page not have swapped its language (see index.html).
    delete document.documentElement.dataset.wantLanguage;
    if (location.protocol === 'file:' && !state.pages) {
      document.documentElement.classList.add('from-file');
      showMessage(UI.en.fromFile);
      return;
    }
    // The page's head has prepared the downloads.
    const boot = window.lumenfoldBoot;
    if (!boot) {
      if (state.pages) {
        // Opened from a folder: the pages work as they are, without the database.
        document.documentElement.dataset.ready = 'true';
        return;
      }
      showMessage(fill(ui().loadError, { detail: 'index.html does not start the downloads' }));
      return;
    }
    state.settings = cleanSettings(await boot.settings);
    chooseLanguage();
    renderHeader();
    setUpSearch();
    if (state.pages) {
      state.staticKey = currentRoute().key;
      enhanceStaticPage();
      document.documentElement.dataset.ready = 'true';
      return;
    }
    showMessage(ui().loading);
    // The formatters are made while the database downloads rather than after it.
    dateText('2000-01-01');
    countText(1);
    try {
      await loadModel();
    } catch (error) {
      showLoadError(error);
      return;
    }
    document.documentElement.dataset.ready = 'true';
  }

  start();
})();
