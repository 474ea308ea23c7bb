'use strict';
// The middleware in a real Express application on 127.0.0.1, asked over HTTP.
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const test = require('node:test');
const zlib = require('node:zlib');
const compression = require('compression');
const express = require('express');
const vantoro = require('..');
const protectMiddleware = require('vantoro/middleware');
const { listen, request, articlePage } = require('./helpers.js');

const COPYRIGHT = 'Example Site:All rights reserved';
const PAGE = articlePage();

// Errors and reasons the middleware logs, per test.
function recorder() {
  const lines = { error: [], debug: [] };
  return { lines, logger: { error: (m) => lines.error.push(m), debug: (m) => lines.debug.push(m) } };
}

function assertProtected(response, original = PAGE) {
  assert.equal(response.status, 200);
  assert.ok(vantoro.isProtected(response.body), 'the page pass ran');
  assert.ok(response.body.includes('Example Site'), 'the notices are in');
  assert.notDeepEqual(response.body, Buffer.from(original));
  assert.equal(Number(response.headers['content-length']), response.body.length);
  // The passes change markup, not text: every sentence is still there.
  for (const sentence of original.match(/The \d+th bed[^.]*\./g)) assert.ok(response.body.includes(sentence), sentence);
}

// The application most tests share: pages sent the ways applications send them.
function routes(app, staticDir) {
  app.get('/page', (req, res) => res.send(PAGE));
  app.use('/static', express.static(staticDir));
  app.get('/stream', (req, res) => {
    res.writeHead(200, [['Content-Type', 'text/html'], ['Last-Modified', 'Tue, 01 Dec 2026 10:00:00 GMT']]);
    // Strings, and one buffer refilled once each write is done, as streams do.
    const parts = PAGE.match(/[^]{1,500}/g);
    const scratch = Buffer.alloc(500);
    let i = 0;
    const next = () => {
      const part = parts[i++];
      if (i === parts.length) return res.end(part);
      const done = () => setImmediate(next);
      return i % 2 ? res.write(part, 'utf8', done) : res.write(scratch.subarray(0, scratch.write(part)), done);
    };
    next();
  });
  // The same with a Uint8Array that is no Buffer, refilled once each write is done.
  app.get('/stream-typed', (req, res) => {
    res.type('html');
    const parts = PAGE.match(/[^]{1,500}/g);
    const scratch = new Uint8Array(500);
    const encoder = new TextEncoder();
    let i = 0;
    const next = () => {
      const part = parts[i++];
      if (i === parts.length) return res.end(part);
      return res.write(scratch.subarray(0, encoder.encodeInto(part, scratch).written), () => setImmediate(next));
    };
    next();
  });
  // Trailers declared, added after the body and sent after it.
  app.get('/trailers', (req, res) => {
    res.setHeader('Content-Type', 'text/html');
    res.setHeader('Trailer', 'Server-Timing');
    res.write(PAGE);
    res.addTrailers({ 'Server-Timing': 'app;dur=12' });
    res.end();
  });
  // writeHead's header array replaces the headers of the same names set before.
  app.get('/replaced', (req, res) => {
    res.setHeader('Content-Type', 'text/plain');
    res.setHeader('Set-Cookie', 'old=0');
    res.setHeader('X-Earlier', 'kept');
    res.writeHead(200, ['Content-Type', 'text/html', 'Content-Length', String(Buffer.byteLength(PAGE)),
      'Set-Cookie', 'a=1', 'Set-Cookie', 'b=2']);
    res.end(PAGE);
  });
  // Ended again: the second end's callback is told when the response finishes,
  // a third end's chunk is refused.
  app.get('/twice', (req, res) => {
    res.type('html').end(PAGE);
    req.app.locals.secondEnd = new Promise((resolve) => res.end(() => resolve('called')));
    req.app.locals.lateChunk = new Promise((resolve) => res.end('more', (error) => resolve(error && error.code)));
  });
  app.get('/gzip', (req, res) => {
    res.set({ 'Content-Type': 'text/html', 'Content-Encoding': 'gzip' }).send(zlib.gzipSync(PAGE));
  });
  app.get('/no-transform', (req, res) => res.set('Cache-Control', 'public, no-transform').type('html').send(PAGE));
  app.get('/json', (req, res) => res.json({ page: PAGE }));
  app.get('/missing', (req, res) => res.status(404).send(PAGE));
  app.get('/empty', (req, res) => res.type('html').end());
  // What an application that honours these headers itself would leak.
  app.get('/asks', (req, res) => {
    if (/gzip/.test(req.headers['accept-encoding'] || '')) {
      return res.set('Content-Encoding', 'gzip').type('html').send(zlib.gzipSync(PAGE));
    }
    const range = /bytes=(\d+)-(\d+)/.exec(req.headers.range || '');
    if (range) {
      res.status(206).set('Content-Range', `bytes ${range[1]}-${range[2]}/${PAGE.length}`).type('html');
      return res.send(PAGE.slice(Number(range[1]), Number(range[2]) + 1));
    }
    return res.json({ seen: req.rawHeaders.filter((_, i) => i % 2 === 0).map((name) => name.toLowerCase()) });
  });
  app.get('/utf16', (req, res) => {
    res.type('html').send(Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(PAGE, 'utf16le')]));
  });
}

