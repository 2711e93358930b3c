// Runs the loaders of a secured page as a browser would and compares the
// text they finally write with the characters of the page's original body.
//   node decode_layers.js SECURED_PAGE EXPECTED_TEXT_UTF8
// Prints "OK" and the number of layers when the characters match.
'use strict';
const fs = require('fs');
const [securedPath, expectedPath] = process.argv.slice(2);
const secured = fs.readFileSync(securedPath, 'latin1');
const expected = fs.readFileSync(expectedPath, 'utf8');

const open = secured.indexOf('<kestrix-content settings="');
const start = secured.indexOf('">', open) + 2;
const end = secured.indexOf('</kestrix-content>');
if (open < 0 || end < start) {
  console.log('no content element');
  process.exit(1);
}
let html = secured.slice(start, end);
let layers = 0;
// Each layer is one script element; what it writes is parsed and run next.
while (html.startsWith('<SCRIPT>') && html.endsWith('</SCRIPT>')) {
  const code = html.slice('<SCRIPT>'.length, -'</SCRIPT>'.length);
  let written = '';
  globalThis.document = { write: (t) => { written += t; } };
  (0, eval)(code); // global scope, as a script element runs
  html = written;
  layers++;
}
if (html !== expected) {
  console.log(`mismatch after ${layers} layers`);
  for (let i = 0; i < Math.max(html.length, expected.length); i++) {
    if (html[i] !== expected[i]) {
      console.log(`first difference at ${i}: got U+${(html.charCodeAt(i) || 0).toString(16)}` +
                  ` expected U+${(expected.charCodeAt(i) || 0).toString(16)}`);
      break;
    }
  }
  process.exit(1);
}
console.log(`OK ${layers}`);
