// Makes the gallery template's preview pictures (templates/gallery/preview_small.jpg and
// preview_big.jpg) as screenshots of the fixture site in headless Chromium:
//   node previews.mjs
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { galleryFolder, launchBrowser, serve, shot, waitReady } from './helpers.mjs';
import { makeFixtureSite } from './fixture.mjs';

const root = await makeFixtureSite();
const server = await serve(root);
const browser = await launchBrowser();
try {
  const page = await browser.newPage();
  const shots = [
    ['preview_big.jpg', 1.0],
    ['preview_small.jpg', 0.25],
  ];
  for (const [name, scale] of shots) {
    await page.setViewport({ width: 1024, height: 768, deviceScaleFactor: scale });
    await page.goto(server.url);
    await waitReady(page);
    await page.evaluate(() => Promise.all([...document.images].map((i) => i.decode())));
    await page.screenshot({ path: join(galleryFolder, name), type: 'jpeg', quality: 85 });
    await shot(page, name.replace('.jpg', '.png')); // to look at beside the other screenshots
    console.log(`templates/gallery/${name}`);
  }
} finally {
  await browser.close();
  await server.close();
  rmSync(root, { recursive: true, force: true });
}
