// Secured pages in a real browser. Every page of the corpus is secured at
// levels 1 to 4 with kestrix-cli, and Chromium (headless, driven through
// the DevTools protocol) renders the original and each secured page, served
// from 127.0.0.1: the body's visible text and its element tree (without the
// elements that securing adds) must come out the same. Pages secured with
// every access switch on must refuse the context menu, the start of a
// selection and the start of a drag, break out of a frame and leave a
// file:// address; without the switch concerned each effect is absent. The
// content that the innermost loader writes must be exactly what the
// program's native decoder (--decoder, DecodePages) reads back from the file.
//
//   node browser_test.js --cli PATH --decoder PATH [--report DIR] [--jobs N]
//                        [--chromium PATH]
//
// Prints a line per failure, a summary, and "N passed, N failed, N skipped";
// exits 1 when anything failed.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFile, execFileSync } = require('child_process');
const { chromium } = require('playwright-core');
const corpus = require('./corpus');
const server = require('./server');
const probes = require('./probes');
const access = require('./access');
const causes = require('./causes');
const cases = require('./cases');
const decoder = require('./decoder');

function parseArguments(argv) {
  const options = { jobs: 2, chromium: '/usr/bin/chromium', report: '', cli: '', decoder: '',
    casesOnly: false };
  for (let i = 0; i < argv.length; ++i) {
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`${argv[i]} needs a value`);
      return argv[++i];
    };
    switch (argv[i]) {
      case '--cli': options.cli = value(); break;
      case '--decoder': options.decoder = value(); break;
      case '--report': options.report = value(); break;
      case '--jobs': options.jobs = Math.max(1, Number(value()) || 1); break;
      case '--chromium': options.chromium = value(); break;
      case '--cases-only': options.casesOnly = true; break;
      default: throw new Error(`unknown argument ${argv[i]}`);
    }
  }
  if (!options.cli) throw new Error('--cli PATH is needed');
  if (!options.decoder) throw new Error('--decoder PATH is needed');
  return options;
}

// Runs `work` over the items, at most `jobs` at a time, in order of start;
// `work` is told which of the `jobs` workers runs it.
async function pool(items, jobs, work) {
  let next = 0;
  const worker = async (_, id) => {
    while (next < items.length) {
      const index = next++;
      await work(items[index], index, id);
    }
  };
  await Promise.all(Array.from({ length: Math.min(jobs, items.length) }, worker));
}

function run(program, args, env) {
  return new Promise((resolve, reject) => {
    execFile(program, args, { env, maxBuffer: 1 << 20 }, (error, stdout, stderr) => {
      if (error) reject(new Error(`${path.basename(program)} ${args.join(' ')}: ${stderr || error}`));
      else resolve(stdout);
    });
  });
}

// The Rust HTML documentation: where rustc says its toolchain is, else a
// toolchain that rustup installed, else Debian's rust-doc package.
function rustDocs() {
  if (process.env.KESTRIX_RUST_DOCS) return process.env.KESTRIX_RUST_DOCS;
  const candidates = [];
  try {
    const root = execFileSync('rustc', ['--print', 'sysroot'], { encoding: 'utf8' }).trim();
    candidates.push(path.join(root, 'share/doc/rust/html'));
  } catch {
    // no rustc on the PATH
  }
  const toolchains = path.join(os.homedir(), '.rustup', 'toolchains');
  try {
    for (const name of fs.readdirSync(toolchains).sort())
      candidates.push(path.join(toolchains, name, 'share/doc/rust/html'));
  } catch {
    // no rustup
  }
  candidates.push('/usr/share/doc/rust-doc/html');
  return candidates.find((dir) => fs.existsSync(path.join(dir, 'std'))) || '';
}

// The browser reaches nothing but the test's own server: pages that load
// style sheets, fonts or images from elsewhere get an error at once (the
// same for the original and the secured page), no name is looked up and
// no request leaves the machine: every host name fails to resolve, and
// anything not on the loopback address (which the browser never sends
// through a proxy) would go to a closed local port.
const browserArguments = ['--no-sandbox', '--disable-gpu', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1',
  '--proxy-server=127.0.0.1:9'];

