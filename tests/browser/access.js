// The access script in the browser: pages secured with every access switch
// on, and with each switch in turn off, and what a visitor meets on them.
'use strict';
const fs = require('fs');
const path = require('path');
const probes = require('./probes');

const switches = ['RightClicking', 'Selection', 'DragAndDrop', 'StatusBar', 'ScriptErrors',
  'BreakOutOfFrames', 'Printing', 'Offline'];

// The effects checked, each with the switch that makes it.
const effects = [
  { name: 'context menu refused', switch: 'RightClicking', check: contextMenuRefused },
  { name: 'selection start refused', switch: 'Selection', check: selectionRefused },
  { name: 'drag start refused', switch: 'DragAndDrop', check: dragRefused },
  { name: 'breaks out of a same-origin frame', switch: 'BreakOutOfFrames', check: leavesFrame },
  { name: 'leaves a file:// address', switch: 'Offline', check: leavesFileAddress },
];

// A settings file as 'kestrix-cli settings' writes it, with the switches
// named in `on` checked.
function settingsText(on) {
  const lines = ['[FormEncryptionOptions]', 'ComboBoxDepthLevel.ItemIndex=2'];
  for (const name of switches) lines.push(`CheckBox${name}.Checked=${on.includes(name) ? 1 : 0}`);
  return lines.join('\n') + '\n';
}

// A page of the test's own: plain text to select and a link to drag, far
// from the edges.
const fixture = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Access fixture</title>
<style>body{font:16px sans-serif;margin:40px}p{width:600px}</style></head>
<body><h1>Opening hours</h1>
<p id="text">The reading room opens at nine and closes at five, except on public holidays.</p>
<p><a id="link" href="#hours">Hours in winter</a></p>
<p>Überschrift, café, naïve: text beyond ASCII.</p>
</body></html>
`;

// Secures the access pages: the fixture and the first book page and first
// API page of the corpus, with every switch on ("access-all") and with each
// checked switch off ("access-no-NAME"); writes a frame page per variant.
async function prepare({ overlay, work, env, cli, pages, run }) {
  const fixturePage = { mount: 'fixture', path: 'access.html',
    file: path.join(overlay, 'original', 'fixture', 'access.html') };
  fs.mkdirSync(path.dirname(fixturePage.file), { recursive: true });
  fs.writeFileSync(fixturePage.file, fixture);
  const chosen = [fixturePage];
  // A book page and an API page with prose to select and click on.
  for (const pattern of [/^book\/ch\d/, /^std\/.*\/struct\./]) {
    const page = pages.find((p) => p.mount === 'rust' && pattern.test(p.path) && !p.generated);
    if (page) chosen.push(page);
  }
  const variants = [{ name: 'access-all', on: switches }];
  for (const effect of effects)
    variants.push({ name: `access-no-${effect.switch}`, on: switches.filter((s) => s !== effect.switch) });
  const settingsFolder = path.join(work, 'settings');
  fs.mkdirSync(settingsFolder, { recursive: true });
  for (const variant of variants) {
    const file = path.join(settingsFolder, `${variant.name}.ini`);
    fs.writeFileSync(file, settingsText(variant.on));
    for (const page of chosen) {
      const out = path.join(overlay, variant.name, page.mount, page.path);
      fs.mkdirSync(path.dirname(out), { recursive: true });
      await run(cli, ['page', '-e', '-a', '--defaults', '--settings', file, '--level', '2',
        '--output', out, page.file], env);
    }
  }
  return { overlay, pages: chosen, variants };
}

function pageUrl(origin, variant, page) {
  return `${origin}/${variant}/${page.mount}/${page.path.split('/').map(encodeURIComponent).join('/')}`;
}

// Loads a page and waits until its tree has been still for a moment.
async function open(page, url) {
  await page.goto(url, { waitUntil: 'load', timeout: 30000 });
  await page.evaluate(() => document.fonts.ready);
  await page.waitForTimeout(100);
  await page.evaluate(probes.watchRefusals);
}

async function contextMenuRefused(page, url) {
  await open(page, url);
  const target = await page.evaluate(probes.textTarget);
  if (!target) return { measured: false, detail: 'no visible text to click on' };
  await page.mouse.click(target.x + target.width / 2, target.y + target.height / 2,
    { button: 'right' });
  const seen = await page.evaluate(() => window.__refusals.contextmenu || { fired: 0, refused: 0 });
  return { measured: seen.fired > 0, observed: seen.refused > 0,
    detail: `contextmenu fired ${seen.fired}, refused ${seen.refused}` };
}

async function selectionRefused(page, url) {
  await open(page, url);
  const target = await page.evaluate(probes.textTarget);
  if (!target) return { measured: false, detail: 'no visible text to select' };
  const y = target.y + target.height / 2;
  await page.mouse.move(target.x + 1, y);
  await page.mouse.down();
  await page.mouse.move(target.x + target.width - 1, y, { steps: 8 });
  await page.mouse.up();
  await page.waitForTimeout(50);
  const state = await page.evaluate(() => ({ text: String(window.getSelection()),
    seen: window.__refusals.selectstart || { fired: 0, refused: 0 } }));
  return { measured: state.seen.fired > 0,
    observed: state.seen.refused > 0 && state.text.trim() === '',
    detail: `selectstart fired ${state.seen.fired}, refused ${state.seen.refused}, ` +
      `selected ${JSON.stringify(state.text.slice(0, 40))}` };
}

async function dragRefused(page, url) {
  await open(page, url);
  const target = await page.evaluate(probes.linkTarget);
  if (!target) return { measured: false, detail: 'no visible link to drag' };
  const x = target.x + target.width / 2;
  const y = target.y + target.height / 2;
  await page.mouse.move(x, y);
  await page.mouse.down();
  await page.mouse.move(x + 60, y + 40, { steps: 10 });
  await page.mouse.up();
  const seen = await page.evaluate(() => window.__refusals.dragstart || { fired: 0, refused: 0 });
  return { measured: seen.fired > 0, observed: seen.refused > 0,
    detail: `dragstart fired ${seen.fired}, refused ${seen.refused}` };
}

// The variant's page inside an iframe of a page of the same origin: with
// the switch the whole window shows the page itself.
async function leavesFrame(page, url, { origin, overlay, variant, index }) {
  const name = `${variant}-${index}.html`;
  const file = path.join(overlay, 'original', 'frames', name);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  const framed = new URL(url).pathname;
  fs.writeFileSync(file, `<!DOCTYPE html><html><head><title>Frame</title></head><body>` +
    `<iframe src="${framed}" width="800" height="600"></iframe></body></html>`);
  const frameUrl = `${origin}/original/frames/${name}`;
  try {
    await page.goto(frameUrl, { waitUntil: 'load', timeout: 30000 });
  } catch (error) {
    // A break-out interrupts the frame page's own navigation.
    if (!/interrupted|aborted/i.test(String(error))) throw error;
  }
  let left = page.url() === url;
  if (!left) {
    try {
      await page.waitForURL(url, { timeout: 2000 });
      left = true;
    } catch {
      left = false;
    }
  }
  let measured = left;
  let detail = `the window shows ${page.url()}`;
  if (!left) {
    const frame = page.frames().find((f) => f.url() === url);
    const body = frame ? await frame.evaluate(() => document.body.innerText.length) : 0;
    measured = body > 0;
    detail += frame ? `; the framed page shows ${body} characters` : '; the frame did not load';
  }
  return { measured, observed: left, detail };
}

// The variant's page opened from its file: with the switch it goes
// elsewhere.
async function leavesFileAddress(page, url, { overlay, variant, target }) {
  const file = path.join(overlay, variant, target.mount, target.path);
  const fileUrl = `file://${file.split(path.sep).map(encodeURIComponent).join('/')}`;
  try {
    await page.goto(fileUrl, { waitUntil: 'load', timeout: 30000 });
  } catch (error) {
    if (!/interrupted|aborted/i.test(String(error))) throw error;
  }
  const deadline = Date.now() + 2000;
  while (page.url().startsWith('file:') && Date.now() < deadline) await page.waitForTimeout(50);
  const left = !page.url().startsWith('file:');
  let measured = left;
  let detail = `the window shows ${page.url()}`;
  if (!left) {
    const shown = await page.evaluate(() => ({ text: document.body.innerText.length,
      markers: document.getElementsByTagName('kestrix-content').length }));
    measured = shown.text > 0 && shown.markers > 0;
    detail += `; the page shows ${shown.text} characters`;
  }
  return { measured, observed: left, detail };
}

