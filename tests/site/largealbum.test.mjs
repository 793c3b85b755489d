// A large album: the grid is made in steps while it scrolls, and in the end holds every shown
// picture once, in order; a lightbox closed beyond the tiles made so far focuses its picture's
// tile; a thumbnail path that leaves the site hides its picture everywhere. The page the program
// writes for such an album holds the first tiles and leads to the rest.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { galleryFolder, launchBrowser, openPage, schemaText, serve, sqlJs } from './helpers.mjs';
import { jpeg } from './fixture.mjs';
import { cli } from './archivesite.mjs';
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

describe('page the program writes for an album of more than 240 pictures', () => {
  let work;
  let server;
  let browser;

  before(async () => {
    assert.ok(existsSync(cli), `${cli} is missing: build the programs first`);
    work = mkdtempSync(join(tmpdir(), 'lumenfold-large-pages-'));
    const photos = join(work, 'photos');
    mkdirSync(photos);
    for (let i = 1; i <= COUNT; ++i)
      writeFileSync(join(photos, `p${String(i).padStart(3, '0')}.jpg`),
        jpeg(90, 60, [i % 200, 80, 160], [220, 200, 160]));
    const project = join(work, 'large.lumenfold');
    const run = (...args) => execFileSync(cli, [...args], { encoding: 'utf8',
      env: { ...process.env, QT_QPA_PLATFORM: 'offscreen' } });
    run('new', project);
    run('add-album', project, photos, '--directory', 'big', '--short-name', 'Big');
    mkdirSync(join(work, 'small'));
    writeFileSync(join(work, 'small', 's.jpg'), jpeg(400, 300, [200, 90, 60], [240, 220, 190]));
    run('add-album', project, join(work, 'small'), '--directory', 'small', '--short-name', 'Small');
    run('set', project, 'SiteTemplate=gallery', 'ZipDatabase=true', `ZipFileName=${join(work, 'site.zip')}`);
    run('process', project, '--zip');
    execFileSync('unzip', ['-q', join(work, 'site.zip'), '-d', join(work, 'site')]);
    server = await serve(join(work, 'site'));
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await server?.close();
    if (work) rmSync(work, { recursive: true, force: true });
  });

  it('holds 240 tiles, grows to all when scrolled, and leads on without scripts', async () => {
    // The first language's copy (the page also carries the second language's).
    const html = (await (await fetch(server.url + 'album-1.html')).text()).split('</main>')[0];
    const written = [...html.matchAll(/class="tile-link" href="(photo-\d+\.html)"/g)].map((m) => m[1]);
    assert.equal(written.length, 240);
    // Without scripts the last written tile's page leads to the next picture.
    const last = await (await fetch(server.url + written[239])).text();
    const next = /<a rel="next" href="(photo-\d+\.html)">/.exec(last);
    assert.ok(next && !written.includes(next[1]), 'the 240th picture leads to the 241st');
    assert.equal((await fetch(server.url + next[1])).status, 200);

    const page = await openPage(browser, 1000, 800);
    await goTo(page, server.url + 'album-1.html');
    assert.equal((await tiles(page)).length, 240);
    await page.waitForFunction(
      (count) => {
        window.scrollTo(0, document.body.scrollHeight);
        return document.querySelectorAll('a.tile-link').length === count;
      },
      { polling: 100, timeout: 20000 },
      COUNT
    );
    const alts = (await tiles(page)).map((t) => t.alt);
    assert.equal(new Set((await tiles(page)).map((t) => t.id)).size, COUNT);
    assert.equal(alts[240], 'Big, picture 241 of 300');
    assert.deepEqual(page.problems, []);
  });

  it('loads the covers after the first once it is shown, and every cover without scripts', async () => {
    for (const scripts of [true, false]) {
      const page = await openPage(browser, 412, 823);
      await page.setJavaScriptEnabled(scripts);
      // The newer album's cover comes first, slowly: the second must not be asked for before it.
      const events = [];
      await page.setRequestInterception(true);
      page.on('request', (r) => {
        const cover = /\/(small|big)\/ps_/.exec(r.url())?.[1];
        if (cover) events.push(`asked ${cover}`);
        setTimeout(() => r.continue(), cover === 'small' ? 400 : 0);
      });
      page.on('requestfinished', (r) => /\/small\/ps_/.test(r.url()) && events.push('arrived small'));
      await page.goto(server.url);
      await page.waitForFunction(() => [...document.querySelectorAll('.album-link img')].every((img) =>
        getComputedStyle(img).display === 'none' || img.naturalWidth > 0), { polling: 50, timeout: 10000 });
      assert.deepEqual(await page.$$eval('.album-link img', (imgs) => imgs
        .filter((img) => getComputedStyle(img).display !== 'none').map((img) => img.alt)), ['Small', 'Big']);
      if (scripts) assert.deepEqual(events, ['asked small', 'arrived small', 'asked big']);
      await page.close();
    }
  });
});