function urlFor(origin, variant, page) {
  return `${origin}/${variant}/${page.mount}/${page.path.split('/').map(encodeURIComponent).join('/')}`;
}

// Waits until the page's fonts are in and its tree has been still for a
// moment (scripts of the page keep building it after the load event), at
// most two seconds.
function settle() {
  return document.fonts.ready.then(() => new Promise((resolve) => {
    let timer;
    const done = () => {
      observer.disconnect();
      resolve();
    };
    const observer = new MutationObserver(() => {
      clearTimeout(timer);
      timer = setTimeout(done, 60);
    });
    observer.observe(document, { subtree: true, childList: true, attributes: true,
      characterData: true });
    timer = setTimeout(done, 60);
    setTimeout(done, 2000);
  }));
}

// A browser tab that loads one page after the other. Its renderer process
// is kept from load to load (a fresh context per load costs twice the
// time); what a page keeps in the browser (storage, cookies) is cleared
// before every load, so that no load sees what an earlier one left.
async function openTab(browser) {
  const context = await browser.newContext();
  await context.addInitScript(decoder.recordLoaderWrites);
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  return { context, page, cdp };
}

// Where the loads spent their time, for the report.
const phases = { loads: 0, gotoMs: 0, settleMs: 0, probeMs: 0, settleCapped: 0 };

// What the tab runs after the load: waits for the page to settle, reads the
// rendered body and returns it as one JSON text, with the time the waiting
// took. One call instead of two, and one string instead of thousands of
// values for the DevTools protocol to wrap and unwrap: this halved the test
// process's own work per load.
const settleAndProbe = `(async () => {
  const t0 = performance.now();
  await (${settle})();
  const t1 = performance.now();
  const result = (${probes.renderedBody})();
  result.settleMs = t1 - t0;
  return JSON.stringify(result);
})()`;

// Loads one variant of a page and reads the rendered body.
async function render(tab, url, variant) {
  const origin = new URL(url).origin;
  await tab.cdp.send('Storage.clearDataForOrigin', { origin, storageTypes: 'all' });
  await tab.context.clearCookies();
  const t0 = Date.now();
  await tab.page.goto(url, { waitUntil: 'load', timeout: 30000 });
  const t1 = Date.now();
  const result = JSON.parse(await tab.page.evaluate(settleAndProbe));
  const t2 = Date.now();
  // A page whose script went to another address was probed there.
  result.left = tab.page.url().split('#')[0] !== url;
  phases.loads += 1;
  phases.gotoMs += t1 - t0;
  phases.settleMs += result.settleMs;
  phases.probeMs += t2 - t1 - result.settleMs;
  if (result.settleMs >= 1900) phases.settleCapped += 1;
  // Addresses that scripts of the page wrote out hold the variant's own
  // path segment; they are compared without it.
  const own = `${origin}/${variant}/`;
  result.structure = result.structure.map((line) => line.split(own).join('/VARIANT/'));
  result.text = result.text.split(own).join('/VARIANT/');
  return result;
}

// The first place where two renderings differ, for the report.
function difference(a, b) {
  if (a.text !== b.text) {
    let i = 0;
    while (i < a.text.length && a.text[i] === b.text[i]) ++i;
    return { kind: 'text', at: i, original: a.text.slice(Math.max(0, i - 30), i + 50),
      secured: b.text.slice(Math.max(0, i - 30), i + 50) };
  }
  const n = Math.max(a.structure.length, b.structure.length);
  for (let i = 0; i < n; ++i) {
    if (a.structure[i] !== b.structure[i])
      return { kind: 'structure', at: i, original: a.structure[i] || '(end)',
        secured: b.structure[i] || '(end)' };
  }
  return null;
}

