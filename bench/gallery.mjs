// Gallery benchmark: a public site database of 10,000 pictures (made from schema.sql, compacted
// as the run packs it), served on 127.0.0.1, opened in Debian's chromium through puppeteer-core.
// Measures the time from opening a page until the thumbnails in the window have decoded: the
// album list, the first album opened directly, and the first album reached from the list; and
// the renderer's peak memory. The peer is the same 10,000 thumbnails as one plain static HTML
// page (the gallery's own style sheet, lazy images), served by the same server in the same run.
//
//   node bench/gallery.mjs [--pictures N] [--runs N] [--serve]
//
// --serve only serves the site and the peer page until Ctrl+C, for a look in a browser.
//
// Needs tests/site/node_modules (npm ci there) and the cjpeg program.
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { readFileSync, statSync } from 'node:fs';
import { extname, join, normalize, sep } from 'node:path';
import {
  galleryFolder,
  launchBrowser,
  openPage,
  ppm,
  schemaText,
  sqlJs,
} from '../tests/site/helpers.mjs';

const args = process.argv.slice(2);
function option(name, fallback) {
  const i = args.indexOf(name);
  return i >= 0 && args[i + 1] ? Number(args[i + 1]) : fallback;
}
const PICTURES = option('--pictures', 10000);
const RUNS = option('--runs', 5);
// Targets: the first album's thumbnails within 1 s of opening on a 2-core machine.
const TARGET_GRID_MS = 1000;

// ---- the site ---------------------------------------------------------------------------

// The first album shown (the newest) is the largest: a quarter of all pictures; the others hold
// 250 each. Every picture belongs to one or two of twelve categories.
function albumSizes(total) {
  const first = Math.max(1, Math.round(total / 4));
  const sizes = [first];
  let left = total - first;
  while (left > 0) {
    const n = Math.min(250, left);
    sizes.push(n);
    left -= n;
  }
  return sizes;
}

async function makeDatabase(total) {
  const SQL = await sqlJs();
  const db = new SQL.Database();
  db.exec(schemaText());
  db.exec('BEGIN');
  const sizes = albumSizes(total);
  const album = db.prepare(
    'INSERT INTO album (album_id, face_picture_id, album_date, short_name, short_name2, ' +
      'long_name, long_name2, description, description2, is_private, directory, path) ' +
      'VALUES (?,?,?,?,?,?,?,?,?,0,?,NULL)'
  );
  const picture = db.prepare(
    'INSERT INTO picture (picture_id, orientation, picture_date, title, title2, ' +
      'original_filename, original_hash, original_date, original_size, original_width, ' +
      'original_height, large_filename, large_size, medium_filename, medium_size, ' +
      'thumb_filename, thumb_size, sort_order, album_id) ' +
      'VALUES (?,1,?,?,?,?,?,?,?,4000,3000,?,?,?,?,?,?,?,?)'
  );
  const link = db.prepare('INSERT INTO picture_to_category VALUES (?, ?)');
  let id = 0;
  const firstAlbumId = sizes.length; // the site lists albums newest (highest id) first
  sizes.forEach((count, index) => {
    const albumId = sizes.length - index;
    const dir = `album_${String(albumId).padStart(3, '0')}`;
    const year = 2000 + (albumId % 25);
    album.run([albumId, id + 1, `${year}-06-${String(1 + (albumId % 28)).padStart(2, '0')}`,
      `Trip ${albumId}`, `Reise ${albumId}`, `A long trip number ${albumId} to the coast`,
      `Eine lange Reise Nummer ${albumId} an die Küste`,
      'Harbours, boats, lighthouses and the people who live there.',
      'Häfen, Boote, Leuchttürme und die Menschen, die dort leben.', dir]);
    for (let k = 0; k < count; ++k) {
      ++id;
      const name = `IMG_${String(id).padStart(5, '0')}.jpg`;
      picture.run([id, `${year}-07-${String(1 + (k % 28)).padStart(2, '0')}`,
        `Picture ${id}: morning light over the water`, `Bild ${id}: Morgenlicht über dem Wasser`,
        name, (0x10000000 + id * 7919).toString(16), 1700000000 + id, 4000000 + id,
        `ps_large\\l_${name}`, 420000, `ps_medium\\m_${name}`, 160000,
        `ps_thumb\\tn_${name}`, 9000, k + 1, albumId]);
      link.run([id, 1 + (id % 12)]);
      if (id % 3 === 0) link.run([id, 1 + ((id * 7) % 12)]);
    }
  });
  album.free();
  picture.free();
  link.free();
  const category = db.prepare('INSERT INTO category VALUES (?, ?, ?, ?, ?)');
  for (let c = 1; c <= 12; ++c)
    category.run([c, `Category ${c}`, `Kategorie ${c}`, 'Pictures of one kind.', '']);
  category.free();
  db.exec('COMMIT');
  db.exec('VACUUM');
  const bytes = Buffer.from(db.export());
  const rows = db.exec(
    'SELECT thumb_filename, medium_filename, title, directory FROM picture JOIN album ' +
      'USING (album_id) ORDER BY album_id DESC, sort_order'
  )[0].values;
  db.close();
  return { bytes, rows, firstAlbumId, sizes };
}

