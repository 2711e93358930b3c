// Why a secured page renders differently from its original, where the test
// can tell. A difference with a recognised cause is reported with it (and
// not counted as a failure); any other difference fails the test.
'use strict';

// Splits a structure line ("depth tag attributes") into its tag and its
// attributes, the style attribute apart.
function parseLine(line) {
  const m = /^(\d+ \S+)(.*)$/.exec(line || '');
  if (!m) return { head: line, style: '', rest: '' };
  let rest = m[2];
  let style = '';
  rest = rest.replace(/ style=("(?:[^"\\]|\\.)*")/, (all, value) => {
    style = JSON.parse(value);
    return '';
  });
  return { head: m[1], style, rest };
}

// Two style texts that differ only in the numbers they hold: sizes and
// positions a script computed from the layout.
function differOnlyInLengths(a, b) {
  const shape = (style) => style.replace(/-?\d+(\.\d+)?/g, '#');
  return a !== b && shape(a) === shape(b);
}

// The characters of windows-1252 from 0x80 to 0x9F (the bytes it leaves
// unassigned read as the control character of the same value).
const windows1252High = '\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160' +
  '\u2039\u0152\u008d\u017d\u008f\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc' +
  '\u2122\u0161\u203a\u0153\u009d\u017e\u0178';

// The text with every sequence of characters that is UTF-8 read as
// windows-1252 turned back into the character it encodes; other
// characters (a no-break space, say) stay as they are.
function readAsUtf8(text) {
  const chars = [...text];
  const byteOf = (ch) => {
    const code = ch.codePointAt(0);
    if (code < 0x80 || (code >= 0xa0 && code <= 0xff)) return code;
    const high = windows1252High.indexOf(ch);
    return high >= 0 ? 0x80 + high : -1;
  };
  const decoder = new TextDecoder('utf-8', { fatal: true });
  let out = '';
  for (let i = 0; i < chars.length;) {
    const lead = byteOf(chars[i]);
    const length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 1;
    if (length > 1 && i + length <= chars.length) {
      const bytes = chars.slice(i, i + length).map(byteOf);
      if (bytes.slice(1).every((b) => b >= 0x80 && b <= 0xbf)) {
        try {
          out += decoder.decode(Uint8Array.from(bytes));
          i += length;
          continue;
        } catch {
          // not a whole sequence: the character stays
        }
      }
    }
    out += chars[i];
    i += 1;
  }
  return out;
}

// The cause of a difference, or '' when the test does not recognise it.
function explain(page, original, secured, diff) {
  if (diff.unstable)
    return 'the original itself renders differently from one load to the next';
  if (diff.kind === 'text' && readAsUtf8(original.text) === secured.text &&
      original.structure.join('\n') === secured.structure.join('\n'))
    return 'the page is UTF-8 but declares no charset: the browser shows the original in ' +
      'windows-1252 (mojibake such as "lÃªers"), while securing reads the bytes as UTF-8 ' +
      'and the secured page shows "lêers"';
  if (original.text === secured.text && original.structure.length === secured.structure.length) {
    let lengthsOnly = true;
    for (let i = 0; i < original.structure.length && lengthsOnly; ++i) {
      const a = original.structure[i];
      const b = secured.structure[i];
      if (a === b) continue;
      const pa = parseLine(a);
      const pb = parseLine(b);
      lengthsOnly = pa.head === pb.head && pa.rest === pb.rest &&
        differOnlyInLengths(pa.style, pb.style);
    }
    if (lengthsOnly)
      return 'a script of the page measures the layout while the page loads and writes ' +
        'the sizes into style attributes (a code editor: "left: 50px" against ' +
        '"left: 49.7999px"); the web fonts arrive at a different moment relative to it';
  }
  return '';
}

// Why elements stand elsewhere on a secured page whose text and tree are
// the same, or '' when the test cannot tell.
function explainLayout(original, layout) {
  if (/^(inline-)?(flex|grid)$/.test(original.bodyDisplay))
    return `the page's style makes the body a ${original.bodyDisplay} container, which lays ` +
      'out its own children side by side; on the secured page its only child is the ' +
      'content marker';
  if (layout.first && /ace_/.test(layout.first.element))
    return 'a code editor sized from measurements taken while the page loads';
  if (layout.largestElement <= 40 && layout.largestShift <= layout.largestElement)
    return 'small elements caught in the middle of a style transition (the fold arrows of ' +
      'the table of contents turning): their boxes change from one frame to the next';
  return '';
}

module.exports = { explain, explainLayout, parseLine, differOnlyInLengths, readAsUtf8 };
