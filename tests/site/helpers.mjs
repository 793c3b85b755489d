// Shared pieces of the browser tests: a loopback web server for a site folder, a headless
// Chromium driven by puppeteer-core, a page that records every console error, page error and
// failed request, and the fixture database.
import { createServer } from 'node:http';
import { createReadStream, mkdirSync, readFileSync, statSync } from 'node:fs';
import { mkdtemp } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { extname, join, normalize, sep } from 'node:path';
import puppeteer from 'puppeteer-core';
import { repoRoot } from './vendored.mjs';

export { repoRoot };
export const galleryFolder = join(repoRoot, 'templates', 'gallery');
export const shotsFolder = join(repoRoot, 'build', 'site-shots');

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.wasm': 'application/wasm',
  '.jpg': 'image/jpeg',
  '.jpeg': 'image/jpeg',
  '.txt': 'text/plain; charset=utf-8',
};

// Serves the files below root on 127.0.0.1 at a free port; records every request path.
export async function serve(root) {
  const requests = [];
  const server = createServer((req, res) => {
    let path;
    try {
      path = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
    } catch {
      res.writeHead(400).end();
      return;
    }
    requests.push(path);
    if (path.endsWith('/')) path += 'index.html';
    const file = normalize(join(root, path));
    if (!file.startsWith(normalize(root) + sep)) {
      res.writeHead(403).end();
      return;
    }
    let info;
    try {
      info = statSync(file);
    } catch {
      res.writeHead(404).end('not found');
      return;
    }
    if (!info.isFile()) {
      res.writeHead(404).end('not found');
      return;
    }
    const type = types[extname(file).toLowerCase()] || 'application/octet-stream';
    res.writeHead(200, { 'Content-Type': type, 'Content-Length': info.size });
    createReadStream(file).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    url: `http://127.0.0.1:${port}/`,
    requests,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

export const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

export async function launchBrowser() {
  const profile = await mkdtemp(join(tmpdir(), 'lumenfold-chromium-'));
  return puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      `--user-data-dir=${profile}`,
    ],
  });
}

// A page whose problems are collected in page.problems: console errors, uncaught errors,
// failed requests and answers with a status of 400 or more.
export async function openPage(browser, width = 1200, height = 900) {
  const page = await browser.newPage();
  await page.setViewport({ width, height });
  await page.bringToFront();
  page.problems = [];
  page.on('console', (m) => {
    if (m.type() === 'error') page.problems.push(`console: ${m.text()}`);
  });
  page.on('pageerror', (e) => page.problems.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) =>
    page.problems.push(`request failed: ${r.url()} ${r.failure()?.errorText}`)
  );
  page.on('response', (r) => {
    if (r.status() >= 400) page.problems.push(`HTTP ${r.status()}: ${r.url()}`);
  });
  return page;
}

export async function waitReady(page) {
  await page.waitForSelector('html[data-ready="true"]', { timeout: 20000, polling: 50 });
}

// Waits until every image in the page has loaded and reports the ones that did not decode.
export async function brokenImages(page) {
  return page.evaluate(async () => {
    const images = [...document.images];
    for (const img of images) img.loading = 'eager';
    await Promise.all(images.map((img) => img.decode().catch(() => {})));
    return images.filter((img) => !img.complete || img.naturalWidth === 0).map((img) => img.src);
  });
}

export async function shot(page, name) {
  mkdirSync(shotsFolder, { recursive: true });
  await page.screenshot({ path: join(shotsFolder, name) });
}

let sqlPromise = null;
export function sqlJs() {
  if (!sqlPromise) {
    sqlPromise = import('sql.js').then((m) => m.default());
  }
  return sqlPromise;
}

export function schemaText() {
  return readFileSync(join(repoRoot, 'schema.sql'), 'utf8');
}

// A PPM picture of w × h pixels: a sky from the top colour to the bottom colour, a sun and a
// darker hill, so that a misplaced or cut image shows in a screenshot.
export function ppm(w, h, top, bottom) {
  const header = Buffer.from(`P6\n${w} ${h}\n255\n`, 'ascii');
  const body = Buffer.alloc(w * h * 3);
  const sunX = w * 0.7;
  const sunY = h * 0.3;
  const sunR = Math.min(w, h) * 0.12;
  for (let y = 0; y < h; ++y)
    for (let x = 0; x < w; ++x) {
      const t = y / h;
      let c = [0, 1, 2].map((i) => top[i] * (1 - t) + bottom[i] * t);
      if ((x - sunX) ** 2 + (y - sunY) ** 2 < sunR ** 2) c = [255, 236, 170];
      const hill = h * (0.72 - 0.12 * Math.sin((x / w) * Math.PI * 1.3));
      if (y > hill) c = c.map((v) => v * 0.45);
      body.set(c.map((v) => Math.max(0, Math.min(255, Math.round(v)))), (y * w + x) * 3);
    }
  return Buffer.concat([header, body]);
}
