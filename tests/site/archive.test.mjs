// A site unpacked from an archive that lumenfold-cli made: the gallery shows what is public, and
// nothing private can be fetched from it.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, rmSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { brokenImages, launchBrowser, openPage, serve, shot, sqlJs } from './helpers.mjs';
import { cli, HIDDEN_TITLES, makeArchiveSite, SITE_ADDRESS } from './archivesite.mjs';
import {
  albumCards,
  brokenMediumImages,
  categoryLinks,
  goTo,
  lightboxState,
  tiles,
  waitLightbox,
} from './pagequeries.mjs';

describe('gallery unpacked from an archive made by lumenfold-cli', () => {
  const firstPictureId = async () => {
    const html = await (await fetch(server.url + 'album-2.html')).text();
    return /data-picture-id="(\d+)"/.exec(html)[1];
  };
  let work;
  let made;
  let server;
  let browser;
  const pages = [];

  before(async () => {
    assert.ok(existsSync(cli), `${cli} is missing: build the programs first`);
    work = mkdtempSync(join(tmpdir(), 'lumenfold-archive-site-'));
    made = await makeArchiveSite(work);
    server = await serve(made.site);
    browser = await launchBrowser();
  });

  after(async () => {
    for (const p of pages) assert.deepEqual(p.problems, [], `problems on ${p.url()}`);
    await browser?.close();
    await server?.close();
    if (work) rmSync(work, { recursive: true, force: true });
  });

  it('packs the public pictures with their web sizes, the site and no original or hidden file', () => {
    const pictures = made.entries.filter((e) => /^(harbour|secret)\//.test(e)).sort();
    assert.deepEqual(pictures, [
      'harbour/ps_medium/m_a-shown.jpg',
      'harbour/ps_medium/m_d-shown.jpg',
      'harbour/ps_thumb/tn_a-shown.jpg',
      'harbour/ps_thumb/tn_d-shown.jpg',
      'harbour/ps_w1600/m_a-shown.jpg',
      'harbour/ps_w1600/m_d-shown.jpg',
      'harbour/ps_w2560/m_a-shown.jpg',
      'harbour/ps_w700/m_a-shown.jpg',
      'harbour/ps_w700/m_d-shown.jpg',
    ]);
    // Made on disk for every picture, never enlarged: a 960-pixel photo gets the first size at
    // its own size and not the second; a private picture's sizes stay out of the archive.
    const size = (file) =>
      /, (\d+)x\d+,/.exec(execFileSync('file', ['-b', file], { encoding: 'utf8' }))[1];
    assert.equal(size(join(made.photos, 'harbour/ps_w2560/m_a-shown.jpg')), '2560');
    assert.equal(size(join(made.photos, 'harbour/ps_w1600/m_d-shown.jpg')), '960');
    assert.ok(!existsSync(join(made.photos, 'harbour/ps_w2560/m_d-shown.jpg')));
    assert.ok(existsSync(join(made.photos, 'harbour/ps_w1600/m_b-private.jpg')));
    for (const name of ['db.sqlite', 'site.json', 'index.html', 'site.js', '.htaccess',
      'vendor/sql-wasm.wasm'])
      assert.ok(made.entries.includes(name), name);
  });

  it('serves nothing private: no title, no path, no image', async () => {
    const get = async (path) => {
      const response = await fetch(server.url + path);
      return { status: response.status, bytes: Buffer.from(await response.arrayBuffer()) };
    };
    const database = await get('db.sqlite');
    assert.equal(database.status, 200);
    const text = database.bytes.toString('latin1');
    for (const secret of [...HIDDEN_TITLES, 'HIDDEN-signature', made.photos])
      assert.ok(!text.includes(secret), secret);
    // The database really is readable and holds the public rows.
    const SQL = await sqlJs();
    const db = new SQL.Database(database.bytes);
    assert.deepEqual(db.exec('SELECT title FROM picture ORDER BY sort_order')[0].values,
      [['Boats'], ['Nets']]);
    db.close();
    for (const name of ['b-private.jpg', 'c-deleted.jpg', 'a-shown.jpg'])
      for (const path of [`harbour/${name}`, `harbour/ps_thumb/tn_${name}`,
        `harbour/ps_medium/m_${name}`]) {
        if (name === 'a-shown.jpg' && path !== `harbour/${name}`) continue;
        assert.equal((await get(path)).status, 404, path);
      }
    for (const path of ['secret/e-secret.jpg', 'secret/ps_thumb/tn_e-secret.jpg',
      'secret/ps_medium/m_f-secret.jpg'])
      assert.equal((await get(path)).status, 404, path);

    const p = await openPage(browser);
    pages.push(p);
    for (const hash of ['', '#/album/2', '#/category/1']) {
      await goTo(p, server.url + hash);
      await brokenImages(p);
      const html = await p.content();
      for (const secret of HIDDEN_TITLES) assert.ok(!html.includes(secret), secret);
    }
  });

  it('shows the public album, its pictures and category in both languages', async () => {
    const p = await openPage(browser);
    pages.push(p);
    await goTo(p, server.url);
    const cards = await albumCards(p);
    // The face picture is private: the first shown picture is the cover.
    assert.deepEqual(cards.map((c) => [c.name, c.meta, c.cover]), [
      ['Harbour at dusk', 'August 2, 2025 · 2 pictures', 'harbour/ps_medium/m_a-shown.jpg'],
    ]);
    assert.deepEqual(await categoryLinks(p), [{ id: 1, name: 'Sea', count: '2 pictures' }]);
    assert.deepEqual(await brokenImages(p), []);
    await shot(p, 'archive-home.png');

    await p.click('a.album-link');
    await p.waitForSelector('a.tile-link');
    assert.deepEqual((await tiles(p)).map((t) => t.alt), ['Boats', 'Nets']);
    assert.deepEqual(await brokenImages(p), []);
    assert.deepEqual(await brokenMediumImages(p), []);
    await p.click('button.language[data-language="1"]');
    await p.waitForSelector('html[data-model="loaded"]');
    assert.deepEqual((await tiles(p)).map((t) => t.alt), ['Boote', 'Nets']);
    assert.equal(await p.$eval('h1', (e) => e.textContent), 'Hafen am Abend');
    assert.equal(await p.$eval('.meta', (e) => e.textContent), '2. August 2025 · 2 Bilder');
    await shot(p, 'archive-album.png');

    await p.click('a.tile-link');
    await waitLightbox(p, '1 / 2');
    assert.equal((await lightboxState(p)).caption, 'Boote · 1. August 2025');
    await p.keyboard.press('ArrowRight');
    await waitLightbox(p, '2 / 2');
    await p.keyboard.press('Escape');
    await p.waitForFunction(() => !document.querySelector('.pswp'), { timeout: 10000, polling: 50 });
  });
  it('writes a page per album, category and picture that shows without scripts', async () => {
    for (const name of ['index.html', 'album-2.html', 'category-1.html', 'feed.xml',
      'sitemap.xml', 'robots.txt'])
      assert.ok(made.entries.includes(name), name);
    for (const name of ['readme.txt', 'template.json', 'preview_big.jpg', 'preview_small.jpg'])
      assert.ok(!made.entries.includes(name), name);
    const p = await openPage(browser);
    pages.push(p);
    await p.setJavaScriptEnabled(false);
    await p.goto(server.url);
    await Promise.all([p.waitForNavigation(), p.click('a.album-link')]);
    const ids = (await tiles(p)).map((t) => t.id);
    assert.deepEqual((await tiles(p)).map((t) => t.alt), ['Boats', 'Nets']);
    await Promise.all([p.waitForNavigation(), p.click('a.tile-link')]);
    assert.deepEqual(await p.$eval('main', (m) => [m.querySelector('h1').textContent,
      m.querySelector('figcaption').textContent, m.querySelector('a[rel=next]').href]),
    ['Boats', 'August 1, 2025', `${server.url}photo-${ids[1]}.html`]);
    assert.deepEqual(await brokenImages(p), []);
    const head = await p.$eval('head', (h) => [document.title,
      h.querySelector('link[rel=canonical]').href,
      h.querySelector('meta[property="og:image"]').content]);
    assert.deepEqual(head, ['Boats – Harbour at dusk – Photo gallery',
      `${SITE_ADDRESS}photo-${ids[0]}.html`, `${SITE_ADDRESS}harbour/ps_medium/m_a-shown.jpg`]);
  });

  it('loads the database and the viewer library only when a feature needs them', async () => {
    const p = await openPage(browser);
    pages.push(p);
    await p.evaluateOnNewDocument(() => localStorage.clear()); // the first language
    const first = server.requests.length;
    const fetched = () => server.requests.slice(first);
    await goTo(p, server.url);
    await goTo(p, server.url + 'album-2.html');
    assert.ok(!fetched().some((r) => /db\.sqlite|sql-wasm|photoswipe/.test(r)), fetched().join(' '));
    await p.click('a.tile-link');
    await waitLightbox(p, '1 / 2');
    for (const file of ['/db.sqlite', '/vendor/photoswipe.umd.min.js', '/vendor/photoswipe.css'])
      assert.ok(fetched().includes(file), file);
    assert.deepEqual(await p.$$eval('link[rel=stylesheet], style',
      (l) => l.map((e) => e.getAttribute('href') || e.dataset.file)),
      ['vendor/photoswipe.css', 'style.css'], 'the library styles first: the site adjusts them');
  });

  it('gives an album cover the image nearest its shown size, on the page and when drawn by the script', async () => {
    const chosen = [];
    for (const [scale, drawn] of [[1.75, false], [1.75, true], [3, false]]) {
      const p = await openPage(browser, 412, 823);
      await p.setViewport({ width: 412, height: 823, deviceScaleFactor: scale });
      await p.evaluateOnNewDocument(() => localStorage.clear());
      await goTo(p, server.url);
      if (drawn) await p.click('button.language[data-language="1"]'); // drawn from the database
      await p.waitForFunction((d) => document.querySelector('h1').textContent === (d ? 'Alben' : 'Albums') &&
        document.querySelector('img.thumb').complete, { polling: 50 }, drawn);
      chosen.push(await p.$eval('a.album-link img', (img) => new URL(img.currentSrc).pathname));
      await p.close();
    }
    // 394 CSS pixels at 1.75 need 690: the cover size, not the medium image; at 3 the medium.
    assert.deepEqual(chosen, ['w700', 'w700', 'medium'].map((s) => `/harbour/ps_${s}/m_a-shown.jpg`));
  });

  it('shows the camera details and offers the download the project allows', async () => {
    const p = await openPage(browser);
    pages.push(p);
    await p.evaluateOnNewDocument(() => localStorage.clear());
    await goTo(p, server.url + 'album-2.html');
    await p.click('a.tile-link');
    await waitLightbox(p, '1 / 2');
    await p.click('.pswp__button--camera');
    assert.equal(await p.$eval('.pswp__camera-panel', (e) => e.innerText.replace(/\s+/g, ' ')),
      'Camera TESTCAM Model X Lens Lens 50 Focal length 50 mm Aperture f/2.8 ' +
      'Exposure time 1/250 s ISO 200 Taken August 1, 2025 10:30');
    assert.equal(await p.$eval('.pswp__button--download', (a) => a.getAttribute('href')),
      'harbour/ps_medium/m_a-shown.jpg');
    const database = Buffer.from(await (await fetch(server.url + 'db.sqlite')).arrayBuffer());
    for (const secret of ['SERIAL-4711', 'LENSSERIAL-0815', '47.12'])
      assert.ok(!database.toString('latin1').includes(secret), secret);
  });

  it('gives every picture an address: Back closes the viewer, its link can be copied', async () => {
    const p = await openPage(browser);
    pages.push(p);
    await p.evaluateOnNewDocument(() => localStorage.clear());
    await goTo(p, server.url + 'album-2.html');
    const ids = (await tiles(p)).map((t) => t.id);
    await p.click('a.tile-link');
    await waitLightbox(p, '1 / 2');
    await p.keyboard.press('ArrowRight');
    await waitLightbox(p, '2 / 2');
    assert.equal(await p.evaluate(() => location.hash), `#/album/2/${ids[1]}`);
    await p.evaluate(() => {
      navigator.clipboard.writeText = async (text) => {
        window.copied = text;
      };
    });
    await p.click('.pswp__button--share');
    await p.waitForFunction(() => document.querySelector('.pswp__notice').textContent !== '');
    assert.deepEqual(await p.evaluate(() => [window.copied,
      document.querySelector('.pswp__notice').textContent]),
    [`${server.url}photo-${ids[1]}.html`, 'Link copied']);
    await p.goBack();
    await p.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });
    assert.deepEqual(await p.evaluate(() => [location.pathname + location.hash,
      document.querySelector('h1').textContent]), ['/album-2.html', 'Harbour at dusk']);
    // A picture's own page opens the viewer on it; closing the viewer shows the album.
    await goTo(p, `${server.url}photo-${ids[1]}.html`);
    await waitLightbox(p, '2 / 2');
    await p.keyboard.press('Escape');
    await p.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });
    assert.equal(await p.evaluate(() => location.pathname + location.hash), '/album-2.html');
    assert.deepEqual((await tiles(p)).map((t) => t.id), ids);
  });

  it('gives the viewer the web size the screen shows: a phone the medium one, DPR 2 at 1400 the largest', async () => {
    const chosen = [];
    for (const [width, height, scale] of [[390, 844, 1], [1400, 900, 2]]) {
      const p = await openPage(browser, width, height);
      pages.push(p);
      await p.setViewport({ width, height, deviceScaleFactor: scale });
      await p.evaluateOnNewDocument(() => localStorage.clear());
      await goTo(p, server.url + 'album-2.html');
      await p.click('a.tile-link');
      await waitLightbox(p, '1 / 2');
      await p.waitForFunction(() => {
        const img = document.querySelector('.pswp__item[aria-hidden="false"] img.pswp__img');
        return img && img.complete && img.currentSrc;
      }, { polling: 50, timeout: 10000 });
      chosen.push(await p.$eval('.pswp__item[aria-hidden="false"] img.pswp__img',
        (img) => new URL(img.currentSrc).pathname));
      await p.close();
    }
    assert.deepEqual(chosen, ['/harbour/ps_medium/m_a-shown.jpg', '/harbour/ps_w2560/m_a-shown.jpg']);
    // The picture's own page offers the same sizes to the browser without scripts.
    const page = await (await fetch(server.url + 'photo-' + (await firstPictureId()) + '.html')).text();
    assert.match(page, /srcset="harbour\/ps_medium\/m_a-shown.jpg 800w, harbour\/ps_w1600\/m_a-shown.jpg 1600w, harbour\/ps_w2560\/m_a-shown.jpg 2560w"/);
  });

  it('shows a visitor who chose the second language that language from the first paint', async () => {
    const p = await openPage(browser);
    pages.push(p);
    await p.evaluateOnNewDocument(() => localStorage.setItem('lumenfold-gallery-language', 'de'));
    // Without the site's script the written page alone must already be in German.
    await p.setRequestInterception(true);
    p.on('request', (r) => (/site\.js$/.test(r.url())
      ? r.respond({ status: 200, contentType: 'text/javascript', body: '' })
      : r.continue()));
    const first = server.requests.length;
    for (const [page, heading] of [['album-2.html', 'Hafen am Abend'], ['index.html', 'Alben']]) {
      await p.goto(server.url + page);
      assert.deepEqual(await p.evaluate(() => [document.querySelector('h1').textContent,
        document.documentElement.lang, getComputedStyle(document.getElementById('main')).visibility]),
      [heading, 'de', 'visible']);
    }
    assert.equal(await p.title(), 'Fotogalerie');
    assert.ok(await p.$eval('img.thumb', (img) => img.alt === 'Hafen am Abend'));
    assert.ok(!server.requests.slice(first).some((r) => /db\.sqlite|sql-wasm/.test(r)));
  });
});
