// A site unpacked from an archive that lumenfold-cli made: the gallery shows what is public, and
// nothing private can be fetched from it.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, rmSync, writeFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { brokenImages, launchBrowser, openPage, repoRoot, serve, shot, sqlJs } from './helpers.mjs';
import { jpeg } from './fixture.mjs';
import {
  albumCards,
  brokenMediumImages,
  categoryLinks,
  goTo,
  lightboxState,
  tiles,
  waitLightbox,
} from './pagequeries.mjs';

const cli = process.env.LUMENFOLD_CLI || join(repoRoot, 'build', 'bin', 'lumenfold-cli');

const HIDDEN_TITLES = ['HIDDEN-private-title', 'HIDDEN-deleted-title', 'HIDDEN-album-picture',
  'HIDDEN-album-name'];

function run(...args) {
  return execFileSync(cli, args, { encoding: 'utf8', env: { ...process.env, QT_QPA_PLATFORM: 'offscreen' } });
}

// Builds a project with two albums, marks pictures and an album private or deleted and gives
// texts in both languages, processes it into an archive and unpacks that.
async function makeArchiveSite(work) {
  const photos = join(work, 'photos');
  const colours = [[70, 130, 180], [200, 120, 60], [90, 160, 90], [150, 90, 170]];
  mkdirSync(join(photos, 'harbour'), { recursive: true });
  mkdirSync(join(photos, 'secret'), { recursive: true });
  ['a-shown.jpg', 'b-private.jpg', 'c-deleted.jpg', 'd-shown.jpg'].forEach((name, i) =>
    writeFileSync(join(photos, 'harbour', name), jpeg(960, 640, colours[i], [240, 220, 190]))
  );
  ['e-secret.jpg', 'f-secret.jpg'].forEach((name, i) =>
    writeFileSync(join(photos, 'secret', name), jpeg(640, 960, colours[i], [30, 30, 50]))
  );
  const project = join(work, 'site.lumenfold');
  run('new', project);
  run('add-album', project, join(photos, 'secret'), '--directory', 'secret', '--short-name',
    'HIDDEN-album-name');
  run('add-album', project, join(photos, 'harbour'), '--directory', 'harbour', '--short-name',
    'Harbour', '--long-name', 'Harbour at dusk', '--face', 'b-private.jpg');

  // What the command line does not set is set in the database, as the desktop program would.
  const dbFile = join(work, 'db.sqlite');
  const SQL = await sqlJs();
  const db = new SQL.Database(readFileSync(dbFile));
  const set = (sql, params) => db.run(sql, params);
  const texts = {
    'a-shown.jpg': ['Boats', 'Boote', 0, 0],
    'b-private.jpg': ['HIDDEN-private-title', '', 1, 0],
    'c-deleted.jpg': ['HIDDEN-deleted-title', '', 0, 1],
    'd-shown.jpg': ['Nets', '', 0, 0], // no second text: the first one is shown
    'e-secret.jpg': ['HIDDEN-album-picture', '', 0, 0],
    'f-secret.jpg': ['HIDDEN-album-picture', '', 0, 0],
  };
  for (const [name, [title, title2, priv, del]] of Object.entries(texts))
    set('UPDATE picture SET title = ?, title2 = ?, is_private = ?, is_deleted = ?, ' +
      "picture_date = '2025-08-01' WHERE original_filename = ?", [title, title2, priv, del, name]);
  set("UPDATE album SET long_name2 = 'Hafen am Abend', description = 'Evening light.', " +
    "description2 = 'Abendlicht.', album_date = '2025-08-02' WHERE directory = 'harbour'");
  set("UPDATE album SET is_private = 1 WHERE directory = 'secret'");
  set("INSERT INTO category (category_id, title, title2) VALUES (1, 'Sea', 'Meer')");
  set('INSERT INTO picture_to_category SELECT picture_id, 1 FROM picture');
  set("INSERT INTO signature (signature_id, signature_name) VALUES (1, 'HIDDEN-signature')");
  writeFileSync(dbFile, Buffer.from(db.export()));
  db.close();

  run('set', project, 'SiteTemplate=gallery', 'ZipDatabase=true',
    `ZipFileName=${join(work, 'albums.zip')}`);
  run('process', project, '--zip');
  const entries = execFileSync('unzip', ['-Z1', join(work, 'albums.zip')], { encoding: 'utf8' })
    .split('\n')
    .filter((line) => line);
  const site = join(work, 'site');
  execFileSync('unzip', ['-q', join(work, 'albums.zip'), '-d', site]);
  return { site, entries, photos };
}

describe('gallery unpacked from an archive made by lumenfold-cli', () => {
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

  it('packs the public pictures, the site and no original or hidden file', () => {
    const pictures = made.entries.filter((e) => /^(harbour|secret)\//.test(e)).sort();
    assert.deepEqual(pictures, [
      'harbour/ps_medium/m_a-shown.jpg',
      'harbour/ps_medium/m_d-shown.jpg',
      'harbour/ps_thumb/tn_a-shown.jpg',
      'harbour/ps_thumb/tn_d-shown.jpg',
    ]);
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
});