// A handful of distinct thumbnails and medium images; each picture's address maps to one of
// them, so that every picture still has an address of its own (no shared browser cache).
function makeImages() {
  const thumbs = [];
  const mediums = [];
  for (let i = 0; i < 12; ++i) {
    const top = [(i * 67) % 200 + 40, (i * 131) % 200 + 40, (i * 29) % 200 + 40];
    const bottom = [250, 214, 165];
    const wide = i % 3 !== 0;
    const encode = (w, h) =>
      execFileSync('cjpeg', ['-quality', '85'], { input: ppm(w, h, top, bottom) });
    thumbs.push(encode(wide ? 200 : 100, wide ? 133 : 150));
    mediums.push(encode(wide ? 800 : 512, wide ? 533 : 768));
  }
  return { thumbs, mediums };
}

function escapeHtml(text) {
  return String(text).replace(
    /[&<>"]/g,
    (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]
  );
}

function webPath(directory, relative) {
  return [directory, ...relative.split(/[\\/]+/)].map(encodeURIComponent).join('/');
}

// The peer: every thumbnail of the site on one static page, grouped as the gallery's album grid.
function peerPage(rows) {
  const items = rows.map(
    ([thumb, medium, title, directory]) =>
      `<li class="tile"><a class="tile-link" href="${webPath(directory, medium)}">` +
      `<img class="thumb" loading="lazy" decoding="async" alt="${escapeHtml(title)}" ` +
      `src="${webPath(directory, thumb)}"></a></li>`
  );
  return (
    '<!doctype html><html lang="en"><head><meta charset="utf-8">' +
    '<meta name="viewport" content="width=device-width, initial-scale=1">' +
    '<title>All pictures</title><link rel="icon" href="data:,">' +
    '<link rel="stylesheet" href="style.css"></head><body>' +
    '<header class="bar"><a class="home" href="peer.html">Photo gallery</a></header>' +
    '<main id="main"><h1 class="page-title">All pictures</h1><ul class="grid">' +
    items.join('\n') +
    '</ul></main></body></html>'
  );
}

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.wasm': 'application/wasm',
  '.jpg': 'image/jpeg',
  '.sqlite': 'application/octet-stream',
};

function hashOf(text) {
  let h = 0;
  for (const c of text) h = (h * 31 + c.charCodeAt(0)) >>> 0;
  return h;
}

