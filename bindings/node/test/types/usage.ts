// Compiled (not run) by types.test.js: the declarations accept the package's
// real uses and refuse the mistakes marked @ts-expect-error.
import express = require('express');
import vantoro = require('vantoro');
import protectMiddleware = require('vantoro/middleware');

const page: string = vantoro.protect('<p>x</p>', { copyright: 'Example Site', decoy: 'both' });
const bytes: Buffer = vantoro.protectPage(Buffer.from('<p>x</p>'));
const view: Buffer = vantoro.protectContent(new Uint8Array(4), { copyright: 'x', markId: 5n });
const protector = new vantoro.Protector({ copyright: 'Example Site', siteKey: 'k', hide: 'layered' });
protector.markId = 5;
const id: bigint = protector.markId;
const later: Promise<Buffer> = protector.protectAsync(bytes, { markId: 2n ** 63n });
const found = vantoro.trace(page, 'k');
if (found !== null) console.log(found.id + 1n, found.agreeing / found.seen);
try {
  protector.charset = 'GBK';
} catch (error) {
  if (error instanceof vantoro.VantoroError) console.log(error.status, error.code, error.errno);
}
const verdict: vantoro.Verdict = new vantoro.Policy().judge(200, 'text/html', null, null);

const app = express();
app.use(protectMiddleware({
  copyright: 'Example Site',
  maxSize: 1 << 20,
  onMark: (req, markId) => console.log(req.url, markId.toString(16)),
  bypass: (req) => req.headers['x-crawler'] === '1',
  logger: console,
}));
app.use(vantoro.middleware({ copyright: 'Example Site', passes: 'content' }));
app.get('/', (req, res) => res.send(String(req.vantoroMarkId)));

// @ts-expect-error numbers are not texts
vantoro.protect(42);
// @ts-expect-error unknown decoy kind
vantoro.protect('<p>', { decoy: 'loud' });
// @ts-expect-error options are spelled in camelCase
vantoro.protect('<p>', { site_key: 'k' });
// @ts-expect-error a string gives a string
const wrong: Buffer = vantoro.protect('<p>');
// @ts-expect-error the page pass takes no mark id
protector.protectPage('<p>', { markId: 1n });
// @ts-expect-error the mark id is drawn per request
protectMiddleware({ copyright: 'x', markId: 1n });

console.log(view, id, later, verdict, wrong);
