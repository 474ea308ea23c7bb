// Runs a reader-view text extractor (Readability over jsdom, no stylesheets, no
// scripts), as a harvesting program would, on protected copies of pages and
// tells whether the copyright notice came along in the extracted text.
//
// Usage: node extract.mjs DIR METHOD... -- NAME...
// reads DIR/NAME.METHOD.html for each pair; prints one line per page and method:
//   NAME METHOD kept|lost|none      (none: no article found)
import fs from 'node:fs';
import { JSDOM, VirtualConsole } from 'jsdom';
import { Readability } from '@mozilla/readability';

const args = process.argv.slice(2);
const cut = args.indexOf('--');
if (args.length < 4 || cut < 2 || cut === args.length - 1) {
  console.error('usage: node extract.mjs DIR METHOD... -- NAME...');
  process.exit(2);
}
const [dir, ...methods] = args.slice(0, cut);
const names = args.slice(cut + 1);

for (const name of names) {
  for (const method of methods) {
    const html = fs.readFileSync(`${dir}/${name}.${method}.html`, 'utf8');
    // Quiet: the saved pages' CSS is not all jsdom's to parse.
    const dom = new JSDOM(html, { url: `http://127.0.0.1/${name}.html`, virtualConsole: new VirtualConsole() });
    const article = new Readability(dom.window.document).parse();
    const verdict = !article || !article.textContent ? 'none'
      : article.textContent.includes('Example Site') ? 'kept' : 'lost';
    console.log(`${name} ${method} ${verdict}`);
    dom.window.close();
  }
}
