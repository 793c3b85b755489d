// The fixture site: the gallery template with a database made from schema.sql and JPEG files
// for its pictures, including pictures and an album that the site must hide.
import { execFileSync } from 'node:child_process';
import { cpSync, mkdirSync, mkdtempSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { galleryFolder, ppm, schemaText, sqlJs } from './helpers.mjs';

export const MARKUP_TITLE = '<img src=x onerror="window.__injected=1">Nets & <b>ropes</b>';

// Titles and names that must never reach the page.
export const HIDDEN = [
  'PRIVATE-picture-title',
  'DELETED-picture-title',
  'UNPROCESSED-picture-title',
  'PRIVATE-album-name',
  'PICTURE-in-private-album',
  'ONLY-hidden-category',
];

export const fixture = {
  albums: [
    // newest first on the site: album ids in descending order
    { id: 3, name: 'Mountains', name2: 'Berge', date: '2024-05-17', pictures: [301, 302] },
    { id: 1, name: 'Harbour', name2: '', date: '2023-01-02', pictures: [101, 102, 106] },
  ],
  categories: [
    { id: 1, title: 'Boats', title2: 'Boote', pictures: [101, 106] },
    { id: 2, title: 'Sky', title2: 'Himmel', pictures: [302, 102] },
    { id: 4, title: 'Lights', title2: 'Lichter', pictures: [102] },
  ],
};

// A baseline JPEG of w × h pixels.
export function jpeg(w, h, top, bottom) {
  return execFileSync('cjpeg', ['-quality', '85'], { input: ppm(w, h, top, bottom) });
}

function writeJpeg(root, relative, w, h, colour) {
  const path = join(root, ...relative.split(/[\\/]/));
  mkdirSync(dirname(path), { recursive: true });
  writeFileSync(path, jpeg(w, h, colour, [250, 214, 165]));
}

export async function makeFixtureSite() {
  const root = mkdtempSync(join(tmpdir(), 'lumenfold-fixture-site-'));
  cpSync(galleryFolder, root, { recursive: true });
  const SQL = await sqlJs();
  const db = new SQL.Database();
  db.exec(schemaText());
  const album = db.prepare(
    'INSERT INTO album (album_id, face_picture_id, album_date, short_name, short_name2, ' +
      'long_name, long_name2, description, description2, is_private, directory, path) ' +
      'VALUES (?,?,?,?,?,?,?,?,?,?,?,?)'
  );
  album.run([1, 102, '2023-01-02', 'Harbour', '', 'Harbour', '', 'Boats and nets.', '', 0,
    'harbour', '/home/someone/SECRET-LOCAL-PATH/harbour']);
  album.run([2, 201, '2023-06-01', 'PRIVATE-album-name', '', 'PRIVATE-album-name', '', '', '', 1,
    'private', '/home/someone/SECRET-LOCAL-PATH/private']);
  album.run([3, 301, '2024-05-17 10:30:00', 'Mountains', 'Berge', 'Mountains', 'Berge',
    'High places.', 'Hohe Orte.', 0, 'mountains', 'C:\\Photos\\mountains']);
  album.free();
  const picture = db.prepare(
    'INSERT INTO picture (picture_id, album_id, sort_order, title, title2, picture_date, ' +
      'original_filename, thumb_filename, thumb_size, medium_filename, medium_size, ' +
      'is_private, is_deleted) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)'
  );
  // [id, album, order, title, title2, private, deleted, processed, separator]
  const pictures = [
    [102, 1, 2, 'Lighthouse', '', 0, 0, 1, '/'],
    [101, 1, 1, 'Boats at dawn', 'Boote im Morgengrauen', 0, 0, 1, '\\'],
    [103, 1, 3, 'PRIVATE-picture-title', '', 1, 0, 1, '\\'],
    [104, 1, 4, 'DELETED-picture-title', '', 0, 1, 1, '\\'],
    [105, 1, 5, 'UNPROCESSED-picture-title', '', 0, 0, 0, '\\'],
    [106, 1, 6, MARKUP_TITLE, '', 0, 0, 1, '/'],
    [201, 2, 1, 'PICTURE-in-private-album', '', 0, 0, 1, '\\'],
    [301, 3, 1, 'Summit', 'Gipfel', 0, 0, 1, '\\'],
    [302, 3, 2, 'Clouds', 'Wolken', 0, 0, 1, '/'],
  ];
  const directories = { 1: 'harbour', 2: 'private', 3: 'mountains' };
  let hue = 0;
  for (const [id, albumId, order, title, title2, priv, del, processed, s] of pictures) {
    const name = `picture ${id}.jpg`;
    const thumb = `ps_thumb${s}tn_${name}`;
    const medium = `ps_medium${s}m_${name}`;
    picture.run([id, albumId, order, title, title2, '2024-02-29', name, thumb,
      processed ? 5000 : -1, medium, processed ? 50000 : -1, priv, del]);
    const colour = [(hue * 67) % 200 + 40, (hue * 131) % 200 + 40, (hue * 29) % 200 + 40];
    hue += 1;
    const wide = id % 2 === 0;
    writeJpeg(join(root, directories[albumId]), thumb, wide ? 200 : 100, wide ? 133 : 150, colour);
    writeJpeg(join(root, directories[albumId]), medium, wide ? 800 : 512, wide ? 533 : 768, colour);
  }
  picture.free();
  db.run("INSERT INTO category VALUES (1, 'Boats', 'Boote', '', '')");
  db.run("INSERT INTO category VALUES (2, 'Sky', 'Himmel', 'Looking up.', '')");
  db.run("INSERT INTO category VALUES (3, 'ONLY-hidden-category', '', '', '')");
  db.run("INSERT INTO category VALUES (4, 'Lights', 'Lichter', '', '')");
  for (const [p, c] of [[101, 1], [103, 1], [106, 1], [106, 1], [102, 2], [302, 2], [201, 2],
    [104, 3], [103, 3], [201, 3], [102, 4], [105, 4]])
    db.run('INSERT INTO picture_to_category VALUES (?, ?)', [p, c]);
  writeFileSync(join(root, 'gallery.sqlite'), Buffer.from(db.export()));
  db.close();
  writeFileSync(join(root, 'site.json'), JSON.stringify({ database: 'gallery.sqlite' }));
  return root;
}
