// What a gallery page shows, read from its elements, and ways of moving through it.
import { waitReady } from './helpers.mjs';

export function albumCards(page) {
  return page.$$eval('a.album-link', (links) =>
    links.map((a) => ({
      id: Number(a.dataset.albumId),
      name: a.querySelector('.album-name').textContent,
      meta: a.querySelector('.meta').textContent,
      cover: a.querySelector('img').getAttribute('src'),
    }))
  );
}

export function categoryLinks(page) {
  return page.$$eval('a.category-link', (links) =>
    links.map((a) => ({
      id: Number(a.dataset.categoryId),
      name: a.querySelector('.category-name').textContent,
      count: a.querySelector('.count').textContent,
    }))
  );
}

export function tiles(page) {
  return page.$$eval('a.tile-link', (links) =>
    links.map((a) => ({ id: Number(a.dataset.pictureId), alt: a.querySelector('img').alt }))
  );
}

// Loads every lightbox image of the page's grid and returns the ones that do not decode.
export function brokenMediumImages(page) {
  return page.evaluate(async () => {
    const urls = [...document.querySelectorAll('a.tile-link')].map((a) => new URL(a.dataset.big, location.href).href);
    const bad = [];
    for (const url of urls) {
      const img = new Image();
      img.src = url;
      try {
        await img.decode();
        if (!img.naturalWidth) bad.push(url);
      } catch {
        bad.push(url);
      }
    }
    return bad;
  });
}

export async function goTo(page, url) {
  await page.goto(url);
  await waitReady(page);
}

// Moves within the site by its address, as a click on a link does.
export async function route(page, hash) {
  await page.evaluate((h) => {
    location.hash = h;
  }, hash);
  await page.waitForFunction(
    (h) => location.hash === h && document.querySelector('#main > *') !== null,
    { polling: 50 },
    hash
  );
}

export async function noHorizontalScrolling(page) {
  return page.evaluate(
    () => document.documentElement.scrollWidth <= document.documentElement.clientWidth
  );
}

export async function lightboxState(page) {
  return page.evaluate(() => {
    const root = document.querySelector('.pswp');
    if (!root) return null;
    const counter = root.querySelector('.pswp__counter');
    const caption = root.querySelector('.pswp__caption');
    return {
      counter: counter ? counter.textContent.trim() : null,
      caption: caption ? caption.textContent : null,
    };
  });
}

export async function waitLightbox(page, counter) {
  await page.waitForFunction(
    (c) => {
      const el = document.querySelector('.pswp .pswp__counter');
      return document.documentElement.dataset.lightbox === 'open' && el && el.textContent.trim() === c;
    },
    { timeout: 10000, polling: 50 },
    counter
  );
}

