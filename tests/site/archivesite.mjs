// A site unpacked from an archive that lumenfold-cli made from a project with two albums (one
// private), pictures marked private or deleted, texts in both languages and a public address.
import { execFileSync } from 'node:child_process';
import { mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { repoRoot, sqlJs } from './helpers.mjs';
import { jpeg } from './fixture.mjs';

export const SITE_ADDRESS = 'https://photos.example.org/';
export const cli = process.env.LUMENFOLD_CLI || join(repoRoot, 'build', 'bin', 'lumenfold-cli');

export const HIDDEN_TITLES = ['HIDDEN-private-title', 'HIDDEN-deleted-title', 'HIDDEN-album-picture',
  'HIDDEN-album-name'];

function run(...args) {
  return execFileSync(cli, args, { encoding: 'utf8', env: { ...process.env, QT_QPA_PLATFORM: 'offscreen' } });
}

// Builds a project with two albums, marks pictures and an album private or deleted and gives
// texts in both languages, processes it into an archive and unpacks that.
export async function makeArchiveSite(work) {
  const photos = join(work, 'photos');
  const colours = [[70, 130, 180], [200, 120, 60], [90, 160, 90], [150, 90, 170]];
  mkdirSync(join(photos, 'harbour'), { recursive: true });
  mkdirSync(join(photos, 'secret'), { recursive: true });
  // One photo large enough for every extra web size; the others get the first one at their
  // own size.
  ['a-shown.jpg', 'b-private.jpg', 'c-deleted.jpg', 'd-shown.jpg'].forEach((name, i) =>
    writeFileSync(join(photos, 'harbour', name),
      i === 0 ? jpeg(3000, 2000, colours[i], [240, 220, 190]) : jpeg(960, 640, colours[i], [240, 220, 190]))
  );
  // The camera's record of the shot, with a position and serial numbers that must stay home.
  execFileSync('exiftool', ['-q', '-overwrite_original', '-Make=TESTCAM', '-Model=TESTCAM Model X',
    '-LensModel=Lens 50', '-FNumber=2.8', '-ExposureTime=1/250', '-ISO=200', '-FocalLength=50',
    '-DateTimeOriginal=2025:08:01 10:30:00', '-GPSLatitude=47.123456', '-GPSLatitudeRef=N',
    '-SerialNumber=SERIAL-4711', '-LensSerialNumber=LENSSERIAL-0815',
    join(photos, 'harbour', 'a-shown.jpg')]);
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
    `ZipFileName=${join(work, 'albums.zip')}`, `SiteAddress=${SITE_ADDRESS}`, 'SiteDownload=1', 'SiteCameraDetails=true');
  run('process', project, '--zip');
  const entries = execFileSync('unzip', ['-Z1', join(work, 'albums.zip')], { encoding: 'utf8' })
    .split('\n')
    .filter((line) => line);
  const site = join(work, 'site');
  execFileSync('unzip', ['-q', join(work, 'albums.zip'), '-d', site]);
  return { site, entries, photos };
}

