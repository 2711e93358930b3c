// The browser test's own helpers, which decide what the browser is shown
// and what counts as a difference: run by CTest with node's test runner.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const corpus = require('./corpus');
const server = require('./server');
const causes = require('./causes');

test('charset declarations as browsers name them', () => {
  const table = [
    ['<meta charset="utf-8">', 'utf-8'],
    ['<meta charset=UTF8>', 'utf-8'],
    ['<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=ISO-8859-1">', 'windows-1252'],
    ["<meta charset='us-ascii'>", 'windows-1252'],
    ['<meta charset="windows-1252">', 'windows-1252'],
    ['<meta charset="koi8-r">', 'koi8-r'],
    ['<meta name="viewport" content="width=device-width">', ''],
    [' '.repeat(5000) + '<meta charset="utf-8">', ''], // past the part a browser reads
  ];
  for (const [head, wanted] of table)
    assert.strictEqual(corpus.declaredCharset(`<html><head>${head}</head>`), wanted, head);
});

test('windows-1252 encoding keeps every character, as a byte or a reference', () => {
  const table = [
    ['plain', [0x70, 0x6c, 0x61, 0x69, 0x6e]],
    ['é€–', [0xe9, 0x80, 0x96]],
    ['東', Buffer.from('&#26481;', 'latin1')],
    ['😀', Buffer.from('&#128512;', 'latin1')],
  ];
  for (const [text, bytes] of table)
    assert.deepStrictEqual([...corpus.encodeWindows1252(text)], [...bytes], text);
});

test('page features are read from the body', () => {
  const f = corpus.features('<html><head><script>x</script><meta charset="utf-8"></head>' +
    '<body><table><tr><td>\xe9</table><form></form></body>');
  assert.deepStrictEqual(f, { table: true, script: false, form: true, nonAscii: true,
    charset: 'utf-8' });
});

test('the server serves the overlay first and never leaves its folders', () => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrix-server-test-'));
  try {
    const docs = path.join(root, 'docs');
    const overlay = path.join(root, 'overlay');
    for (const [file, text] of [[`${docs}/a/page.html`, 'installed'],
      [`${overlay}/level2/rust/a/page.html`, 'secured'],
      [`${overlay}/original/rust/a/made.html`, 'generated'], [`${root}/secret`, 'x']]) {
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, text);
    }
    const mounts = { rust: docs };
    const table = [
      ['/original/rust/a/page.html', `${docs}/a/page.html`],
      ['/level2/rust/a/page.html', `${overlay}/level2/rust/a/page.html`],
      ['/level3/rust/a/page.html', `${docs}/a/page.html`],
      ['/level2/rust/a/made.html', `${overlay}/original/rust/a/made.html`],
      ['/original/rust/a/missing.html', null],
      ['/original/rust/../../secret', null],
      ['/original/rust/%2e%2e/%2e%2e/secret', null],
      ['/original/other/a/page.html', null],
      ['/original/rust', null],
      ['/original/rust/a/%E0%A4%A', null],
    ];
    for (const [url, wanted] of table)
      assert.strictEqual(server.resolve(mounts, overlay, url), wanted, url);
    // A variant's request for a shared file goes to the original's copy.
    fs.writeFileSync(`${docs}/a/style.css`, 'p {}');
    fs.writeFileSync(`${docs}/a/café.css`, 'p {}');
    fs.writeFileSync(`${overlay}/level2/rust/a/own.js`, '');
    const shared = [
      ['/level2/rust/a/style.css?v=1', '/original/rust/a/style.css?v=1'],
      ['/original/rust/a/style.css', null],
      ['/level2/rust/a/page.html', null],
      ['/level3/rust/a/page.html', null],
      ['/level2/rust/a/own.js', null],
      ['/level3/rust/a/caf%C3%A9.css', '/original/rust/a/caf%C3%A9.css'],
    ];
    for (const [address, wanted] of shared) {
      const url = new URL(address, 'http://127.0.0.1');
      const file = server.resolve(mounts, overlay, url.pathname);
      assert.strictEqual(file && server.sharedAddress(overlay, url, file), wanted, address);
    }
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});

test('only differences in measured lengths are put down to the page measuring itself', () => {
  const line = (style) => `7 div class="ace_scroller" style="${style}"`;
  const render = (style, text = 'same') => ({ text, structure: ['0 p', line(style)] });
  const base = render('left: 49.7999px; right: 0px;');
  const table = [
    [render('left: 50px; right: 0px;'), true],
    [render('left: 50px; right: 0px;', 'other text'), false],
    [render('left: 50px; top: 0px;'), false],
    [{ text: 'same', structure: ['0 p', '7 span style="left: 50px; right: 0px;"'] }, false],
    [{ text: 'same', structure: ['0 p'] }, false],
  ];
  for (const [secured, recognised] of table)
    assert.strictEqual(Boolean(causes.explain({}, base, secured, {})), recognised,
      JSON.stringify(secured));
  assert.match(causes.explain({}, base, base, { unstable: true }), /from one load to the next/);
});

test('layout differences are put down to a flex body, an editor or a transition only', () => {
  const moved = (n, element, shift, size) => ({ moved: n, elements: 100,
    first: { element }, largestShift: shift, largestElement: size });
  const table = [
    ['flex', moved(40, '1 main', 900, 900), /flex container/],
    ['block', moved(4, '14 div', 5, 29), /transition/],
    ['block', moved(2, '7 div class="ace_scroller"', 1, 600), /code editor/],
    ['block', moved(1, '3 p', 40, 500), /^$/],
    ['block', moved(1, '14 div', 16, 28), /transition/],
    ['block', moved(1, '3 div', 30, 29), /^$/],
    ['block', moved(1, '3 div', 4, 41), /^$/],
  ];
  for (const [bodyDisplay, layout, wanted] of table)
    assert.match(causes.explainLayout({ bodyDisplay }, layout), wanted, JSON.stringify(layout));
});

test('UTF-8 shown as windows-1252 is recognised, and only that', () => {
  const table = [
    ['verskille tussen lÃªers', 'verskille tussen lêers'],
    ['Ã¢â‚¬â€œ', 'â€“'],
    ['GrÃ¼ÃŸe â€“ æ\u009d±äº¬', 'Grüße – 東京'],
    ['no-break\u00a0space, lÃªers', 'no-break\u00a0space, lêers'],
    ['plain', 'plain'],
    ['lêers', 'lêers'], // already the characters
    ['Ã', 'Ã'], // a lead byte alone
  ];
  for (const [shown, meant] of table) assert.strictEqual(causes.readAsUtf8(shown), meant, shown);
  const render = (text) => ({ text, structure: [] });
  assert.match(causes.explain({}, render('lÃªers'), render('lêers'), { kind: 'text' }),
    /declares no charset/);
  assert.strictEqual(causes.explain({}, render('lÃªers'), render('lÃªers!'), { kind: 'text' }), '');
  assert.strictEqual(causes.explain({}, render('lêers'), render('lÃªers'), { kind: 'text' }), '');
});

test('the native decoder and the browser are compared unit for unit', () => {
  const decoder = require('./decoder');
  assert.strictEqual(decoder.difference('abc\u00e9', 'abc\u00e9'), null);
  assert.strictEqual(decoder.difference('abc\u00e9', 'abc\u00c3\u00a9').at, 3);
  assert.strictEqual(decoder.difference('ab', 'abc').at, 2);
  // Lone surrogates survive the UTF-16LE files the decoder writes.
  assert.strictEqual(Buffer.from([0x3d, 0xd8, 0x41, 0x00]).toString('utf16le'), '\ud83dA');
});
