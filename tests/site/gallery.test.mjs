// The gallery template on the fixture database, in headless Chromium.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { brokenImages, launchBrowser, openPage, serve, shot } from './helpers.mjs';
import {
  albumCards,
  brokenMediumImages,
  categoryLinks,
  goTo,
  lightboxState,
  noHorizontalScrolling,
  route,
  tiles,
  waitLightbox,
} from './pagequeries.mjs';
import { HIDDEN, MARKUP_TITLE, makeFixtureSite } from './fixture.mjs';

describe('gallery on the fixture database', () => {
  let root;
  let server;
  let browser;
  const pages = [];

  async function page(width, height) {
    const p = await openPage(browser, width, height);
    pages.push(p);
    return p;
  }

  before(async () => {
    root = await makeFixtureSite();
    server = await serve(root);
    browser = await launchBrowser();
  });

  after(async () => {
    for (const p of pages) assert.deepEqual(p.problems, [], `problems on ${p.url()}`);
    await browser?.close();
    await server?.close();
    if (root) rmSync(root, { recursive: true, force: true });
  });

  it('lists the public albums newest first with cover, date, count, and the categories', async () => {
    const p = await page();
    await goTo(p, server.url);
    assert.deepEqual(await albumCards(p), [
      { id: 3, name: 'Mountains', meta: 'May 17, 2024 · 2 pictures',
        cover: 'mountains/ps_medium/m_picture%20301.jpg' },
      // The face picture is the cover, whatever its place in the album.
      { id: 1, name: 'Harbour', meta: 'January 2, 2023 · 3 pictures',
        cover: 'harbour/ps_medium/m_picture%20102.jpg' },
    ]);
    assert.deepEqual(await categoryLinks(p), [
      { id: 1, name: 'Boats', count: '2 pictures' },
      { id: 4, name: 'Lights', count: '1 picture' },
      { id: 2, name: 'Sky', count: '2 pictures' },
    ]);
    assert.deepEqual(await brokenImages(p), []);
    await shot(p, 'home.png');
  });

  it('shows exactly the visible pictures of each album and category, in order', async () => {
    const p = await page();
    await goTo(p, server.url + '#/album/1');
    assert.deepEqual(await tiles(p), [
      { id: 101, alt: 'Boats at dawn' },
      { id: 102, alt: 'Lighthouse' },
      { id: 106, alt: MARKUP_TITLE },
    ]);
    assert.deepEqual(await brokenImages(p), []);
    assert.deepEqual(await brokenMediumImages(p), []);
    await shot(p, 'album.png');
    const expected = {
      '#/album/3': [301, 302],
      '#/category/1': [101, 106],
      '#/category/2': [302, 102],
      '#/category/4': [102],
    };
    for (const [hash, ids] of Object.entries(expected)) {
      await route(p, hash);
      assert.deepEqual((await tiles(p)).map((t) => t.id), ids, hash);
      assert.deepEqual(await brokenImages(p), [], hash);
      assert.deepEqual(await brokenMediumImages(p), [], hash);
    }
    // A private album and a category of hidden pictures do not exist on the site.
    for (const hash of ['#/album/2', '#/category/3', '#/album/99', '#/nonsense']) {
      await route(p, hash);
      assert.deepEqual(await tiles(p), [], hash);
      assert.equal(await p.$eval('#main .status', (e) => e.textContent), 'This page does not exist.');
    }
  });

  it('never shows or fetches anything hidden', async () => {
    const p = await page();
    await goTo(p, server.url);
    const seen = [];
    for (const hash of ['#/', '#/album/1', '#/album/2', '#/album/3', '#/category/1',
      '#/category/2', '#/category/3']) {
      await route(p, hash);
      await brokenImages(p);
      seen.push(await p.content());
    }
    for (const html of seen) {
      for (const text of HIDDEN) assert.ok(!html.includes(text), text);
      assert.ok(!html.includes('SECRET-LOCAL-PATH'));
    }
    const hiddenFiles = ['picture 103', 'picture 104', 'picture 105', 'picture 201'];
    for (const path of server.requests)
      for (const name of hiddenFiles) assert.ok(!path.includes(name), path);
  });

  it('inserts texts from the database as text, never as markup', async () => {
    const p = await page();
    await goTo(p, server.url + '#/album/1');
    await p.click('a.tile-link[data-picture-id="106"]');
    await waitLightbox(p, '3 / 3');
    assert.equal((await lightboxState(p)).caption, `${MARKUP_TITLE} · February 29, 2024`);
    assert.equal(await p.evaluate(() => window.__injected), undefined);
    assert.equal(await p.$$eval('b, img[src="x"]', (els) => els.length), 0);
  });

  it('switches language, falls back to the first language and remembers the choice', async () => {
    const p = await page();
    await goTo(p, server.url);
    await p.click('button.language[data-language="1"]');
    assert.equal(await p.evaluate(() => document.documentElement.lang), 'de');
    assert.equal(await p.$eval('#home', (e) => e.textContent), 'Fotogalerie');
    assert.deepEqual((await albumCards(p)).map((a) => [a.name, a.meta]), [
      ['Berge', '17. Mai 2024 · 2 Bilder'],
      ['Harbour', '2. Januar 2023 · 3 Bilder'], // no second name: the first one
    ]);
    assert.deepEqual((await categoryLinks(p)).map((c) => [c.name, c.count]), [
      ['Boote', '2 Bilder'],
      ['Himmel', '2 Bilder'],
      ['Lichter', '1 Bild'],
    ]);
    // Remembered across visits.
    await goTo(p, server.url + '#/album/1');
    assert.equal(await p.evaluate(() => document.documentElement.lang), 'de');
    assert.deepEqual((await tiles(p)).map((t) => t.alt),
      ['Boote im Morgengrauen', 'Lighthouse', MARKUP_TITLE]);
    assert.equal(await p.$eval('.back', (e) => e.textContent), '← Alle Alben');
    await p.click('button.language[data-language="0"]');
    assert.deepEqual((await tiles(p)).map((t) => t.alt),
      ['Boats at dawn', 'Lighthouse', MARKUP_TITLE]);
    await goTo(p, server.url);
    assert.equal(await p.evaluate(() => document.documentElement.lang), 'en');
  });

  it('opens, moves and closes the lightbox with the keyboard', async () => {
    const p = await page();
    await goTo(p, server.url + '#/album/1');
    await p.focus('a.tile-link[data-picture-id="101"]');
    await p.keyboard.press('Enter');
    await waitLightbox(p, '1 / 3');
    assert.equal((await lightboxState(p)).caption, 'Boats at dawn · February 29, 2024');
    await p.waitForFunction(() => {
      const img = document.querySelector('.pswp__item[aria-hidden="false"] img.pswp__img');
      return img && img.complete && img.naturalWidth > 0;
    }, { polling: 50 });
    await shot(p, 'lightbox.png');
    await p.keyboard.press('ArrowRight');
    await waitLightbox(p, '2 / 3');
    assert.equal((await lightboxState(p)).caption, 'Lighthouse · February 29, 2024');
    await p.keyboard.press('ArrowRight');
    await waitLightbox(p, '3 / 3');
    await p.keyboard.press('ArrowRight'); // the last picture stays
    await waitLightbox(p, '3 / 3');
    await p.keyboard.press('ArrowLeft');
    await waitLightbox(p, '2 / 3');
    await p.keyboard.press('Escape');
    await p.waitForFunction(() => !document.querySelector('.pswp'), { timeout: 10000, polling: 50 });
    // Focus returns to the picture the lightbox showed last.
    assert.equal(await p.evaluate(() => document.activeElement.dataset.pictureId), '102');
  });

  it('finds albums, categories and pictures by their texts in either language', async () => {
    const p = await page();
    await p.evaluateOnNewDocument(() => localStorage.clear());
    await goTo(p, server.url);
    for (const [text, albums, categories, pictures] of [
      ['berg', ['Mountains'], [], []], // the album's second name "Berge"
      ['WOLK', [], [], [302]], // a picture's second title "Wolken", in other letter case
      ['boot', [], ['Boats'], [101]], // both by their second texts "Boote…"
      ['PRIVATE', [], [], []], // nothing hidden is found
    ]) {
      await p.click('#search-text', { clickCount: 3 });
      await p.type('#search-text', text);
      await p.waitForFunction((t) => location.hash === '#/search/' + encodeURIComponent(t) &&
        document.querySelector('h1').textContent.includes(t), { polling: 50 }, text);
      const found = await p.$$eval('main a.category-link', (links) =>
        links.map((a) => [a.getAttribute('href').split('/')[1], a.textContent]));
      assert.deepEqual(found.filter(([k]) => k === 'album').map(([, n]) => n), albums, text);
      assert.deepEqual(found.filter(([k]) => k === 'category').map(([, n]) => n), categories, text);
      assert.deepEqual((await tiles(p)).map((t) => t.id), pictures, text);
    }
    assert.equal(await p.$eval('main p.status', (e) => e.textContent), 'Nothing found.');
  });

  it('plays a slideshow at the chosen interval and stops at the last picture', async () => {
    const p = await page();
    await goTo(p, server.url + '#/album/1');
    await p.click('a.tile-link');
    await waitLightbox(p, '1 / 3');
    await p.click('.pswp__button--interval');
    await p.click('.pswp__button--interval'); // 5 s → 8 s → 3 s
    assert.equal(await p.$eval('.pswp__button--interval', (b) => b.ariaLabel),
      'Slideshow interval 3 s');
    assert.equal(await p.$('.pswp__button--download'), null); // not offered unless allowed
    await p.click('.pswp__button--slideshow');
    await waitLightbox(p, '3 / 3');
    await p.waitForFunction(() =>
      document.querySelector('.pswp__button--slideshow').ariaPressed === 'false', { polling: 100 });
    assert.equal(await p.evaluate(() => location.hash.split('/').length), 4);
  });

  it('fits a phone screen without horizontal scrolling', async () => {
    const p = await page(375, 740);
    for (const hash of ['#/', '#/album/1', '#/category/2']) {
      await goTo(p, server.url + hash);
      await brokenImages(p);
      assert.ok(await noHorizontalScrolling(p), hash);
    }
    await goTo(p, server.url);
    await shot(p, 'phone-home.png');
    await goTo(p, server.url + '#/album/1');
    await shot(p, 'phone-album.png');
    await p.click('a.tile-link[data-picture-id="101"]');
    await waitLightbox(p, '1 / 3');
    assert.ok(await noHorizontalScrolling(p));
  });

  it('says it needs a web server when opened from a file', async () => {
    const p = await page();
    await p.goto('file://' + join(root, 'index.html'));
    await p.waitForFunction(() => document.documentElement.classList.contains('from-file'), {
      polling: 50,
    });
    const text = await p.$eval('#main', (e) => e.textContent);
    assert.match(text, /opened through a web server/);
    await shot(p, 'from-file.png');
  });
});
