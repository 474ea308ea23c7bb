// Loads pages in headless Chromium and prints, as JSON, the text each page
// shows (document.body.innerText) and the stylesheets it loaded.
// Usage: node visible_text.mjs BROWSER URL...
import { chromium } from 'playwright-core';

const [browserPath, ...urls] = process.argv.slice(2);
if (!browserPath || urls.length === 0) {
  console.error('usage: node visible_text.mjs BROWSER URL...');
  process.exit(2);
}

const browser = await chromium.launch({
  executablePath: browserPath,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'],
  timeout: 60_000,
});
const result = {};
try {
  for (const url of urls) {
    const context = await browser.newContext({ serviceWorkers: 'block' });
    const page = await context.newPage();
    const stylesheets = [];
    page.on('response', (response) => {
      if (response.request().resourceType() === 'stylesheet') {
        stylesheets.push(`${response.status()} ${new URL(response.url()).pathname}`);
      }
    });
    const violations = [];
    page.on('console', (message) => {
      if (message.text().includes('Content Security Policy')) violations.push(message.text());
    });
    await page.goto(url, { waitUntil: 'load', timeout: 30_000 });
    const text = await page.evaluate(() => document.body.innerText);
    result[url] = { text, stylesheets, violations };
    await context.close();
  }
} finally {
  await browser.close();
}
console.log(JSON.stringify(result));
