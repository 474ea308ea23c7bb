// Harvests protected copies of pages as programs with a real browser do, in
// headless Chromium, and as programs without one do, with Readability over
// jsdom, and tells for each check whether the copyright notice came along (or,
// for the accessibility tree and the screenshots, stayed out of sight).
//
// Usage: node harvest.mjs BROWSER DIR NAME...
// DIR holds, for each page NAME, the copies (a missing one fails its checks):
//   NAME.orig.html     the saved page
//   NAME.layered.html  protected the default way, with the test's key and id
//   NAME.otherkey.html the same with another key
//   NAME.style.html    protected with --hide style
//   NAME.class.html    protected with --hide class, the stylesheet linked
// and the site's stylesheet vantoro.css. Prints one line per page, copy and check:
//   NAME COPY CHECK pass|fail|none [WHY]      (none: the check found nothing to judge)
// and leaves, for the checks of the marks, in DIR:
//   NAME.COPY.innertext.txt  document.body.innerText (orig, layered, otherkey)
//   NAME.layered.article.txt the article Readability takes in the browser, else the innerText
// With VANTORO_KEEP_SHOTS=DIR the screenshots of a page that renders differently are kept there.
import { chromium } from 'playwright-core';
import { JSDOM, VirtualConsole } from 'jsdom';
import { Readability } from '@mozilla/readability';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [browserPath, dir, ...names] = process.argv.slice(2);
if (!browserPath || !dir || names.length === 0) {
  console.error('usage: node harvest.mjs BROWSER DIR NAME...');
  process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const readabilityJs = path.join(here, 'node_modules/@mozilla/readability/Readability.js');
const NOTICE = 'Example Site';
const NOTICE_PARTS = ['Example Site', 'All rights reserved'];
const WIDTHS = [375, 1024, 1600];
const MAIN_WIDTH = 1024; // where the text is taken
const INFO_COPIES = ['style', 'class'];
const tabs = Math.max(1, Math.min(Number(process.env.VANTORO_BROWSER_TABS) || 2 * os.availableParallelism(), 4));

const exists = (file) => fs.existsSync(path.join(dir, file));
const say = (name, copy, check, verdict, why = '') =>
  console.log(`${name} ${copy} ${check} ${verdict}${why ? ` ${why.replace(/\s+/g, ' ')}` : ''}`);

// One server for every page: Chromium takes them over HTTP, as from a site.
const types = { '.html': 'text/html; charset=utf-8', '.css': 'text/css' };
const server = http.createServer((req, res) => {
  const file = path.join(dir, path.basename(decodeURIComponent(new URL(req.url, 'http://x').pathname)));
  fs.readFile(file, (err, body) => {
    if (err) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream',
                         'Cache-Control': 'no-store' });
    res.end(body);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const origin = `http://127.0.0.1:${server.address().port}`;

const browser = await chromium.launch({
  executablePath: browserPath,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--hide-scrollbars', '--font-render-hinting=none',
         // No name but the test server's resolves, so nothing waits on the network.
         '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'],
  timeout: 60_000,
});

async function newContext(width) {
  const context = await browser.newContext({
    viewport: { width, height: 900 },
    deviceScaleFactor: 1,
    serviceWorkers: 'block',
  });
  await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin });
  // The saved pages point at the whole web: the resolver rules above fail every
  // name but the test server's, at no cost per request, unlike a route.
  return context;
}

async function open(context, file) {
  const page = await context.newPage();
  try {
    await page.goto(`${origin}/${file}`, { waitUntil: 'load', timeout: 30_000 });
  } catch (e) {
    // A page whose load event never comes is still taken as it stands.
    if (!String(e).includes('Timeout')) {
      await page.close();
      throw e;
    }
  }
  await page.evaluate(() => document.fonts.ready);
  return page;
}

// Animations stopped and no caret: all that moves on a loaded page but its scripts.
const screenshot = (page) =>
  page.screenshot({ fullPage: true, animations: 'disabled', caret: 'hide', timeout: 60_000 });

const innerText = (page) => page.evaluate(() => (document.body ? document.body.innerText : ''));

// What a reader gets by selecting everything and copying it. Headless Chromium
// keeps a clipboard of its own, so the copy is a real one (Ctrl+C through the
// editing commands) and is read back through the page's clipboard.
async function clipboardCopy(page) {
  await page.evaluate(() => {
    document.activeElement?.blur?.();
    window.getSelection()?.removeAllRanges();
    return navigator.clipboard.writeText('');
  });
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Control+C');
  return page.evaluate(() => navigator.clipboard.readText());
}