test('Express: which responses are protected, and their headers', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vantoro-static-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.writeFileSync(path.join(dir, 'page.html'), PAGE);
  const log = recorder();
  const app = express();
  app.use(protectMiddleware({ copyright: COPYRIGHT, debug: true, logger: log.logger, tdmReservation: true }));
  routes(app, dir);
  const server = await listen(app);
  t.after(server.close);
  const get = (url, options) => request(server.port, url, options);

  await t.test('a page sent whole: protected, its length right, its ETag weak', async () => {
    const response = await get('/page');
    assertProtected(response);
    assert.match(response.headers['content-type'], /^text\/html/);
    assert.equal(response.headers['x-vantoro-status'], 'protected');
    assert.equal(response.headers['tdm-reservation'], '1');
    assert.match(response.headers.etag, /^W\//);
    assert.notDeepEqual((await get('/page')).body, response.body, 'each response is marked anew');
  });

  await t.test('a static file: Last-Modified and Accept-Ranges dropped, then 304 for its ETag', async () => {
    const response = await get('/static/page.html');
    assertProtected(response);
    assert.equal(response.headers['last-modified'], undefined);
    assert.equal(response.headers['accept-ranges'], undefined);
    const again = await get('/static/page.html', { headers: { 'If-None-Match': response.headers.etag } });
    assert.equal(again.status, 304);
    assert.equal(again.body.length, 0);
    assert.equal(again.headers['x-vantoro-status'], 'status');
  });

  await t.test('a page written in many chunks: held, protected whole', async () => {
    const response = await get('/stream');
    assertProtected(response);
    assert.equal(response.headers['last-modified'], undefined, 'headers given to writeHead are edited too');
  });

  await t.test('chunks in a Uint8Array that is no Buffer: copied when held, not read again later', async () => {
    assertProtected(await get('/stream-typed'));
  });

  await t.test('ended again while the page is protected: the callback told once the response finishes', async (t) => {
    assertProtected(await get('/twice'));
    let timer;
    const timeout = new Promise((resolve) => { timer = setTimeout(resolve, 2000, 'not called'); });
    t.after(() => clearTimeout(timer));
    assert.equal(await Promise.race([app.locals.secondEnd, timeout]), 'called');
    const lateChunk = await Promise.race([app.locals.lateChunk, timeout]);
    assert.equal(lateChunk, 'ERR_STREAM_WRITE_AFTER_END', 'a chunk is refused');
  });

  await t.test('writeHead with a header array: its headers replace those of the same names set before', async () => {
    const response = await get('/replaced');
    assertProtected(response);
    assert.equal(response.headers['content-type'], 'text/html');
    assert.equal(response.headers['x-vantoro-status'], 'protected');
    assert.deepEqual(response.headers['set-cookie'], ['a=1', 'b=2'], 'repeats within the array kept');
    assert.equal(response.headers['x-earlier'], 'kept');
  });

  await t.test('a page with trailers: sent chunked, without a length, and its trailers after it', async () => {
    const response = await get('/trailers');
    assert.equal(response.status, 200);
    assert.equal(response.headers['x-vantoro-status'], 'protected');
    assert.ok(vantoro.isProtected(response.body) && response.body.includes('Example Site'));
    assert.equal(response.headers['content-length'], undefined);
    assert.equal(response.headers['transfer-encoding'], 'chunked');
    assert.equal(response.headers.trailer, 'Server-Timing');
    assert.deepEqual(response.trailers, { 'server-timing': 'app;dur=12' });
  });

  await t.test('HEAD: the GET\'s headers without a length, and no body', async () => {
    const [getResponse, head] = [await get('/page'), await get('/page', { method: 'HEAD' })];
    assert.equal(head.status, 200);
    assert.equal(head.headers['content-length'], undefined);
    assert.equal(head.headers.etag, getResponse.headers.etag);
    assert.equal(head.headers['x-vantoro-status'], 'protected');
    const streamed = await get('/stream', { method: 'HEAD' });
    assert.equal(streamed.body.length, 0);
    assert.equal(streamed.headers['content-length'], undefined);
  });

  await t.test('a Range request gets the whole protected page with 200', async () => {
    const ranges = { Range: 'bytes=0-99', 'If-Range': '"x"', 'Request-Range': 'bytes=0-99' };
    for (const url of ['/static/page.html', '/asks']) {
      const response = await get(url, { headers: ranges });
      if (url === '/asks') {
        const { seen } = JSON.parse(response.body);
        assert.ok(!seen.some((name) => ['range', 'if-range', 'request-range'].includes(name)), seen.join());
        continue;
      }
      assertProtected(response);
      assert.equal(response.headers['content-range'], undefined);
    }
    const handmade = await get('/asks', { headers: { Range: 'bytes=0-99' } });
    assert.equal(handmade.status, 200, 'the application never saw the Range');
  });

  await t.test('Accept-Encoding never reaches the application', async () => {
    const response = await get('/asks', { headers: { 'Accept-Encoding': 'gzip, deflate, br' } });
    assert.equal(response.headers['content-encoding'], undefined);
    assert.deepEqual(JSON.parse(response.body).seen.filter((name) => name === 'accept-encoding'), []);
  });

  await t.test('encoded, no-transform, other types, other statuses, empty: exactly as sent', async () => {
    const cases = [
      ['/gzip', 'encoded', zlib.gzipSync(PAGE)],
      ['/no-transform', 'no_transform', Buffer.from(PAGE)],
      ['/json', 'type', Buffer.from(JSON.stringify({ page: PAGE }))],
      ['/missing', 'status', Buffer.from(PAGE)],
      ['/empty', 'empty', Buffer.alloc(0)],
    ];
    for (const [url, verdict, body] of cases) {
      const response = await get(url, { headers: { 'Accept-Encoding': 'gzip' } });
      assert.equal(response.headers['x-vantoro-status'], verdict, url);
      assert.deepEqual(response.body, body, url);
      assert.equal(response.headers['tdm-reservation'], undefined, url);
    }
    assert.deepEqual(zlib.gunzipSync((await get('/gzip')).body), Buffer.from(PAGE));
  });

  await t.test('an engine failure sends the original, and is logged', async () => {
    const response = await get('/utf16');
    assert.equal(response.headers['x-vantoro-status'], 'error');
    assert.deepEqual(response.body, Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(PAGE, 'utf16le')]));
    assert.equal(Number(response.headers['content-length']), response.body.length);
    assert.match(log.lines.error.join('\n'), /GET \/utf16: page sent unprotected/);
  });
});

