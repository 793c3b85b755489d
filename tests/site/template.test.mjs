// The gallery template's files: vendored libraries equal to the pinned packages, and what a
// template folder must hold.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { here, packageFile, vendorFolder, vendoredFiles } from './vendored.mjs';
import { galleryFolder } from './helpers.mjs';

test('vendored files equal the pinned packages byte for byte', () => {
  const manifest = JSON.parse(readFileSync(join(here, 'package.json'), 'utf8'));
  const lock = JSON.parse(readFileSync(join(here, 'package-lock.json'), 'utf8'));
  for (const name of ['sql.js', 'photoswipe']) {
    const pinned = manifest.dependencies[name];
    assert.match(pinned, /^\d+\.\d+\.\d+$/, `${name} is pinned to one version`);
    assert.equal(lock.packages[`node_modules/${name}`].version, pinned, `${name} in the lockfile`);
    const installed = JSON.parse(readFileSync(packageFile(`${name}/package.json`), 'utf8'));
    assert.equal(installed.version, pinned, `${name} installed`);
  }
  for (const [target, source] of Object.entries(vendoredFiles))
    assert.ok(readFileSync(join(vendorFolder, target)).equals(readFileSync(packageFile(source))),
      `vendor/${target} differs from ${source}: run "node vendor.mjs"`);
  // Nothing else lies in the vendor folder.
  assert.deepEqual(readdirSync(vendorFolder).sort(), Object.keys(vendoredFiles).sort());
});

test('the template folder holds its previews, description, manifest and server note', () => {
  const jpegSize = (name) => {
    const bytes = readFileSync(join(galleryFolder, name));
    assert.equal(bytes.readUInt16BE(0), 0xffd8, `${name} is a JPEG file`);
    // The first start-of-frame marker gives the size.
    for (let i = 2; i + 9 < bytes.length; ) {
      const marker = bytes.readUInt16BE(i);
      const length = bytes.readUInt16BE(i + 2);
      if (marker >= 0xffc0 && marker <= 0xffc2)
        return [bytes.readUInt16BE(i + 7), bytes.readUInt16BE(i + 5)];
      i += 2 + length;
    }
    assert.fail(`${name} has no frame`);
  };
  const [smallW, smallH] = jpegSize('preview_small.jpg');
  const [bigW, bigH] = jpegSize('preview_big.jpg');
  assert.ok(smallW <= 320 && smallH <= 240, 'the small preview fits the options page');
  assert.ok(bigW >= 800 && bigH >= 600, 'the big preview is a real screenshot size');
  assert.match(readFileSync(join(galleryFolder, 'readme.txt'), 'utf8'), /private/i);
  assert.match(readFileSync(join(galleryFolder, '.htaccess'), 'utf8'),
    /^AddType application\/wasm \.wasm$/m);
  assert.deepEqual(JSON.parse(readFileSync(join(galleryFolder, 'template.json'), 'utf8')),
    { publicStaticSite: true, includeOriginals: false, webSizes: [700, 1600, 2560] });
  const settings = JSON.parse(readFileSync(join(galleryFolder, 'settings.json'), 'utf8'));
  assert.equal(settings.languages.length, 2);
  // The page loads only files of its own folder.
  const html = readFileSync(join(galleryFolder, 'index.html'), 'utf8');
  for (const [, url] of html.matchAll(/(?:src|href)="([^"]+)"/g))
    assert.ok(!/^(https?:)?\/\//.test(url), url);
});
