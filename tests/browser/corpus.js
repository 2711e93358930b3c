// The pages the browser test renders: real documentation installed on the
// machine (the Rust HTML documentation and the HTML under /usr/share/doc),
// picked the same way on every run, and windows-1252 pages made from real
// ones, since the installed documentation has no page in that charset with
// a byte above 127.
'use strict';
const fs = require('fs');
const path = require('path');

// Where the pages are picked, and how many from each place. A place that is
// missing or short gives its share to the Rust documentation's API pages,
// which are always there.
const groups = [
  { mount: 'rust', dir: 'std', count: 38 },
  { mount: 'rust', dir: 'core', count: 10 },
  { mount: 'rust', dir: 'alloc', count: 5 },
  { mount: 'rust', dir: 'proc_macro', count: 3 },
  { mount: 'rust', dir: 'book', count: 22 },
  { mount: 'rust', dir: 'reference', count: 18 },
  { mount: 'rust', dir: 'rust-by-example', count: 12 },
  { mount: 'rust', dir: 'cargo', count: 11 },
  { mount: 'rust', dir: 'nomicon', count: 5 },
  { mount: 'rust', dir: 'edition-guide', count: 4 },
  { mount: 'rust', dir: 'embedded-book', count: 3 },
  { mount: 'rust', dir: 'rustc', count: 4 },
  { mount: 'rust', dir: 'unstable-book', count: 3 },
  { mount: 'rust', dir: 'error_codes', count: 4 },
  { mount: 'rust', dir: 'rustdoc', count: 2 },
  { mount: 'rust', dir: 'style-guide', count: 2 },
  { mount: 'rust', dir: '.', count: 8, shallow: true },
  { mount: 'doc', dir: 'libxslt1-dev', count: 16 },
  { mount: 'doc', dir: 'valgrind', count: 13 },
  { mount: 'doc', dir: 'nodejs', count: 13 },
  { mount: 'doc', dir: '.', count: 8, exclude: ['libxslt1-dev', 'valgrind', 'nodejs'] },
];

// How many windows-1252 pages are made from real UTF-8 pages.
const windows1252Count = 16;

// Pages larger than this make the run long without showing more.
const maxBytes = 250 * 1024;

function listHtml(root, dir, shallow, exclude) {
  const found = [];
  const start = path.join(root, dir);
  function walk(folder, relative) {
    let entries;
    try {
      entries = fs.readdirSync(folder, { withFileTypes: true });
    } catch {
      return;
    }
    for (const entry of entries) {
      const rel = relative ? `${relative}/${entry.name}` : entry.name;
      if (entry.isDirectory()) {
        if (!shallow && !(exclude && !relative && exclude.includes(entry.name)))
          walk(path.join(folder, entry.name), rel);
      } else if (entry.isFile() && /\.html?$/i.test(entry.name)) {
        found.push(dir === '.' ? rel : `${dir}/${rel}`);
      }
    }
  }
  walk(start, '');
  return found.sort();
}