// Readability as an extension or a scraper runs it in the browser: on a copy of
// the live, styled document.
async function readabilityInPage(page) {
  await page.addScriptTag({ path: readabilityJs });
  return page.evaluate(() => {
    const article = new Readability(document.cloneNode(true)).parse();
    return article && article.textContent ? article.textContent : null;
  });
}

// Names in the accessibility tree that hold a part of the notice; the nodes
// marked ignored too, to be strict.
async function noticeNames(context, page) {
  const cdp = await context.newCDPSession(page);
  try {
    await cdp.send('Accessibility.enable');
    const { nodes } = await cdp.send('Accessibility.getFullAXTree');
    return nodes.map((n) => String(n.name?.value ?? ''))
      .filter((n) => NOTICE_PARTS.some((part) => n.includes(part)));
  } finally {
    await cdp.detach();
  }
}

const shots = new Map(); // `${name} ${copy} ${width}` -> [png...]
const keep = (name, copy, width, png) => {
  const key = `${name} ${copy} ${width}`;
  if (!shots.has(key)) shots.set(key, []);
  shots.get(key).push(png);
};
const results = []; // lines, printed once all is done
const put = (...line) => results.push(line);
const axNames = new Map(); // `${name} ${copy}` -> names holding a part of the notice
const save = (file, text) => fs.writeFileSync(path.join(dir, file), text);

// The clipboard is the browser's, one for all tabs: one copy at a time.
let clipboardTurn = Promise.resolve();
const withClipboard = (fn) => {
  const run = clipboardTurn.then(fn);
  clipboardTurn = run.catch(() => {});
  return run;
};

// Loads one copy at one width and takes from it what the checks need.
async function visit(context, width, name, copy) {
  const page = await open(context, `${name}.${copy}.html`);
  try {
    // Taken first, before anything is selected or focused.
    if (copy === 'orig' || copy === 'layered') keep(name, copy, width, await screenshot(page));
    if (width !== MAIN_WIDTH) return;
    const text = await innerText(page);
    if (copy === 'orig' || copy === 'otherkey') {
      save(`${name}.${copy}.innertext.txt`, text);
      if (copy === 'orig') axNames.set(`${name} orig`, await noticeNames(context, page));
      return;
    }
    put(name, copy, 'innertext', text.includes(NOTICE) ? 'pass' : 'fail');
    const copied = await withClipboard(() => clipboardCopy(page));
    put(name, copy, 'clipboard', copied.includes(NOTICE) ? 'pass' : 'fail',
        copied ? '' : 'the clipboard is empty');
    const article = await readabilityInPage(page);
    put(name, copy, 'readability-chromium',
        article === null ? 'none' : article.includes(NOTICE) ? 'pass' : 'fail');
    if (copy === 'layered') {
      save(`${name}.layered.innertext.txt`, text);
      save(`${name}.layered.article.txt`, article ?? text);
      axNames.set(`${name} layered`, await noticeNames(context, page));
    }
  } finally {
    await page.close();
  }
}

const jobs = [];
for (const name of names) {
  for (const width of WIDTHS) jobs.push([width, name, 'orig'], [width, name, 'layered']);
  jobs.push([MAIN_WIDTH, name, 'otherkey']);
  for (const copy of INFO_COPIES) jobs.push([MAIN_WIDTH, name, copy]);
}
for (const [width, name, copy] of jobs) {
  if (width !== MAIN_WIDTH || exists(`${name}.${copy}.html`)) continue;
  if (copy === 'layered' || INFO_COPIES.includes(copy)) {
    for (const check of ['innertext', 'clipboard', 'readability-chromium'])
      put(name, copy, check, 'fail', 'no protected copy');
  }
  if (copy === 'layered') put(name, copy, 'a11y', 'fail', 'no protected copy');
}
const started = Date.now();
const seconds = (since) => Math.round((Date.now() - since) / 1000);
const loads = jobs.length;
// One context per width; a few tabs at once, as many pages wait more than they work.
const contexts = new Map();
for (const width of WIDTHS) contexts.set(width, await newContext(width));
await Promise.all(Array.from({ length: Math.min(tabs, jobs.length) }, async () => {
  for (let job; (job = jobs.shift()) !== undefined;) {
    const [width, name, copy] = job;
    if (exists(`${name}.${copy}.html`)) await visit(contexts.get(width), width, name, copy);
  }
}));
for (const context of contexts.values()) await context.close();
console.error(`harvest.mjs: ${loads} page loads in ${seconds(started)} s`);