// Runs every effect on every access page: with every switch on the effect
// must show, without its switch it must not; either way the event or the
// navigation must have been seen, so a check cannot pass by measuring
// nothing. Each check has a context of its own; `pool` runs them `jobs` at
// a time (the checks without the switch wait out a timeout), and the
// results keep the order of the checks.
async function checkEffects(browser, origin, setup, pool, jobs) {
  const checks = [];
  for (const effect of effects) {
    for (const [index, target] of setup.pages.entries()) {
      for (const [variant, expected] of [['access-all', true], [`access-no-${effect.switch}`, false]])
        checks.push({ effect, index, target, variant, expected });
    }
  }
  const results = new Array(checks.length);
  await pool(checks, jobs, async ({ effect, index, target, variant, expected }, at) => {
    const url = pageUrl(origin, variant, target);
    const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
    let outcome;
    try {
      const page = await context.newPage();
      outcome = await effect.check(page, url,
        { origin, overlay: setup.overlay, variant, index, target });
    } catch (error) {
      outcome = { measured: false, observed: false, detail: String(error.message).split('\n')[0] };
    } finally {
      await context.close();
    }
    results[at] = { effect: effect.name, page: `${target.mount}/${target.path}`, variant,
      expected, ok: outcome.measured && outcome.observed === expected, detail: outcome.detail };
  });
  return results;
}

module.exports = { prepare, checkEffects, settingsText, effects };