async function serve(files, images) {
  const server = createServer((req, res) => {
    let path;
    try {
      path = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
    } catch {
      res.writeHead(400).end();
      return;
    }
    if (path === '/') path = '/index.html';
    let body = files.get(path);
    if (!body && /\/ps_thumb\/tn_[^/]+\.jpg$/.test(path))
      body = images.thumbs[hashOf(path) % images.thumbs.length];
    if (!body && /\/ps_medium\/m_[^/]+\.jpg$/.test(path))
      body = images.mediums[hashOf(path) % images.mediums.length];
    if (!body) {
      const file = normalize(join(galleryFolder, path));
      try {
        if (file.startsWith(galleryFolder + sep) && statSync(file).isFile())
          body = readFileSync(file);
      } catch {
        body = null;
      }
    }
    if (!body) {
      res.writeHead(404).end('not found');
      return;
    }
    const type = types[extname(path).toLowerCase()] || 'application/octet-stream';
    res.writeHead(200, { 'Content-Type': type, 'Content-Length': body.length });
    res.end(body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

// ---- measuring ----------------------------------------------------------------------------

// True (and the time since the page's start, recorded once) when the page shows images of the
// selector inside the window and every one of them has decoded.
function visibleImagesShown(selector) {
  const images = [...document.querySelectorAll(selector)].filter((img) => {
    const r = img.getBoundingClientRect();
    return r.bottom > 0 && r.top < innerHeight && r.right > 0 && r.left < innerWidth;
  });
  if (images.length === 0 || !images.every((img) => img.complete && img.naturalWidth > 0))
    return false;
  window.__shown = window.__shown || { ms: performance.now(), images: images.length };
  return window.__shown;
}

// The processes of the browser: its own and all below it, with the renderers among them.
function browserProcesses(browser) {
  const root = browser.process()?.pid;
  if (!root) return { all: [], renderers: [] };
  const out = execFileSync('ps', ['-e', '-o', 'pid=,ppid=,args='], { encoding: 'utf8' });
  const children = new Map();
  const renderers = [];
  for (const line of out.split('\n')) {
    const m = /^\s*(\d+)\s+(\d+)\s+(.*)$/.exec(line);
    if (!m) continue;
    const [pid, ppid, cmd] = [Number(m[1]), Number(m[2]), m[3]];
    if (!children.has(ppid)) children.set(ppid, []);
    children.get(ppid).push(pid);
    if (cmd.includes('--type=renderer')) renderers.push(pid);
  }
  const below = new Set();
  const walk = (pid) => {
    for (const child of children.get(pid) || []) {
      below.add(child);
      walk(child);
    }
  };
  walk(root);
  return { all: [root, ...below], renderers: renderers.filter((p) => below.has(p)) };
}

// Processor time (user and system) used so far by all processes of the browser, in ms.
function browserCpuMs(browser) {
  const tick = 100; // USER_HZ on Linux
  let total = 0;
  for (const pid of browserProcesses(browser).all) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      total += Number(fields[11]) + Number(fields[12]); // utime, stime
    } catch {
      // the process ended meanwhile
    }
  }
  return (total * 1000) / tick;
}

// Peak resident memory of the renderer processes of the browser, in MiB.
function rendererPeakMiB(browser) {
  let peak = 0;
  for (const pid of browserProcesses(browser).renderers) {
    try {
      const status = readFileSync(`/proc/${pid}/status`, 'utf8');
      const kb = Number(/VmHWM:\s+(\d+)/.exec(status)?.[1] || 0);
      peak = Math.max(peak, kb);
    } catch {
      // the process ended meanwhile
    }
  }
  return peak / 1024;
}

// Waits until a freshly started browser has finished its own start-up work (for a second or two
// it builds its user interface pages and keeps both cores busy), so that the measurement sees
// a page opened in a running browser, as a visitor opens one. Gives up after 10 s.
async function browserIdle(browser) {
  const window = 250;
  let last = browserCpuMs(browser);
  let quiet = 0;
  for (let waited = 0; waited < 10000 && quiet < 2; waited += window) {
    await new Promise((resolve) => setTimeout(resolve, window));
    const now = browserCpuMs(browser);
    quiet = now - last <= 20 ? quiet + 1 : 0;
    last = now;
  }
}

// Opens address in a fresh browser and waits until the images of selector in the window show;
// then, when next is given, clicks it and waits for the images of nextSelector.
async function measure(address, selector, next) {
  const browser = await launchBrowser();
  try {
    const page = await openPage(browser, 1280, 900);
    await page.setCacheEnabled(false);
    // When the gallery has read its database (it marks the page ready).
    await page.evaluateOnNewDocument(() => {
      new MutationObserver((changes, observer) => {
        if (document.documentElement?.dataset.ready) {
          window.__ready = performance.now();
          observer.disconnect();
        }
      }).observe(document, { subtree: true, attributes: true, attributeFilter: ['data-ready'] });
    });
    await browserIdle(browser);
    const cpuBefore = browserCpuMs(browser);
    await page.goto(address, { waitUntil: 'domcontentloaded' });
    const shown = await (
      await page.waitForFunction(visibleImagesShown, { polling: 10, timeout: 60000 }, selector)
    ).jsonValue();
    const cpuMs = browserCpuMs(browser) - cpuBefore;
    const result = {
      ms: shown.ms,
      cpuMs,
      images: shown.images,
      readyMs: await page.evaluate(() => window.__ready || 0),
      dclMs: await page.evaluate(
        () => performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd
      ),
    };
    if (next) {
      const start = await page.evaluate((link) => {
        window.__shown = null;
        const t = performance.now();
        document.querySelector(link).click();
        return t;
      }, next.click);
      const after = await (
        await page.waitForFunction(
          visibleImagesShown,
          { polling: 10, timeout: 60000 },
          next.selector
        )
      ).jsonValue();
      result.nextMs = after.ms - start;
    }
    const metrics = await page.metrics();
    result.heapMiB = metrics.JSHeapUsedSize / 1048576;
    result.nodes = metrics.Nodes;
    result.rssMiB = rendererPeakMiB(browser);
    if (page.problems.length) throw new Error(page.problems.join('\n'));
    return result;
  } finally {
    await browser.close();
  }
}

function median(values) {
  const sorted = values.slice().sort((a, b) => a - b);
  const mid = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

function summary(results, key) {
  return median(results.map((r) => r[key]));
}

async function main() {
  const started = Date.now();
  const site = await makeDatabase(PICTURES);
  const images = makeImages();
  const files = new Map([
    ['/db.sqlite', site.bytes],
    ['/site.json', Buffer.from(JSON.stringify({ database: 'db.sqlite' }))],
    ['/peer.html', Buffer.from(peerPage(site.rows))],
  ]);
  const server = await serve(files, images);
  console.log(
    `pictures: ${PICTURES} in ${site.sizes.length} albums (first album: ${site.sizes[0]}); ` +
      `database ${(site.bytes.length / 1048576).toFixed(2)} MiB, peer page ` +
      `${(files.get('/peer.html').length / 1048576).toFixed(2)} MiB; ${RUNS} runs, medians; ` +
      `window 1280 × 900`
  );
  if (args.includes('--serve')) {
    console.log(`serving ${server.url} (peer: ${server.url}peer.html); Ctrl+C ends`);
    return;
  }
  const album = `#/album/${site.firstAlbumId}`;
  const list = [];
  const grid = [];
  const peer = [];
  try {
    for (let run = 0; run < RUNS; ++run) {
      // Interleaved, so that a busy moment of the machine hits all three alike.
      list.push(
        await measure(server.url, '.album-link img.thumb', {
          click: `a.album-link[data-album-id="${site.firstAlbumId}"]`,
          selector: '.grid img.thumb',
        })
      );
      grid.push(await measure(server.url + album, '.grid img.thumb'));
      peer.push(await measure(server.url + 'peer.html', '.grid img.thumb'));
    }
  } finally {
    await server.close();
  }
  const peerMs = summary(peer, 'ms');
  const peerRss = summary(peer, 'rssMiB');
  const line = (label, ms, extra = '') =>
    console.log(`${label.padEnd(44)} ${ms.toFixed(0).padStart(6)} ms${extra}`);
  line('gallery: album list shown', summary(list, 'ms'),
    `   (ratio to peer ${(summary(list, 'ms') / peerMs).toFixed(2)})`);
  line('gallery: first album opened directly', summary(grid, 'ms'),
    `   (ratio to peer ${(summary(grid, 'ms') / peerMs).toFixed(2)}, target ≤ ${TARGET_GRID_MS} ms)`);
  line('gallery: first album from the list (click)', summary(list, 'nextMs'));
  line('  of it: gallery database read (list)', summary(list, 'readyMs'));
  line('  of it: page parsed (list / peer)', summary(list, 'dclMs'),
    ` / ${summary(peer, 'dclMs').toFixed(0)} ms`);
  line('peer: static page of all thumbnails', peerMs);
  // Processor time of all browser processes from opening until shown: unlike the times above
  // it hardly grows when other programs keep the machine busy.
  line('CPU time: gallery, album list', summary(list, 'cpuMs'),
    `   (ratio to peer ${(summary(list, 'cpuMs') / summary(peer, 'cpuMs')).toFixed(2)})`);
  line('CPU time: gallery, first album opened', summary(grid, 'cpuMs'),
    `   (ratio to peer ${(summary(grid, 'cpuMs') / summary(peer, 'cpuMs')).toFixed(2)})`);
  line('CPU time: peer', summary(peer, 'cpuMs'));
  const mem = (label, results) =>
    console.log(
      `${label.padEnd(44)} ${summary(results, 'rssMiB').toFixed(0).padStart(6)} MiB renderer peak, ` +
        `${summary(results, 'heapMiB').toFixed(1)} MiB JS heap, ${summary(results, 'nodes')} DOM nodes` +
        (results === peer ? '' : `   (ratio to peer ${(summary(results, 'rssMiB') / peerRss).toFixed(2)})`)
    );
  mem('memory: gallery, album list + first album', list);
  mem('memory: gallery, first album opened', grid);
  mem('memory: peer', peer);
  const gridMs = summary(grid, 'ms');
  console.log(
    gridMs <= TARGET_GRID_MS
      ? `target met: first album's thumbnails in ${gridMs.toFixed(0)} ms ≤ ${TARGET_GRID_MS} ms`
      : `TARGET MISSED: first album's thumbnails in ${gridMs.toFixed(0)} ms > ${TARGET_GRID_MS} ms`
  );
  console.log(`(benchmark took ${((Date.now() - started) / 1000).toFixed(0)} s)`);
  if (gridMs > TARGET_GRID_MS) process.exitCode = 1;
}

await main();
