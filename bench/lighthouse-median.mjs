// Medians of Lighthouse reports (bench/run-lighthouse.sh): the scores as one line
// "perf lcp_s tbt_ms cls a11y bp seo", then, for a reader, the parts of the largest contentful
// paint, its element and the requests of the critical chain.
//   node bench/lighthouse-median.mjs <folder> <tag-form> <runs>
import { readFileSync } from 'node:fs';

const [work, tag, runs] = process.argv.slice(2);
const reports = [];
for (let i = 0; i < Number(runs); ++i) {
  try {
    reports.push(JSON.parse(readFileSync(`${work}/report-${tag}-${i}.json`, 'utf8')));
  } catch {}
}
const median = (values) => {
  const v = values.filter((x) => typeof x === 'number').sort((a, b) => a - b);
  return v.length ? v[Math.floor((v.length - 1) / 2)] : NaN;
};
const cat = (k) => Math.round(100 * median(reports.map((r) => r.categories[k]?.score)));
const audit = (k) => median(reports.map((r) => r.audits[k]?.numericValue));
console.log(
  [cat('performance'), (audit('largest-contentful-paint') / 1000).toFixed(2),
    Math.round(audit('total-blocking-time')), audit('cumulative-layout-shift').toFixed(3),
    cat('accessibility'), cat('best-practices'), cat('seo')].join(' '));

// The observed (unthrottled) parts of the paint: Lighthouse simulates the phone from these
// requests and the main thread's work before it.
const parts = {};
for (const r of reports)
  for (const item of r.audits['lcp-breakdown-insight']?.details?.items?.[0]?.items ?? [])
    (parts[item.subpart] ??= []).push(item.duration);
const names = { timeToFirstByte: 'first byte', resourceLoadDelay: 'load delay',
  resourceLoadDuration: 'load time', elementRenderDelay: 'render delay' };
console.log(Object.entries(names)
  .map(([key, label]) => `${label} ${Math.round(median(parts[key] ?? []))}`).join(', '));
const element = reports[0]?.audits['lcp-breakdown-insight']?.details?.items?.[1];
if (element) console.log(`element: ${element.selector}`);
// Requests that ended before the observed paint (what the slow estimate of the paint waits for).
const before = reports.map((r) => {
  const at = r.audits.metrics?.details?.items?.[0]?.observedLargestContentfulPaint;
  const items = r.audits['network-requests']?.details?.items ?? [];
  const done = items.filter((i) => i.networkEndTime <= at);
  return [done.length, done.reduce((sum, i) => sum + (i.transferSize || 0), 0)];
});
console.log(`ended before it: ${median(before.map((b) => b[0]))} requests, ` +
  `${Math.round(median(before.map((b) => b[1])) / 1024)} KB`);
