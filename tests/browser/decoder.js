// The program's own decoder against the browser: the content that the
// innermost loader of a secured page writes in Chromium must be exactly,
// code unit for code unit, what the native decoder (DecodePages, built with
// the program) reads back from the same file.
'use strict';
const fs = require('fs');
const path = require('path');
const { execFile } = require('child_process');

// Runs inside every page before its own scripts: records each text that a
// loader hands to document.write. A loader writes its global `t`, the text
// it has just rebuilt, while its scrambled string `p8Rfhjqh` is set; the
// page's own writes are left out. The outermost loader writes first, the
// innermost (the content itself) last.
function recordLoaderWrites() {
  const write = Document.prototype.write;
  window.__kestrixLoaderWrites = [];
  Document.prototype.write = function (...parts) {
    const text = parts.join('');
    if (typeof window.p8Rfhjqh === 'string' && window.t === text)
      window.__kestrixLoaderWrites.push(text);
    return write.apply(this, parts);
  };
}

// Reads every secured file back with the native decoder in one run: a map
// from the file to { text } or { problem }.
function decodeAll(decoder, files, work) {
  const folder = fs.mkdtempSync(path.join(work, 'decoded-'));
  const outputs = files.map((_, i) => path.join(folder, `${i}.utf16`));
  const list = path.join(folder, 'list');
  fs.writeFileSync(list, files.map((f, i) => `${f}\t${outputs[i]}\n`).join(''));
  return new Promise((resolve, reject) => {
    execFile(decoder, [list], { maxBuffer: 1 << 24 }, (error, stdout) => {
      if (error && error.code !== 1) {
        reject(new Error(`${path.basename(decoder)}: ${error.message}`));
        return;
      }
      const problems = new Map();
      for (const line of stdout.split('\n').filter(Boolean)) {
        const at = line.lastIndexOf(': ');
        problems.set(line.slice(0, at), line.slice(at + 2));
      }
      const decoded = new Map();
      files.forEach((file, i) => {
        decoded.set(file, problems.has(file) ? { problem: problems.get(file) }
          : { text: fs.readFileSync(outputs[i]).toString('utf16le') });
      });
      fs.rmSync(folder, { recursive: true, force: true });
      resolve(decoded);
    });
  });
}

// Where the browser's text and the native decoder's first differ, or null.
function difference(browser, native) {
  if (browser === native) return null;
  let at = 0;
  while (at < browser.length && at < native.length && browser[at] === native[at]) ++at;
  return { at, browserLength: browser.length, nativeLength: native.length,
    browser: browser.slice(Math.max(0, at - 20), at + 40),
    native: native.slice(Math.max(0, at - 20), at + 40) };
}

module.exports = { recordLoaderWrites, decodeAll, difference };