// A page may have an "All rights reserved" of its own: more nodes named with a
// part of the notice than in the original is what fails.
for (const name of names) {
  const mine = axNames.get(`${name} layered`), theirs = axNames.get(`${name} orig`);
  if (!mine || !theirs) {
    if (exists(`${name}.layered.html`)) put(name, 'layered', 'a11y', 'fail', 'no accessibility tree');
    continue;
  }
  const count = (list, part) => list.filter((n) => n.includes(part)).length;
  const more = NOTICE_PARTS.filter((part) => count(mine, part) > count(theirs, part));
  const example = mine.find((n) => !theirs.includes(n)) ?? mine[0];
  put(name, 'layered', 'a11y', more.length ? 'fail' : 'pass', more.length
    ? more.map((part) => `${count(mine, part)} nodes named with "${part}" (the original: ${count(theirs, part)})`)
      .join(', ') + `, e.g. "${example.slice(0, 80)}"`
    : '');
}

async function shoot(context, width, name, copies) {
  for (const copy of copies) {
    if (!exists(`${name}.${copy}.html`)) continue;
    const page = await open(context, `${name}.${copy}.html`);
    try {
      keep(name, copy, width, await screenshot(page));
    } finally {
      await page.close();
    }
  }
}

// A browser under load now and then paints a frame differently; a difference
// that the markup causes comes back every time. So a mismatching pair is taken
// again, alone, and any equal pair among the takes counts: three times, or once
// where the sizes differ, as a layout that differs seldom comes and goes.
const same = (name, width) => {
  const a = shots.get(`${name} orig ${width}`) ?? [], b = shots.get(`${name} layered ${width}`) ?? [];
  return b.some((x) => a.some((y) => x.equals(y)));
};
const size = (png) => `${png.readUInt32BE(16)}x${png.readUInt32BE(20)}`;
let retaken = 0;
const retakesStarted = Date.now();
for (const name of names) {
  if (!exists(`${name}.layered.html`)) {
    put(name, 'layered', 'screenshots', 'fail', 'no protected copy');
    continue;
  }
  const differ = [];
  for (const width of WIDTHS) {
    const first = [shots.get(`${name} orig ${width}`)?.[0], shots.get(`${name} layered ${width}`)?.[0]];
    const takes = first.every(Boolean) && size(first[0]) !== size(first[1]) ? 1 : 3;
    for (let tries = 0; !same(name, width) && tries < takes; tries++) {
      retaken++;
      const context = await newContext(width);
      try {
        await shoot(context, width, name, ['orig', 'layered']);
      } finally {
        await context.close();
      }
    }
    if (!same(name, width)) {
      const a = shots.get(`${name} orig ${width}`)[0], b = shots.get(`${name} layered ${width}`)[0];
      differ.push(`${width}px (${size(a)} vs ${size(b)})`);
      const into = process.env.VANTORO_KEEP_SHOTS;
      if (into) {
        fs.mkdirSync(into, { recursive: true });
        fs.writeFileSync(`${into}/${name}.${width}.orig.png`, a);
        fs.writeFileSync(`${into}/${name}.${width}.layered.png`, b);
      }
    }
  }
  put(name, 'layered', 'screenshots', differ.length ? 'fail' : 'pass',
      differ.length ? `renders differently at ${differ.join(', ')}` : '');
}
await browser.close();
server.close();
console.error(`harvest.mjs: ${retaken} screenshot pairs taken again in ${seconds(retakesStarted)} s`);
const jsdomStarted = Date.now();

// Readability over jsdom: no stylesheets, no scripts, as a scraper without a
// browser runs it.
for (const name of names) {
  for (const copy of ['layered', ...INFO_COPIES]) {
    if (!exists(`${name}.${copy}.html`)) {
      put(name, copy, 'readability-jsdom', 'fail', 'no protected copy');
      continue;
    }
    const html = fs.readFileSync(path.join(dir, `${name}.${copy}.html`), 'utf8');
    // Quiet: the saved pages' CSS is not all jsdom's to parse.
    const dom = new JSDOM(html, { url: `${origin}/${name}.html`, virtualConsole: new VirtualConsole() });
    const article = new Readability(dom.window.document).parse();
    put(name, copy, 'readability-jsdom', !article || !article.textContent ? 'none'
      : article.textContent.includes(NOTICE) ? 'pass' : 'fail');
    dom.window.close();
  }
}

console.error(`harvest.mjs: Readability over jsdom in ${seconds(jsdomStarted)} s`);
for (const line of results) say(...line);
say('-', 'layered', 'retaken', retaken);
