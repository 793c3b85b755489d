// A large album: the grid is made in steps while it scrolls, and in the end holds every shown
// picture once, in order; a lightbox closed beyond the tiles made so far focuses its picture's
// tile; a thumbnail path that leaves the site hides its picture everywhere.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { cpSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { galleryFolder, launchBrowser, openPage, schemaText, serve, sqlJs } from './helpers.mjs';
import { jpeg } from './fixture.mjs';
import { albumCards, categoryLinks, goTo, tiles, waitLightbox } from './pagequeries.mjs';

const COUNT = 300;

async function makeLargeSite() {
  const root = mkdtempSync(join(tmpdir(), 'lumenfold-large-site-'));
  cpSync(galleryFolder, root, { recursive: true });
  mkdirSync(join(root, 'big', 'ps_thumb'), { recursive: true });
  writeFileSync(join(root, 'big', 'ps_thumb', 'tn.jpg'), jpeg(60, 40, [40, 90, 160], [220, 200, 160]));
  const SQL = await sqlJs();
  const db = new SQL.Database();
  db.exec(schemaText());
  db.run("INSERT INTO album (album_id, short_name, long_name, directory) VALUES (1, 'Big', 'Big', 'big')");
  const insert = db.prepare(
    'INSERT INTO picture (picture_id, album_id, sort_order, title, thumb_filename, thumb_size) ' +
      'VALUES (?, 1, ?, ?, ?, 100)'
  );
  // Sort order runs against the ids, so that an order by id would show.
  for (let i = 1; i <= COUNT; ++i) insert.run([i, COUNT - i, `Picture ${i}`, 'ps_thumb\\tn.jpg']);
  // Shown nowhere: its thumbnail would be outside the site.
  insert.run([COUNT + 1, 0, 'OUTSIDE', '..\\..\\tn.jpg']);
  insert.free();
  db.run("INSERT INTO category VALUES (1, 'Outside only', '', '', '')");
  db.run("INSERT INTO category VALUES (2, 'Some', '', '', '')");
  db.run('INSERT INTO picture_to_category VALUES (?, 1)', [COUNT + 1]);
  for (let i = 1; i <= COUNT; i += 2) db.run('INSERT INTO picture_to_category VALUES (?, 2)', [i]);
  writeFileSync(join(root, 'db.sqlite'), Buffer.from(db.export()));
  writeFileSync(join(root, 'site.json'), JSON.stringify({ database: 'db.sqlite' }));
  // A copy whose description names a file outside its folder.
  cpSync(galleryFolder, join(root, 'outside'), { recursive: true });
  writeFileSync(join(root, 'outside', 'site.json'), JSON.stringify({ database: '../db.sqlite' }));
  db.close();
  return root;
}

describe('gallery with a large album', () => {
  let root;
  let server;
  let browser;
  let page;

  before(async () => {
    root = await makeLargeSite();
    server = await serve(root);
    browser = await launchBrowser();
    page = await openPage(browser, 1000, 800);
  });

  after(async () => {
    assert.deepEqual(page?.problems ?? [], []);
    await browser?.close();
    await server?.close();
    if (root) rmSync(root, { recursive: true, force: true });
  });

  it('makes the grid in steps as it scrolls and ends with every picture in order', async () => {
    await goTo(page, server.url);
    assert.deepEqual(
      (await albumCards(page)).map((a) => a.meta),
      [`${COUNT} pictures`]
    );
    assert.deepEqual(await categoryLinks(page), [{ id: 2, name: 'Some', count: '150 pictures' }]);

    await goTo(page, server.url + '#/album/1');
    const first = (await tiles(page)).map((t) => t.id);
    assert.ok(first.length > 0 && first.length < COUNT, `${first.length} tiles at first`);
    const expected = Array.from({ length: COUNT }, (_, i) => COUNT - i);
    assert.deepEqual(first, expected.slice(0, first.length));
    // Scrolling to the end makes the rest.
    await page.waitForFunction(
      (count) => {
        window.scrollTo(0, document.body.scrollHeight);
        return document.querySelectorAll('a.tile-link').length === count;
      },
      { polling: 100, timeout: 15000 },
      COUNT
    );
    assert.deepEqual((await tiles(page)).map((t) => t.id), expected);

    // The lightbox of a freshly opened album holds all of its pictures, not only the ones the
    // grid has made so far.
    await page.goto('about:blank');
    await goTo(page, server.url + '#/album/1');
    await page.click('a.tile-link');
    await waitLightbox(page, `1 / ${COUNT}`);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });

    await goTo(page, server.url + '#/category/2');
    await page.waitForFunction(
      () => {
        window.scrollTo(0, document.body.scrollHeight);
        return document.querySelectorAll('a.tile-link').length === 150;
      },
      { polling: 100, timeout: 15000 }
    );
    assert.deepEqual(
      (await tiles(page)).map((t) => t.id),
      expected.filter((id) => id % 2 === 1)
    );
  });

  it('puts the focus on the tile of the picture the lightbox closes on, made if need be', async () => {
    await goTo(page, server.url + '#/album/1');
    const made = (await tiles(page)).length;
    await page.click('a.tile-link');
    await waitLightbox(page, `1 / ${COUNT}`);
    for (let i = 0; i < made + 4; ++i) await page.keyboard.press('ArrowRight');
    await waitLightbox(page, `${made + 5} / ${COUNT}`);
    await page.keyboard.press('Escape');
    await page.waitForFunction(() => !document.querySelector('.pswp'), { polling: 50 });
    const focused = await page.evaluate(() => document.activeElement.dataset.pictureId);
    assert.equal(Number(focused), COUNT - (made + 4));
  });

  it('says so when its description names a database outside its folder', async () => {
    await page.goto(server.url + 'outside/');
    await page.waitForFunction(
      () => document.querySelector('#main .status')?.textContent.includes('is not a file name'),
      { polling: 50, timeout: 15000 }
    );
    assert.equal(await page.evaluate(() => document.documentElement.dataset.ready), undefined);
  });
});
