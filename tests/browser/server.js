// A static HTTP server on 127.0.0.1 for the browser test. A URL path is
// /VARIANT/MOUNT/PATH: every variant of a page (the original, each level of
// securing) has the same PATH under its own first segment, so the page's
// relative links and the scripts that compare its address with its links
// see the same thing. A file is looked up in the overlay folder under
// VARIANT/MOUNT/PATH (the secured pages), then under original/MOUNT/PATH
// (pages the test generates), then in the mount's own folder (the installed
// documentation, which is never written to).
'use strict';
const http = require('http');
const fs = require('fs');
const path = require('path');

const types = {
  '.html': 'text/html', '.htm': 'text/html', '.css': 'text/css',
  '.js': 'text/javascript', '.mjs': 'text/javascript', '.json': 'application/json',
  '.svg': 'image/svg+xml', '.png': 'image/png', '.gif': 'image/gif', '.jpg': 'image/jpeg',
  '.jpeg': 'image/jpeg', '.ico': 'image/x-icon', '.woff': 'font/woff', '.woff2': 'font/woff2',
  '.ttf': 'font/ttf', '.txt': 'text/plain', '.md': 'text/plain',
};

// The file behind a URL path, or null. Paths that climb out of their mount
// are refused.
function resolve(mounts, overlay, urlPath) {
  let decoded;
  try {
    decoded = decodeURIComponent(urlPath);
  } catch {
    return null;
  }
  const parts = decoded.split('/').filter((p) => p !== '');
  if (parts.length < 3 || parts.some((p) => p === '..' || p === '.' || p.includes('\0')))
    return null;
  const [variant, mount, ...rest] = parts;
  const candidates = [path.join(overlay, variant, mount, ...rest),
    path.join(overlay, 'original', mount, ...rest)];
  if (Object.prototype.hasOwnProperty.call(mounts, mount))
    candidates.push(path.join(mounts[mount], ...rest));
  for (const file of candidates) {
    try {
      if (fs.statSync(file).isFile()) return file;
    } catch {
      // not in this layer
    }
  }
  return null;
}

// Where a variant's request for a file the variants share (a style sheet,
// script, font or image, not a page and not a file of the variant's own)
// is sent instead: the same file under /original/. The browser then caches
// one copy, and compiles a script once, for the original and all its
// secured variants, as it would for a site's pages that share their files;
// the answer itself is cached, so each later request for it costs no trip
// to the server. Null when the request is served as it is.
function sharedAddress(overlay, url, file) {
  const [, variant, ...rest] = url.pathname.split('/');
  if (variant === 'original' || isPage(file) ||
      file.startsWith(path.join(overlay, variant) + path.sep))
    return null;
  return `/original/${rest.join('/')}${url.search}`;
}

function isPage(file) {
  return types[path.extname(file).toLowerCase()] === 'text/html';
}

// Starts the server on an ephemeral port; resolves to { server, origin }.
// The Content-Type carries no charset, so each page's own declaration (or
// the browser's detection) decides, as for a file served without one.
function start(mounts, overlay) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    const file = req.method === 'GET' || req.method === 'HEAD'
      ? resolve(mounts, overlay, url.pathname) : null;
    if (!file) {
      res.writeHead(404, { 'Content-Type': 'text/plain' });
      res.end('not found');
      return;
    }
    const shared = sharedAddress(overlay, url, file);
    if (shared) {
      res.writeHead(301, { Location: shared, 'Cache-Control': 'max-age=3600' });
      res.end();
      return;
    }
    const type = types[path.extname(file).toLowerCase()] || 'application/octet-stream';
    fs.readFile(file, (err, data) => {
      if (err) {
        res.writeHead(500, { 'Content-Type': 'text/plain' });
        res.end(String(err));
        return;
      }
      // Pages are fetched afresh on every load; the files they use (style
      // sheets, scripts, fonts, images) may come from the browser's cache,
      // as they do for a visitor going from page to page of a site.
      const page = type === 'text/html';
      res.writeHead(200, { 'Content-Type': type, 'Content-Length': data.length,
        'Cache-Control': page ? 'no-store' : 'max-age=3600' });
      res.end(req.method === 'HEAD' ? undefined : data);
    });
  });
  server.keepAliveTimeout = 5000;
  return new Promise((resolvePromise, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      resolvePromise({ server, origin: `http://127.0.0.1:${server.address().port}` });
    });
  });
}

module.exports = { start, resolve, sharedAddress };
