// Copies the browser files of the pinned packages (package-lock.json) into the gallery template.
// Run after `npm ci` whenever a pinned version changes: node vendor.mjs
import { copyFileSync, mkdirSync } from 'node:fs';
import { vendoredFiles, vendorFolder, packageFile } from './vendored.mjs';

mkdirSync(vendorFolder, { recursive: true });
for (const [target, source] of Object.entries(vendoredFiles)) {
  copyFileSync(packageFile(source), `${vendorFolder}/${target}`);
  console.log(`${source} -> templates/gallery/vendor/${target}`);
}
