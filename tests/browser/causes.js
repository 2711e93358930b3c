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

// The cause of a difference, or '' when the test does not recognise it.
function explain(page, original, secured, diff) {
  if (diff.unstable)
    return 'the original itself renders differently from one load to the next';
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
  if (layout.moved <= 2 && layout.first &&
      layout.first.original.every((v, k) => Math.abs(v - layout.first.secured[k]) <= 8))
    return 'an element caught in the middle of a style transition (the fold arrow of the ' +
      'table of contents turning): its box changes from one frame to the next';
  return '';
}

module.exports = { explain, explainLayout, parseLine, differOnlyInLengths };
