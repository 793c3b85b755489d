// Serves a site folder on 127.0.0.1 as the gallery's .htaccess asks of Apache: types, gzip for
// text, the database and the WebAssembly module, long caching for pictures and wasm, "no-cache"
// for the rest. Prints the address, then serves until it is stopped.
//   node bench/lighthouse-serve.mjs <folder> [port]
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { extname, join, normalize, sep } from 'node:path';
import { gzipSync } from 'node:zlib';

const root = normalize(process.argv[2]);
const port = Number(process.argv[3] || 0);
const types = {
  '.html': 'text/html; charset=utf-8', '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8', '.json': 'application/json; charset=utf-8',
  '.wasm': 'application/wasm', '.sqlite': 'application/octet-stream', '.db': 'application/octet-stream',
  '.xml': 'application/atom+xml; charset=utf-8', '.txt': 'text/plain; charset=utf-8',
  '.jpg': 'image/jpeg', '.jpeg': 'image/jpeg',
};
const packed = new Map(); // file -> gzip bytes

const server = createServer(async (req, res) => {
  let path;
  try {
    path = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
  } catch {
    res.writeHead(400).end();
    return;
  }
  if (path.endsWith('/')) path += 'index.html';
  const file = normalize(join(root, path));
  if (!file.startsWith(root + sep)) return res.writeHead(403).end();
  try {
    if (!(await stat(file)).isFile()) throw new Error('not a file');
  } catch {
    return res.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
  }
  const ext = extname(file).toLowerCase();
  const headers = {
    'Content-Type': types[ext] || 'application/octet-stream',
    'Cache-Control': /^\.(jpe?g|wasm)$/.test(ext) ? 'public, max-age=2592000' : 'no-cache',
  };
  let body = await readFile(file);
  if (!/^\.(jpe?g)$/.test(ext) && /gzip/.test(req.headers['accept-encoding'] || '')) {
    if (!packed.has(file)) packed.set(file, gzipSync(body));
    body = packed.get(file);
    headers['Content-Encoding'] = 'gzip';
    headers.Vary = 'Accept-Encoding';
  }
  headers['Content-Length'] = body.length;
  res.writeHead(200, headers).end(req.method === 'HEAD' ? undefined : body);
});
server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/`);
});