// How many elements stand elsewhere on the secured page (by more than 3
// pixels in position or size), when both trees match; the first of them,
// the largest shift and the largest of the moved elements.
function layoutDifference(a, b) {
  if (a.structure.length !== b.structure.length) return null;
  let moved = 0;
  let first = null;
  let largestShift = 0;
  let largestElement = 0;
  for (let i = 0; i < a.boxes.length; ++i) {
    const shift = Math.max(...a.boxes[i].map((v, k) => Math.abs(v - b.boxes[i][k])));
    if (shift > 3) {
      if (!first) first = { element: a.structure[i], original: a.boxes[i], secured: b.boxes[i] };
      ++moved;
      largestShift = Math.max(largestShift, shift);
      largestElement = Math.max(largestElement, a.boxes[i][2], a.boxes[i][3], b.boxes[i][2],
        b.boxes[i][3]);
    }
  }
  return { moved, elements: a.boxes.length, first, largestShift, largestElement };
}

function median(values) {
  const sorted = values.filter((v) => Number.isFinite(v) && v >= 0).sort((x, y) => x - y);
  if (!sorted.length) return NaN;
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const started = Date.now();
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kestrix-browser-'));
  const overlay = path.join(work, 'overlay');
  const env = { ...process.env, XDG_CONFIG_HOME: path.join(work, 'config'), LANG: 'C.UTF-8' };
  const mounts = { rust: rustDocs(), doc: '/usr/share/doc' };
  const results = { comparisons: [], effects: [], decoder: [], failures: [], skipped: [] };
  let browser;
  let listening;
  try {
    // The corpus and its secured variants.
    const picked = options.casesOnly ? [] : corpus.pickPages(mounts);
    const corpusPages = picked.concat(
      corpus.makeWindows1252Pages(picked, path.join(overlay, 'original')));
    results.corpus = corpus.summarise(corpusPages);
    const pages = corpusPages.concat(cases.writeCases(path.join(overlay, 'original', 'cases')));
    const levels = [1, 2, 3, 4];
    const jobs = [];
    for (const page of pages) {
      for (const level of levels) jobs.push({ page, level });
    }
    await pool(jobs, options.jobs, async ({ page, level }) => {
      const out = path.join(overlay, `level${level}`, page.mount, page.path);
      fs.mkdirSync(path.dirname(out), { recursive: true });
      await run(options.cli, ['page', '-e', '--defaults', '--level', String(level), '--output',
        out, page.file], env);
    });
    process.stderr.write(`secured ${pages.length} pages at 4 levels\n`);
    const securedFile = (page, level) => path.join(overlay, `level${level}`, page.mount, page.path);
    const decoded = await decoder.decodeAll(options.decoder,
      jobs.map(({ page, level }) => securedFile(page, level)), work);
    const accessSetup = await access.prepare({ overlay, work, env, cli: options.cli, pages, run });
    const secured = Date.now();

    listening = await server.start(mounts, overlay);
    const origin = listening.origin;
    browser = await chromium.launch({ executablePath: options.chromium, headless: true,
      args: browserArguments });
    results.browser = browser.version();
    // One load before any that is measured, so that the first page measured
    // does not pay for the browser's own start.
    const tabs = [];
    for (let i = 0; i < options.jobs; ++i) tabs.push(await openTab(browser));
    await render(tabs[0], urlFor(origin, 'original', pages[0]), 'original');

    // The rendering comparison. The variants of one page load one after the
    // other, starting at a different one for each page, so that no variant
    // is always measured first.
    const variants = ['original', 'level1', 'level2', 'level3', 'level4'];
    let rendered = 0;
    await pool(pages, options.jobs, async (page, index, worker) => {
      const tab = tabs[worker];
      if (++rendered % 25 === 0)
        process.stderr.write(`rendering page ${rendered} of ${pages.length}\n`);
      const name = `${page.mount}/${page.path}`;
      const renders = {};
      try {
        for (let k = 0; k < variants.length; ++k) {
          const variant = variants[(index + k) % variants.length];
          renders[variant] = await render(tab, urlFor(origin, variant, page), variant);
        }
      } catch (error) {
        results.failures.push(`${name}: did not load: ${error.message.split('\n')[0]}`);
        return;
      }
      let originalAgain = null;
      for (const level of levels) {
        const variant = `level${level}`;
        let diff = difference(renders.original, renders[variant]);
        let secondLoad = false;
        if (diff) {
          // A second look before calling it a difference: the original
          // once more (does the page render the same twice?) and the
          // secured page once more.
          if (!originalAgain)
            originalAgain = await render(tab, urlFor(origin, 'original', page), 'original');
          const again = await render(tab, urlFor(origin, variant, page), variant);
          secondLoad = true;
          if (!difference(originalAgain, again) || !difference(renders.original, again))
            diff = null;
          else if (difference(renders.original, originalAgain))
            diff.unstable = true;
          else if (difference(renders[variant], again))
            diff.securedUnstable = true;
        }
        const record = { page: name, level, features: page.features, case: page.case,
          generated: Boolean(page.generated), same: !diff, diff, secondLoad,
          loadOriginal: renders.original.loadMs, loadSecured: renders[variant].loadMs,
          layout: layoutDifference(renders.original, renders[variant]),
          bodyDisplay: renders.original.bodyDisplay,
          charsetOriginal: renders.original.charset, charsetSecured: renders[variant].charset,
          decoded: renders[variant].markers > 0 };
        record.cause = diff && !page.case
          ? causes.explain(page, renders.original, renders[variant], diff) : '';
        record.layoutCause = record.layout && record.layout.moved
          ? causes.explainLayout(renders.original, record.layout) : '';
        results.comparisons.push(record);
        // The native decoder against what this load's innermost loader wrote.
        const native = decoded.get(securedFile(page, level));
        const written = renders[variant].innermost;
        results.decoder.push({ page: name, level, loaderWrites: renders[variant].loaderWrites,
          left: renders[variant].left,
          problem: native.problem || (written === null ? 'the browser wrote nothing' : ''),
          diff: native.problem || written === null ? null
            : decoder.difference(written, native.text) });
      }
    });

    const compared = Date.now();

    // The access script's effects.
    results.effects = await access.checkEffects(browser, origin, accessSetup, pool,
      options.jobs);
    const effectsDone = Date.now();
    results.timing = {
      securingSeconds: (secured - started) / 1000,
      renderingSeconds: (compared - secured) / 1000,
      effectsSeconds: (effectsDone - compared) / 1000,
      totalSeconds: (Date.now() - started) / 1000,
      phases,
    };
  } finally {
    if (browser) await browser.close();
    if (listening) listening.server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
  return { options, results };
}

// Tallies the checks: a comparison passes when the page renders the same,
// is skipped when it differs for a cause the test recognises (named in the
// report), and fails otherwise; an effect check passes or fails.
function tally(results, options) {
  let passed = 0;
  let failed = 0;
  let skipped = 0;
  for (const c of results.comparisons) {
    if (c.case) {
      const outcome = c.same ? 'same' : 'differs';
      const layout = c.layout && c.layout.moved === 0 ? 'same' : 'differs';
      if (c.case.layout && layout !== c.case.layout) {
        ++failed;
        results.failures.push(`${c.page} level ${c.level}: expected its layout to be ` +
          `${c.case.layout === 'same' ? 'the same' : 'different'}, but ${c.layout
            ? `${c.layout.moved} of ${c.layout.elements} elements moved` : 'its tree differs'}`);
      } else if (outcome === c.case.expect) {
        ++passed;
      } else {
        ++failed;
        results.failures.push(`${c.page} level ${c.level}: expected to render ` +
          `${c.case.expect === 'same' ? 'the same' : 'differently'}, but it ` +
          `${c.same ? 'renders the same' : `differs: ${JSON.stringify(c.diff)}`}`);
      }
    } else if (c.same) {
      ++passed;
    } else if (c.cause) {
      ++skipped;
      results.skipped.push(`${c.page} level ${c.level}: ${c.cause}`);
    } else {
      ++failed;
      results.failures.push(`${c.page} level ${c.level}: ${c.diff.kind} differs at ${c.diff.at}: ` +
        `${JSON.stringify(c.diff.original)} became ${JSON.stringify(c.diff.secured)}`);
    }
  }
  for (const d of results.decoder) {
    if (d.left) {
      ++skipped;
      results.skipped.push(`${d.page} level ${d.level}: the native decoder is not compared: ` +
        'a script of the page went to another address before it could be');
    } else if (!d.problem && !d.diff && d.loaderWrites === d.level) {
      ++passed;
    } else {
      ++failed;
      results.failures.push(`${d.page} level ${d.level}: the native decoder ` + (d.problem
        ? `and the browser disagree: ${d.problem}`
        : d.diff ? `differs from the browser's loaders at ${d.diff.at}: the browser wrote ` +
          `${JSON.stringify(d.diff.browser)}, the decoder read ${JSON.stringify(d.diff.native)}`
          : `read ${d.level} layers, the browser ran ${d.loaderWrites} loaders`));
    }
  }
  for (const e of results.effects) {
    if (e.ok) {
      ++passed;
    } else {
      ++failed;
      results.failures.push(`${e.page} ${e.variant}: ${e.effect} ${e.expected ? 'expected' : 'not expected'}: ${e.detail}`);
    }
  }
  // A page that did not load at all is a failure of its own.
  failed += results.failures.filter((f) => f.includes(': did not load: ')).length;
  const corpusFloor = options.casesOnly ? {} : { installed: 200, tables: 10, scripts: 10, forms: 5, nonAscii: 20, utf8: 20,
    windows1252NonAscii: 10 };
  for (const [key, floor] of Object.entries(corpusFloor)) {
    if (!(results.corpus[key] >= floor)) {
      ++failed;
      results.failures.push(`the corpus has ${results.corpus[key]} pages of kind ${key}, ` +
        `fewer than ${floor}`);
    }
  }
  return { passed, failed, skipped };
}

function report(results, counts) {
  const lines = [];
  const c = results.corpus;
  lines.push(`Chromium ${results.browser}; corpus: ${c.pages} pages (${c.installed} installed, ` +
    `${c.pages - c.installed} made from them in windows-1252; ${c.tables} with tables, ` +
    `${c.scripts} with scripts in the body, ${c.forms} with forms, ${c.nonAscii} with text ` +
    `beyond ASCII, ${c.utf8} UTF-8, ${c.windows1252} windows-1252 of which ` +
    `${c.windows1252NonAscii} with bytes above 127)`);
  lines.push('');
  lines.push('| level | pages | render the same | differ for a known cause | differ otherwise | ' +
    'lay out the same | load, original (median) | load, secured (median) | ' +
    'secured / original (median per page) |');
  lines.push('|---|---|---|---|---|---|---|---|---|');
  for (const level of [1, 2, 3, 4]) {
    const rows = results.comparisons.filter((r) => r.level === level && !r.case);
    const same = rows.filter((r) => r.same).length;
    const known = rows.filter((r) => !r.same && r.cause).length;
    const other = rows.length - same - known;
    const laidOut = rows.filter((r) => r.layout && r.layout.moved === 0).length;
    const original = median(rows.map((r) => r.loadOriginal));
    const secured = median(rows.map((r) => r.loadSecured));
    const ratio = median(rows.filter((r) => r.loadOriginal > 0)
      .map((r) => r.loadSecured / r.loadOriginal));
    lines.push(`| ${level} | ${rows.length} | ${same} | ${known} | ${other} | ${laidOut} | ` +
      `${original.toFixed(0)} ms | ${secured.toFixed(0)} ms | ${ratio.toFixed(2)} |`);
  }
  const layoutCauses = new Map();
  for (const r of results.comparisons.filter((x) => !x.case && x.layout && x.layout.moved)) {
    const key = r.layoutCause || 'not recognised';
    if (!layoutCauses.has(key)) layoutCauses.set(key, new Set());
    layoutCauses.get(key).add(r.page);
  }
  if (layoutCauses.size) {
    lines.push('');
    lines.push('| what lays out differently and why | pages |');
    lines.push('|---|---|');
    for (const [cause, set] of layoutCauses) {
      const list = [...set];
      lines.push(`| ${cause} | ${list.length}: ${list.slice(0, 4).join(', ')}` +
        `${list.length > 4 ? ', ...' : ''} |`);
    }
  }
  const causes = new Map();
  for (const r of results.comparisons.filter((x) => !x.same && !x.case)) {
    const key = r.cause || 'not recognised';
    if (!causes.has(key)) causes.set(key, new Set());
    causes.get(key).add(r.page);
  }
  if (causes.size) {
    lines.push('');
    lines.push('| what differs and why | pages |');
    lines.push('|---|---|');
    for (const [cause, set] of causes) {
      const list = [...set];
      lines.push(`| ${cause} | ${list.length}: ${list.slice(0, 4).join(', ')}` +
        `${list.length > 4 ? ', ...' : ''} |`);
    }
  }
  const caseNames = [...new Set(results.comparisons.filter((r) => r.case).map((r) => r.page))];
  if (caseNames.length) {
    lines.push('');
    lines.push('| page made for the test | levels 1 to 4 | layout | why |');
    lines.push('|---|---|---|---|');
    for (const name of caseNames) {
      const rows = results.comparisons.filter((r) => r.page === name);
      const shown = rows.map((r) => (r.same ? 'same' : 'differs'));
      const all = new Set(shown).size === 1 ? `${shown[0]} at every level` : shown.join(', ');
      const mark = rows.every((r) => (r.same ? 'same' : 'differs') === r.case.expect) ? ''
        : ` (expected: ${rows[0].case.expect})`;
      const laidOut = rows.every((r) => r.layout && r.layout.moved === 0) ? 'same'
        : `${rows.filter((r) => r.layout && r.layout.moved === 0).length} of 4 the same`;
      lines.push(`| ${path.basename(name, '.html')} | ${all}${mark} | ${laidOut} | ` +
        `${rows[0].case.why} |`);
    }
  }
  lines.push('');
  const agreed = results.decoder.filter((d) => !d.problem && !d.diff && d.loaderWrites === d.level);
  const stayed = results.decoder.filter((d) => !d.left);
  lines.push(`Native decoder: ${agreed.length} of ${stayed.length} secured pages ` +
    'read back to exactly what the browser\'s innermost loader wrote' +
    (stayed.length < results.decoder.length ? ` (${results.decoder.length - stayed.length} ` +
      'went to another address first and were not compared).' : '.'));
  lines.push('');
  lines.push('| access effect | with every switch on | without its switch |');
  lines.push('|---|---|---|');
  const effects = [...new Set(results.effects.map((e) => e.effect))];
  for (const effect of effects) {
    const rows = results.effects.filter((e) => e.effect === effect);
    const on = rows.filter((e) => e.expected);
    const off = rows.filter((e) => !e.expected);
    lines.push(`| ${effect} | ${on.filter((e) => e.ok).length} of ${on.length} pages show it | ` +
      `${off.filter((e) => e.ok).length} of ${off.length} pages do not |`);
  }
  lines.push('');
  lines.push(`Securing took ${results.timing.securingSeconds.toFixed(1)} s, the whole run ` +
    `${results.timing.totalSeconds.toFixed(1)} s; ${counts.passed} passed, ${counts.failed} ` +
    `failed, ${counts.skipped} skipped.`);
  return lines.join('\n');
}

main().then(({ options, results }) => {
  const counts = tally(results, options);
  const summary = report(results, counts);
  if (options.report) {
    fs.mkdirSync(options.report, { recursive: true });
    fs.writeFileSync(path.join(options.report, 'results.json'), JSON.stringify(results, null, 1));
    fs.writeFileSync(path.join(options.report, 'summary.md'), summary + '\n');
  }
  for (const failure of results.failures) console.log(`FAILED ${failure}`);
  for (const skip of results.skipped) console.log(`skipped ${skip}`);
  console.log(summary);
  console.log(`${counts.passed} passed, ${counts.failed} failed, ${counts.skipped} skipped`);
  process.exit(counts.failed ? 1 : 0);
}, (error) => {
  console.error(`browser test: ${error.stack || error}`);
  console.log('0 passed, 1 failed');
  process.exit(1);
});