test('size limit: a body over maxSize goes out unchanged, streamed or whole', async (t) => {
  const log = recorder();
  const app = express();
  app.use(protectMiddleware({ copyright: COPYRIGHT, maxSize: 2000, asyncMinSize: 0, logger: log.logger }));
  routes(app, os.tmpdir());
  app.get('/small', (req, res) => res.type('html').send('<p>small</p>'));
  const server = await listen(app);
  t.after(server.close);

  for (const url of ['/page', '/stream']) {
    const response = await request(server.port, url);
    assert.equal(response.body.toString(), PAGE, url);
    assert.match(log.lines.error.join('\n'), new RegExp(`GET ${url}: .*maxSize`));
  }
  // A HEAD with a length over maxSize gets the headers the GET gets: unchanged.
  const getResponse = await request(server.port, '/page');
  const head = await request(server.port, '/page', { method: 'HEAD' });
  assert.equal(head.headers['content-length'], String(Buffer.byteLength(PAGE)));
  assert.equal(head.headers.etag, getResponse.headers.etag);
  assert.match(log.lines.error.join('\n'), /HEAD \/page: .*maxSize/);
  assert.ok(vantoro.isProtected((await request(server.port, '/small')).body));
});

test('marks: each request its own id, told before the application runs and found in the copy', async (t) => {
  const told = [];
  const app = express();
  app.use(protectMiddleware({
    copyright: COPYRIGHT,
    siteKey: 'secret',
    asyncMinSize: 0, // on the thread pool: requests at once overlap
    onMark: (req, id) => told.push(id),
    bypass: (req) => req.headers['x-crawler'] === 'verified',
  }));
  app.get('/page', (req, res) => res.set('X-Mark', String(req.vantoroMarkId)).send(PAGE));
  const server = await listen(app);
  t.after(server.close);

  const first = await request(server.port, '/page');
  const second = await request(server.port, '/page');
  assert.deepEqual(told.map(String), [first.headers['x-mark'], second.headers['x-mark']]);
  assert.notEqual(told[0], told[1]);
  assert.equal(vantoro.trace(first.body, 'secret').id, told[0]);
  assert.equal(vantoro.trace(second.body, 'secret').id, told[1]);

  const crawler = await request(server.port, '/page', { headers: { 'X-Crawler': 'verified' } });
  assert.equal(crawler.body.toString(), PAGE);
  assert.equal(told.length, 2);

  // Requests at once share the middleware's protectors: each page keeps its own id.
  const responses = await Promise.all(Array.from({ length: 12 }, () => request(server.port, '/page')));
  for (const response of responses) {
    assert.equal(String(vantoro.trace(response.body, 'secret').id), response.headers['x-mark']);
  }
  assert.equal(new Set(responses.map((response) => response.headers['x-mark'])).size, 12);
});

