// The gallery for people who use a screen reader or the keyboard: axe-core finds nothing on any
// kind of page, untitled pictures are named, and a move within the site lands on its heading.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import axe from 'axe-core';
import { launchBrowser, openPage, serve, sqlJs } from './helpers.mjs';
import { goTo, route, tiles, waitLightbox } from './pagequeries.mjs';
import { makeFixtureSite } from './fixture.mjs';

async function violations(page) {
  await page.evaluate(axe.source);
  const result = await page.evaluate(() => window.axe.run(document));
  return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(', ')}`);
}

describe('gallery accessibility', () => {
  let root;
  let server;
  let browser;

  before(async () => {
    root = await makeFixtureSite();
    // The mountain pictures lose their titles in both languages.
    const SQL = await sqlJs();
    const file = join(root, 'gallery.sqlite');
    const db = new SQL.Database(readFileSync(file));
    db.run("UPDATE picture SET title = '', title2 = '' WHERE album_id = 3");
    writeFileSync(file, Buffer.from(db.export()));
    db.close();
    server = await serve(root);
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await server?.close();
    if (root) rmSync(root, { recursive: true, force: true });
  });

  it('has no violations on the home, album, lightbox and not-found pages', async () => {
    const p = await openPage(browser);
    await goTo(p, server.url);
    assert.deepEqual(await violations(p), [], 'home');
    for (const [hash, heading] of [['#/album/3', 'Mountains'], ['#/album/99', 'Page not found']]) {
      await route(p, hash);
      // The new page's heading has the focus.
      assert.equal(await p.evaluate(() => document.activeElement.outerHTML.slice(0, 3)), '<h1');
      assert.equal(await p.evaluate(() => document.activeElement.textContent), heading);
      assert.deepEqual(await violations(p), [], hash);
    }
    await route(p, '#/album/3');
    assert.deepEqual(await tiles(p), [
      { id: 301, alt: 'Mountains, picture 1 of 2' },
      { id: 302, alt: 'Mountains, picture 2 of 2' },
    ]);
    await p.click('a.tile-link[data-picture-id="302"]');
    await waitLightbox(p, '2 / 2');
    assert.equal(await p.$eval('.pswp', (e) => e.getAttribute('aria-label')),
      'Picture viewer: Mountains');
    assert.deepEqual(await violations(p), [], 'lightbox');
    await p.click('button.pswp__button--close');
    await p.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });
    await p.click('button.language[data-language="1"]');
    assert.equal((await tiles(p))[0].alt, 'Berge, Bild 1 von 2');
    assert.deepEqual(p.problems, []);
  });
});
