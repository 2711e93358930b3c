// Pages made for the test, each showing one thing a page may do that
// securing could disturb, with what the browser is expected to show: the
// same rendering as the original, or a difference, and why (and for some,
// whether every element keeps its place on the page). A case whose
// outcome is not the expected one fails the test, so a change in what
// securing does to such pages is noticed and the table of docs/browser-proof.md
// (and the README's summary of it) kept true.
'use strict';
const fs = require('fs');
const path = require('path');

const page = (body, head = '') =>
  `<!DOCTYPE html>\n<html><head><meta charset="utf-8"><title>Case</title>${head}</head>\n` +
  `<body>\n${body}\n</body></html>\n`;

const cases = [
  {
    name: 'script-writes-with-document-write',
    html: page('<p>Before</p><script>document.write("<p id=\\"w\\">Written by the page</p>")' +
      '</script><p>After</p>'),
    expect: 'same',
    why: 'a script of the body that calls document.write runs while the loader\'s own ' +
      'document.write is being parsed, and writes at the same place',
  },
  {
    name: 'defer-and-async-scripts',
    html: page('<p>Body</p><script defer src="defer.js"></script>' +
      '<script async src="async.js"></script><p id="last">Last</p>'),
    files: {
      'defer.js': 'document.getElementById("last").insertAdjacentHTML("afterend",' +
        ' "<p>Deferred script ran</p>");',
      'async.js': 'document.body.insertAdjacentHTML("beforeend", "<p>Async script ran</p>");',
    },
    expect: 'same',
    why: 'scripts that the loader writes are inserted by the parser like the original ' +
      'ones, so defer still waits for the end of parsing and async still runs when loaded',
  },
  {
    name: 'current-script-and-noscript',
    html: page('<noscript><p>Turn on JavaScript</p></noscript><script>' +
      'document.currentScript.insertAdjacentHTML("afterend", "<p>After the script</p>")' +
      '</script><p>End</p>'),
    expect: 'same',
    why: 'document.currentScript is the page\'s own script in the written content too',
  },
  {
    name: 'unclosed-elements-and-forms',
    html: page('<form action="#"><label>Name <input name="n" value="Zoë"></label>' +
      '<select name="s"><option>Un<option selected>Deux</select>' +
      '<textarea name="t">Text</textarea></form><table><tr><td>One<td>Two' +
      '<tr><td>Three<td>Four</table><div><p>Open paragraph<ul><li>Item<li>Item'),
    expect: 'same',
    why: 'the end tags the page leaves out are implied the same way inside the content ' +
      'marker',
  },
  {
    name: 'undeclared-utf-8',
    html: Buffer.from('<!DOCTYPE html>\n<html><head><title>Case</title></head>\n<body>\n' +
      '<p>Grüße aus Köln – naïve café, 東京</p>\n</body></html>\n', 'utf8'),
    expect: 'differs',
    why: 'a page that declares no charset: securing reads valid UTF-8 as UTF-8 and the ' +
      'loader writes those characters, while the browser shows the original in its ' +
      'fallback charset (windows-1252), as mojibake; declaring the charset avoids it',
  },
  {
    name: 'undeclared-windows-1252',
    html: Buffer.from('<!DOCTYPE html>\n<html><head><title>Case</title></head>\n<body>\n' +
      '<p>Gr\xfc\xdfe aus K\xf6ln \x96 na\xefve caf\xe9 \x80 5</p>\n</body></html>\n', 'latin1'),
    expect: 'same',
    why: 'bytes that are not UTF-8 are read as windows-1252, as the browser reads them',
  },
  {
    name: 'script-counts-body-children',
    html: page('<p>First</p><script>document.write("<p>The body has " + ' +
      'document.body.children.length + " elements</p>")</script>'),
    expect: 'differs',
    why: 'a script that looks at the body\'s own children finds the content marker and ' +
      'the loader scripts around the content',
  },
  {
    name: 'style-selects-children-of-body',
    html: page('<div class="note">Shown</div><div class="hidden">Hidden by a style</div>',
      '<style>body > .hidden { display: none }</style>'),
    expect: 'differs',
    why: 'style rules that select children of the body ("body > .x") no longer apply: ' +
      'the content\'s elements are children of the content marker',
  },
  {
    name: 'flex-body',
    html: page('<nav>Contents</nav><main><h1>Title</h1><p>Text</p></main>',
      '<style>body { display: flex } nav { width: 200px } main { flex: 1 }</style>'),
    expect: 'same',
    layout: 'differs',
    why: 'a body laid out as flex or grid places its children side by side; on the ' +
      'secured page they are children of the content marker, which the body lays out ' +
      'as one item, so the page falls into one column',
  },
  {
    name: 'flex-body-with-markers-as-contents',
    html: page('<nav>Contents</nav><main><h1>Title</h1><p>Text</p></main>',
      '<style>body { display: flex } nav { width: 200px } main { flex: 1 }\n' +
      'kestrix-content, kestrix-script { display: contents }</style>'),
    expect: 'same',
    layout: 'same',
    why: 'with "kestrix-content, kestrix-script { display: contents }" in its style the ' +
      'page keeps its layout: the markers then generate no box of their own',
  },
  {
    name: 'body-end-tag-inside-a-script',
    html: page('<p>Before</p><script>var closing = "</body>";</script><p>After</p>'),
    expect: 'same',
    why: 'securing splits the page at the first "</body" even inside a script, but the ' +
      'text after it, left in clear, completes the written script',
  },
];

// Writes the cases under `folder` (the original variant's "cases" mount)
// and returns them as corpus pages.
function writeCases(folder) {
  fs.mkdirSync(folder, { recursive: true });
  return cases.map((c) => {
    const file = path.join(folder, `${c.name}.html`);
    fs.writeFileSync(file, c.html);
    for (const [name, text] of Object.entries(c.files || {}))
      fs.writeFileSync(path.join(folder, name), text);
    return { mount: 'cases', path: `${c.name}.html`, file, generated: true, case: c };
  });
}

module.exports = { cases, writeCases };