test('compression: outside the middleware it compresses the protected page; inside it gets no chance', async (t) => {
  const app = express();
  app.use('/outer', compression({ threshold: 0 }));
  app.use(protectMiddleware({ copyright: COPYRIGHT }));
  app.use('/inner', compression({ threshold: 0 }));
  app.get(['/outer/page', '/inner/page'], (req, res) => res.send(PAGE));
  const server = await listen(app);
  t.after(server.close);
  const headers = { 'Accept-Encoding': 'gzip' };

  const outer = await request(server.port, '/outer/page', { headers });
  assert.equal(outer.headers['content-encoding'], 'gzip');
  const page = zlib.gunzipSync(outer.body);
  assert.ok(vantoro.isProtected(page) && page.includes('Example Site'));

  const inner = await request(server.port, '/inner/page', { headers });
  assert.equal(inner.headers['content-encoding'], undefined);
  assertProtected(inner);
});

test('options are checked when the middleware is made', () => {
  assert.throws(() => protectMiddleware({}), (e) => e.status === 'VANTORO_INVALID_ARGUMENT' && /copyright/.test(e.message));
  assert.doesNotThrow(() => protectMiddleware({ passes: 'page' }));
  assert.throws(() => protectMiddleware({ copyright: 'x', types: ['text/css'] }), vantoro.VantoroError);
  assert.throws(() => protectMiddleware({ copyright: 'x', passes: 'all' }), TypeError);
  assert.throws(() => protectMiddleware({ copyright: 'x', maxSize: -1 }), RangeError);
  assert.throws(() => protectMiddleware({ copyright: 'x', asyncMinSize: '1m' }), TypeError);
  assert.throws(() => protectMiddleware({ copyright: 'x', tdmPolicy: 'https://example.org/tdm' }), /tdmReservation/);
  assert.throws(() => protectMiddleware({ copyright: 'x', tdmReservation: true, tdmPolicy: 'a\r\nb' }), TypeError);
  assert.throws(() => protectMiddleware({ copyright: 'x', markId: 5 }), /unknown option "markId"/);
  assert.equal(typeof vantoro.middleware({ copyright: 'x' }), 'function');
});
