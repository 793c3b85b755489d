// The gallery with a screen reader or the keyboard: axe-core finds nothing on any kind of page,
// untitled pictures are named, and a move within the site lands on the new page's heading.
import { after, before, it } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import axe from 'axe-core';
import { launchBrowser, openPage, serve, shot, sqlJs } from './helpers.mjs';
import { makeArchiveSite } from './archivesite.mjs';
import { goTo, route, tiles, waitLightbox } from './pagequeries.mjs';
import { makeFixtureSite } from './fixture.mjs';

let root, server, browser;
before(async () => {
  root = await makeFixtureSite();
  const file = join(root, 'gallery.sqlite');
  const db = new (await sqlJs()).Database(readFileSync(file));
  db.run("UPDATE picture SET title = '', title2 = '' WHERE album_id = 3"); // untitled mountains
  writeFileSync(file, Buffer.from(db.export()));
  [server, browser] = await Promise.all([serve(root), launchBrowser()]);
});
after(async () => {
  await browser?.close();
  await server?.close();
  rmSync(root, { recursive: true, force: true });
});
async function violations(page) {
  await page.evaluate(axe.source);
  const { violations } = await page.evaluate(() => window.axe.run(document));
  return violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(', ')}`);
}
it('has no violations on the home, album, not-found and lightbox pages', async () => {
  const p = await openPage(browser);
  await goTo(p, server.url);
  assert.deepEqual(await violations(p), [], 'home');
  for (const [hash, heading] of [['#/album/99', 'Page not found'], ['#/album/3', 'Mountains']]) {
    await route(p, hash);
    assert.deepEqual(await p.evaluate(() => [document.activeElement.tagName,
      document.activeElement.textContent]), ['H1', heading]);
    assert.deepEqual(await violations(p), [], hash);
  }
  assert.deepEqual((await tiles(p)).map((t) => t.alt),
    ['Mountains, picture 1 of 2', 'Mountains, picture 2 of 2']);
  await p.click('a.tile-link[data-picture-id="302"]');
  await waitLightbox(p, '2 / 2');
  assert.equal(await p.$eval('.pswp', (e) => e.ariaLabel), 'Picture viewer: Mountains');
  assert.deepEqual(await violations(p), [], 'lightbox');
  await p.$eval('button.language[data-language="1"]', (b) => b.click()); // under the lightbox
  assert.equal((await tiles(p))[0].alt, 'Berge, Bild 1 von 2');
  assert.deepEqual(p.problems, []);
});

it('has no violations on the written pages, the viewer and search, narrow and wide, light and dark',
  async () => {
    const work = mkdtempSync(join(tmpdir(), 'lumenfold-a11y-site-'));
    const made = await makeArchiveSite(work);
    const site = await serve(made.site);
    try {
      for (const [width, height] of [[390, 844], [1400, 900]])
        for (const theme of ['light', 'dark']) {
          const p = await openPage(browser, width, height);
          await p.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: theme }]);
          await p.evaluateOnNewDocument(() => localStorage.clear());
          for (const [path, name] of [['', 'home'], ['album-2.html', 'album'],
            ['category-1.html', 'category'], ['#/album/99', 'notfound'], ['#/search/Boats', 'search'],
            ['album-2.html#/album/2/9999', 'album-unknown-picture']]) {
            await goTo(p, site.url + path);
            assert.deepEqual(await violations(p), [], `${name} ${width} ${theme}`);
            await shot(p, `pages-${name}-${width}-${theme}.png`);
          }
          await goTo(p, site.url + 'album-2.html');
          await p.click('a.tile-link');
          await waitLightbox(p, '1 / 2');
          assert.deepEqual(await violations(p), [], `viewer ${width} ${theme}`);
          assert.equal(await p.$eval('.pswp__counter', (e) => {
            const text = document.createRange();
            text.selectNodeContents(e);
            return text.getClientRects().length;
          }), 1, `counter on one line ${width} ${theme}`);
          await shot(p, `pages-viewer-${width}-${theme}.png`);
          await p.keyboard.press('Escape');
          await p.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });
          await p.click('button.language[data-language="1"]');
          await p.waitForFunction(() => document.querySelector('h1').textContent === 'Hafen am Abend');
          assert.deepEqual(await violations(p), [], `album de ${width} ${theme}`);
          await shot(p, `pages-album-de-${width}-${theme}.png`);
          assert.deepEqual(p.problems, []);
          await p.close();
        }
    } finally {
      await site.close();
      rmSync(work, { recursive: true, force: true });
    }
  });
