// The files of the gallery template's vendor folder and the package file each one copies.
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

export const here = dirname(fileURLToPath(import.meta.url));
export const repoRoot = join(here, '..', '..');
export const vendorFolder = join(repoRoot, 'templates', 'gallery', 'vendor');

export const vendoredFiles = {
  'sql-wasm.js': 'sql.js/dist/sql-wasm.js',
  'sql-wasm.wasm': 'sql.js/dist/sql-wasm.wasm',
  'LICENSE.sql.js.txt': 'sql.js/LICENSE',
  'photoswipe.umd.min.js': 'photoswipe/dist/umd/photoswipe.umd.min.js',
  'photoswipe.css': 'photoswipe/dist/photoswipe.css',
  'LICENSE.photoswipe.txt': 'photoswipe/LICENSE',
};

export function packageFile(source) {
  return join(here, 'node_modules', source);
}