// The charset a page declares in a meta element, as browsers name it
// ("windows-1252" for the Latin-1 labels), or "" when it declares none.
function declaredCharset(text) {
  const m = /<meta[^>]*charset\s*=\s*["']?\s*([A-Za-z0-9._:-]+)/i.exec(text.slice(0, 4096));
  if (!m) return '';
  const label = m[1].toLowerCase();
  if (['iso-8859-1', 'iso8859-1', 'latin1', 'l1', 'us-ascii', 'ascii', 'windows-1252', 'cp1252']
    .includes(label))
    return 'windows-1252';
  if (label === 'utf8' || label === 'utf-8') return 'utf-8';
  return label;
}

// What a page holds that securing might disturb. The text is the file's
// bytes read as Latin-1, so a byte above 127 stays one character.
function features(text) {
  const lower = text.toLowerCase();
  const bodyStart = lower.indexOf('<body');
  const body = bodyStart >= 0 ? text.slice(bodyStart) : '';
  return {
    table: /<table[\s>]/i.test(body),
    script: /<script[\s>]/i.test(body),
    form: /<form[\s>]/i.test(body),
    nonAscii: /[\x80-\xff]/.test(body),
    charset: declaredCharset(text) || 'undeclared',
  };
}

// Whether the page can be compared at all: it has a body start and end tag
// (which securing splits on) and does not send the browser elsewhere.
function usable(text) {
  const lower = text.toLowerCase();
  const start = lower.indexOf('<body');
  const end = lower.indexOf('</body');
  return start >= 0 && end > start && !/http-equiv\s*=\s*["']?refresh/i.test(text);
}

function evenlySpaced(list, count) {
  if (list.length <= count) return list.slice();
  const picked = [];
  for (let i = 0; i < count; ++i) picked.push(list[Math.floor(((i + 0.5) * list.length) / count)]);
  return picked;
}

// `count` entries spread evenly over a sorted list, each the first entry at
// or after its place that `accept` takes (so only a few files are read).
function spreadPick(list, count, accept) {
  const picked = [];
  let next = 0;
  for (let i = 0; i < count; ++i) {
    let at = Math.max(next, Math.floor((i * list.length) / count));
    while (at < list.length && !accept(list[at])) ++at;
    if (at >= list.length) break;
    picked.push(list[at]);
    next = at + 1;
  }
  return picked;
}

// Picks the corpus: [{ mount, path, file, features }], `path` relative to
// the mount, `file` the installed file.
function pickPages(mounts) {
  const pages = [];
  const seen = new Set();
  let missing = 0;
  const take = (mount, candidates, count) => {
    const accept = (rel) => {
      const file = path.join(mounts[mount], rel);
      if (seen.has(file)) return false;
      let stat;
      try {
        stat = fs.statSync(file);
      } catch {
        return false;
      }
      return stat.size > 0 && stat.size <= maxBytes && usable(fs.readFileSync(file, 'latin1'));
    };
    const chosen = spreadPick(candidates, count, accept);
    for (const rel of chosen) {
      const file = path.join(mounts[mount], rel);
      seen.add(file);
      pages.push({ mount, path: rel, file, features: features(fs.readFileSync(file, 'latin1')) });
    }
    return count - chosen.length;
  };
  for (const g of groups) {
    if (!mounts[g.mount] || !fs.existsSync(mounts[g.mount])) {
      missing += g.count;
      continue;
    }
    missing += take(g.mount, listHtml(mounts[g.mount], g.dir, g.shallow, g.exclude), g.count);
  }
  if (missing > 0 && mounts.rust) {
    // Fill up from API pages not taken yet, spread over the whole library.
    take('rust', listHtml(mounts.rust, 'core', false), missing);
  }
  return pages;
}

// Characters that windows-1252 can hold; the others are written as
// character references, which render the same.
const windows1252Extra = new Map([
  [0x20ac, 0x80], [0x201a, 0x82], [0x0192, 0x83], [0x201e, 0x84], [0x2026, 0x85],
  [0x2020, 0x86], [0x2021, 0x87], [0x02c6, 0x88], [0x2030, 0x89], [0x0160, 0x8a],
  [0x2039, 0x8b], [0x0152, 0x8c], [0x017d, 0x8e], [0x2018, 0x91], [0x2019, 0x92],
  [0x201c, 0x93], [0x201d, 0x94], [0x2022, 0x95], [0x2013, 0x96], [0x2014, 0x97],
  [0x02dc, 0x98], [0x2122, 0x99], [0x0161, 0x9a], [0x203a, 0x9b], [0x0153, 0x9c],
  [0x017e, 0x9e], [0x0178, 0x9f],
]);

function encodeWindows1252(text) {
  const bytes = [];
  for (const ch of text) {
    const code = ch.codePointAt(0);
    if (code < 0x80 || (code >= 0xa0 && code <= 0xff)) {
      bytes.push(code);
    } else if (windows1252Extra.has(code)) {
      bytes.push(windows1252Extra.get(code));
    } else {
      for (const b of Buffer.from(`&#${code};`, 'latin1')) bytes.push(b);
    }
  }
  return Buffer.from(bytes);
}

// Makes windows-1252 pages from picked UTF-8 pages that hold text beyond
// ASCII: the same text, re-encoded, declared once with <meta charset> and
// once with the http-equiv form. They are written under `originalDir` (the
// overlay folder of the original variant) beside the page they come from,
// so that they find its style sheets and scripts.
function makeWindows1252Pages(pages, originalDir) {
  // Pages whose body holds characters that windows-1252 has as bytes.
  const inWindows1252 = /[\u00a0-\u00ff\u2013\u2014\u2018\u2019\u201c\u201d\u2026\u20ac]/;
  const sources = pages.filter((p) => {
    if (!p.features.nonAscii || p.features.charset !== 'utf-8') return false;
    const text = fs.readFileSync(p.file, 'utf8');
    const body = text.slice(Math.max(0, text.search(/<body/i)));
    return /<meta charset="utf-8">/i.test(text.slice(0, 4096)) && inWindows1252.test(body);
  });
  const made = [];
  evenlySpaced(sources, windows1252Count).forEach((source, index) => {
    const text = fs.readFileSync(source.file, 'utf8');
    const declaration = index % 2 === 0 ? '<meta charset="windows-1252">'
      : '<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">';
    const converted = text.replace(/<meta charset="utf-8">/i, declaration);
    const rel = source.path.replace(/\.html?$/i, '.windows-1252.html');
    const file = path.join(originalDir, source.mount, rel);
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, encodeWindows1252(converted));
    made.push({ mount: source.mount, path: rel, file, generated: true,
      features: features(fs.readFileSync(file, 'latin1')) });
  });
  return made;
}

// A summary of what the corpus holds, for the report and for the test's
// own check that every kind of page is there.
function summarise(pages) {
  const count = (predicate) => pages.filter(predicate).length;
  return {
    pages: pages.length,
    installed: count((p) => !p.generated),
    tables: count((p) => p.features.table),
    scripts: count((p) => p.features.script),
    forms: count((p) => p.features.form),
    nonAscii: count((p) => p.features.nonAscii),
    utf8: count((p) => p.features.charset === 'utf-8'),
    windows1252: count((p) => p.features.charset === 'windows-1252'),
    windows1252NonAscii: count((p) => p.features.charset === 'windows-1252' && p.features.nonAscii),
  };
}

module.exports = { pickPages, makeWindows1252Pages, summarise, features, declaredCharset,
  encodeWindows1252 };
