// What the test reads from a page in the browser. These functions run inside
// the page (page.evaluate), so they use nothing from Node.
'use strict';

// The body as a visitor sees it: its visible text, and its element tree as
// one line per element ("depth tag attributes"), with the elements that
// securing adds set aside: the script marker with the access script in it
// (dropped whole), the content marker (its children take its place) and the
// loader scripts (dropped). Beside each line the element's box on the page
// (left, top, width, height in whole pixels), and the body's display (a
// flex or grid body lays out its children itself). Also the time until the
// load event ended.
function renderedBody() {
  const lines = [];
  const boxes = [];
  const loader = /^\s*p8Rfhjqh="/;
  function visit(element, depth) {
    for (const child of element.children) {
      const tag = child.localName;
      if (tag === 'kestrix-script') continue;
      if (tag === 'script' && loader.test(child.text)) continue;
      if (tag === 'kestrix-content') {
        visit(child, depth);
        continue;
      }
      const attributes = Array.from(child.attributes, (a) => `${a.name}=${JSON.stringify(a.value)}`)
        .sort().join(' ');
      lines.push(`${depth} ${tag}${attributes ? ' ' + attributes : ''}`);
      const box = child.getBoundingClientRect();
      boxes.push([box.left + window.scrollX, box.top + window.scrollY, box.width, box.height]
        .map(Math.round));
      visit(child, depth + 1);
    }
  }
  // Transitions and animations still running (a fold arrow turning) are
  // taken to their end, so that boxes are not caught between two frames.
  for (const animation of document.getAnimations()) {
    try {
      animation.finish();
    } catch {
      // an endless animation has no end to go to
    }
  }
  // Where a box inside the page is scrolled to (a sidebar that a script
  // scrolls to the current chapter) depends on when that script ran, not on
  // the layout: every scrolled box goes back to its start, at once, before
  // the boxes are measured.
  for (const element of document.querySelectorAll('*')) {
    if (element.scrollTop || element.scrollLeft)
      element.scrollTo({ top: 0, left: 0, behavior: 'instant' });
  }
  const body = document.body;
  if (body) visit(body, 0);
  const navigation = performance.getEntriesByType('navigation')[0];
  return {
    text: body ? body.innerText : '',
    structure: lines,
    boxes,
    bodyDisplay: body ? getComputedStyle(body).display : '',
    charset: document.characterSet,
    loadMs: navigation ? navigation.loadEventEnd : -1,
    markers: document.getElementsByTagName('kestrix-content').length,
    // What the loaders wrote (decoder.js records it): how many wrote, and
    // the text of the innermost.
    loaderWrites: (window.__kestrixLoaderWrites || []).length,
    innermost: (window.__kestrixLoaderWrites || []).slice(-1)[0] ?? null,
  };
}

// Records whether the events that the access script refuses were seen and
// refused: a listener on the window runs after the page's own handlers on
// the document, so it sees their verdict.
function watchRefusals() {
  window.__refusals = {};
  for (const type of ['contextmenu', 'selectstart', 'dragstart']) {
    window.addEventListener(type, (event) => {
      const seen = window.__refusals[type] || { fired: 0, refused: 0 };
      seen.fired += 1;
      if (event.defaultPrevented) seen.refused += 1;
      window.__refusals[type] = seen;
    });
  }
}

// The box of the first line of visible plain text (not in a link or a
// control) that the mouse can reach at its middle, or null. The text is
// scrolled into the middle of the window first.
function textTarget() {
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const text = node.data;
    const start = text.search(/\S/);
    if (start < 0 || text.length - start < 24) continue;
    const parent = node.parentElement;
    if (!parent || parent.closest('a,button,input,select,textarea,script,style,pre,code,label'))
      continue;
    const range = document.createRange();
    range.setStart(node, start);
    range.setEnd(node, start + 20);
    if (!range.getClientRects()[0]) continue;
    parent.scrollIntoView({ block: 'center', inline: 'nearest' });
    const box = range.getClientRects()[0];
    if (!box || box.width < 40 || box.top < 0 || box.left < 0 ||
        box.bottom > window.innerHeight || box.right > window.innerWidth)
      continue;
    const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
    if (hit !== parent) continue;
    return { x: box.left, y: box.top, width: box.width, height: box.height };
  }
  return null;
}

// The box of the first visible link that the mouse can reach, or null.
function linkTarget() {
  for (const link of document.querySelectorAll('a[href]')) {
    const box = link.getBoundingClientRect();
    if (box.width < 20 || box.height < 8 || box.top < 0 || box.left < 0 ||
        box.bottom > window.innerHeight || box.right > window.innerWidth)
      continue;
    const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
    if (!hit || hit.closest('a') !== link) continue;
    return { x: box.left, y: box.top, width: box.width, height: box.height };
  }
  return null;
}

module.exports = { renderedBody, watchRefusals, textTarget, linkTarget };
