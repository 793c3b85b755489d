// The gallery with a screen reader or the keyboard: axe-core finds nothing on any kind of page,
// untitled pictures are named, and a move within the site lands on the new page's heading.
import { after, before, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import axe from 'axe-core';
import { launchBrowser, openPage, serve, sqlJs } from './helpers.mjs';
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
