'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const test = require('node:test');
const vantoro = require('..');
const { articlePage } = require('./helpers.js');

const { Protector, VantoroError } = vantoro;
const COPYRIGHT = 'Example Site:All rights reserved';
// The draws that give exactly "x<span style='z;display:none;;'>.note</span></p>y".
const NOTE_DRAWS = [0.75, 0.2272, 0.25, 0.1666, ...Array(13).fill(0.25), 0.0882, 0.4903, 0.0294];
const NOTE_RESULT = "x<span style='z;display:none;;'>.note</span></p>y";

function rejectsWith(fn, Kind, pattern) {
  assert.throws(fn, (error) => error instanceof Kind && pattern.test(error.message));
}

test('texts: a string gives a string, a Buffer or Uint8Array a Buffer, byte for byte the same', () => {
  const protector = new Protector({ copyright: 'note', hide: 'style' });
  protector.replay(NOTE_DRAWS);
  assert.equal(protector.protectContent('x</p>y'), NOTE_RESULT);
  protector.replay(NOTE_DRAWS);
  const fromBuffer = protector.protectContent(Buffer.from('x</p>y'));
  assert.ok(Buffer.isBuffer(fromBuffer));
  assert.equal(fromBuffer.toString(), NOTE_RESULT);
  protector.replay(NOTE_DRAWS);
  const bytes = new TextEncoder().encode('__x</p>y').subarray(2);
  assert.equal(protector.protectContent(bytes).toString(), NOTE_RESULT);

  // Non-ASCII text and NUL bytes survive both ways.
  const page = '<p>Grüße, 世界 \u{1F600}\0</p>';
  assert.match(vantoro.protectPage(page), /Grüße, 世界 \u{1F600}\0/u);
  assert.ok(vantoro.protectPage(Buffer.from(page)).includes(Buffer.from('Grüße, 世界 \u{1F600}\0')));
});

test('passes: the page pass marks the page, the content pass hides the notice at each paragraph end', () => {
  const page = articlePage();
  const protector = new Protector({ copyright: COPYRIGHT });
  const marked = protector.protectPage(page);
  assert.ok(vantoro.isProtected(marked) && !vantoro.isProtected(page));
  assert.notEqual(protector.protectPage(page), marked, 'every call re-marks anew');
  assert.ok(!marked.includes('Example Site'));

  const article = protector.protectContent('<p>One</p><p>Two<br>three</p>');
  assert.equal(article.match(/Example Site.All rights reserved/g).length >= 3, true);
  assert.ok(!vantoro.isProtected(article));
  const both = protector.protect(page);
  assert.ok(vantoro.isProtected(both) && both.includes('Example Site'));
});

test('replay: exact output, and running out throws without using up the values', () => {
  const protector = new Protector({ copyright: 'note', hide: 'style' });
  protector.replay(NOTE_DRAWS.slice(0, 5));
  assert.throws(() => protector.protectContent('x</p>y'),
    (error) => error instanceof VantoroError && error.status === 'VANTORO_REPLAY_EXHAUSTED' && error.errno === 4);
  protector.replay(NOTE_DRAWS);
  assert.equal(protector.protectContent('x</p>y'), NOTE_RESULT);
  assert.throws(() => protector.replay([0.5, 1.5]), (error) => error.code === 'VANTORO_INVALID_ARGUMENT');
  assert.throws(() => protector.replay(['0.5']), TypeError);
  protector.replay([]);
  assert.notEqual(protector.protectContent('x</p>y'), NOTE_RESULT);
});

test('options: each one shows in the output', () => {
  const page = '<html><head><title>t</title></head><body><p>Text</p></body></html>';
  assert.match(vantoro.protectContent(page, { decoy: 'random' }), /<\/p>/, 'random decoys need no copyright');
  assert.match(vantoro.protectContent(page, { copyright: COPYRIGHT, hide: 'style' }), /style='[^']*display:none/i);
  const linked = vantoro.protectContent(page, {
    copyright: COPYRIGHT, hide: 'class', siteKey: 'example.org', stylesheetLink: '/v.css',
  });
  assert.match(linked, /<link rel="stylesheet" href="\/v.css">/);
  const hidingClasses = vantoro.stylesheet('example.org').split('{')[0].split(',').map((name) => name.slice(1));
  assert.ok(hidingClasses.some((name) => new RegExp(`class='[^']*\\b${name}\\b`).test(linked)), 'the decoys use the stylesheet\'s classes');
  assert.match(vantoro.protectContent(page, { copyright: COPYRIGHT, nosnippet: true }), /data-nosnippet/);
  assert.match(vantoro.protectPage(page, { tdmReservation: true }), /<meta name="tdm-reservation" content="1">/);
  assert.doesNotMatch(vantoro.protectPage(page), /tdm-reservation/);
  assert.equal(vantoro.protectContent('<p>x</p>', { emptyNotices: true }).length > '<p>x</p>'.length, true);

  // Copy-visible notices: at the first decoy and every Nth after it.
  const tenParagraphs = '<p>x</p>'.repeat(10);
  const ariaHidden = (every) => (vantoro.protectContent(tenParagraphs, { copyright: COPYRIGHT, copyNotices: every })
    .match(/aria-hidden/g) || []).length;
  assert.equal(ariaHidden(1), 10);
  assert.equal(ariaHidden(0), 1);
  assert.equal(ariaHidden(4), 3);
});

test('properties: read back as set; a refused value throws and changes nothing', () => {
  const protector = new Protector({ copyright: COPYRIGHT, siteKey: 'k' });
  assert.equal(protector.marks, true, 'marks are on by default with layered hiding and a site key');
  assert.equal(new Protector({ copyright: COPYRIGHT }).marks, false);
  assert.throws(() => { protector.charset = 'no-such-set'; }, (e) => e.status === 'VANTORO_UNKNOWN_CHARSET');
  assert.equal(protector.charset, 'auto');
  assert.throws(() => { protector.siteKey = ''; }, (e) => e.code === 'VANTORO_INVALID_ARGUMENT',
    'marks need the key');
  assert.equal(protector.siteKey, 'k');
  protector.setHiding('style', 'k');
  protector.decoy = 'BOTH';
  protector.markId = 7;
  assert.deepEqual(
    { hide: protector.hide, decoy: protector.decoy, markId: protector.markId },
    { hide: 'style', decoy: 'both', markId: 7n });
  const copy = new Protector(protector.options);
  assert.deepEqual(copy.options, protector.options);
});

test('errors: JavaScript kinds for bad arguments, VantoroError with the engine\'s status for refusals', () => {
  rejectsWith(() => vantoro.protect(42), TypeError, /string, a Buffer or a Uint8Array/);
  rejectsWith(() => vantoro.protect('<p>', { copyright: 5 }), TypeError, /copyright must be a string/);
  rejectsWith(() => vantoro.protect('<p>', { sitekey: 'x' }), TypeError, /unknown option "sitekey"/);
  rejectsWith(() => vantoro.protect('<p>', { decoy: 'loud' }), TypeError, /unknown decoy/);
  rejectsWith(() => vantoro.protect('<p>', { nosnippet: 'false' }), TypeError, /boolean/);
  rejectsWith(() => vantoro.protect('<p>', { copyNotices: -1 }), RangeError, /0 or more/);
  rejectsWith(() => vantoro.protect('<p>', { markId: -1n }), RangeError, /0\.\.2\*\*64-1/);
  rejectsWith(() => vantoro.protect('<p>', { markId: 2 ** 64 }), RangeError, /BigInt/);
  rejectsWith(() => vantoro.protect('<p>', { markId: 2n ** 64n }), RangeError, /0\.\.2\*\*64-1/);

  const refusals = [
    [() => vantoro.protectContent('<p>x</p>'), 'VANTORO_INVALID_ARGUMENT', /copyright decoys need a copyright text/],
    [() => new Protector({ hide: 'class' }), 'VANTORO_INVALID_ARGUMENT', /hiding by class needs a site key/],
    [() => new Protector({ marks: true }), 'VANTORO_INVALID_ARGUMENT', /marks need a site key/],
    [() => new Protector({ charset: 'x-unknown' }), 'VANTORO_UNKNOWN_CHARSET', /x-unknown/],
    [() => new Protector({ charset: 'UTF\0-8' }), 'VANTORO_INVALID_ARGUMENT', /NUL/],
    [() => new Protector({ stylesheetLink: '/a"b.css' }), 'VANTORO_INVALID_ARGUMENT', /./],
    [() => vantoro.stylesheet(''), 'VANTORO_INVALID_ARGUMENT', /empty site key/],
    [() => new vantoro.Policy().addType('text/css'), 'VANTORO_INVALID_ARGUMENT', /text\/css/],
  ];
  for (const [fn, status, pattern] of refusals) {
    assert.throws(fn, (error) => error instanceof VantoroError && error instanceof Error &&
      error.name === 'VantoroError' && error.status === status && error.code === status &&
      pattern.test(error.message), `${fn} throws ${status}`);
  }
  // A page in UTF-16 cannot be protected, and fails alone.
  const utf16 = Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from('<p>x</p>', 'utf16le')]);
  assert.throws(() => vantoro.protect(utf16, { copyright: COPYRIGHT }), VantoroError);
});

test('charset: inserted text in the page\'s own set; a string is always UTF-8', () => {
  const copyright = 'Société Exemple';
  const latin1 = (text) => Buffer.from(text, 'latin1');
  const inLatin1 = latin1('Soci\xe9t\xe9 Exemple');
  const inUtf8 = Buffer.from(copyright);
  const meta = latin1('<html><head><meta charset="iso-8859-1"></head><body><p>caf\xe9</p></body></html>');

  const byMeta = vantoro.protectContent(meta, { copyright });
  assert.ok(byMeta.includes(inLatin1) && !byMeta.includes(inUtf8), 'auto follows the <meta>');
  assert.ok(byMeta.includes(latin1('caf\xe9</p>').subarray(0, 4)), 'the page\'s own bytes stay');
  const byTransport = vantoro.protectContent(meta, { copyright, transportCharset: 'utf-8' });
  assert.ok(byTransport.includes(inUtf8), 'the transport outranks the <meta>');
  const explicit = vantoro.protectContent(Buffer.from('<p>x</p>'), { copyright, charset: 'ISO-8859-1' });
  assert.ok(explicit.includes(inLatin1));
  const euro = vantoro.protectContent(Buffer.from('<p>x</p>'), { copyright: 'Prix 5 €', charset: 'ISO-8859-1' });
  assert.ok(euro.includes(Buffer.from('&#8364;')), 'a character the set lacks becomes a reference');

  // A string has no bytes: whatever the options say, the notice comes back as characters.
  const text = meta.toString('latin1');
  assert.ok(vantoro.protectContent(text, { copyright }).includes(copyright));
  const explicitString = vantoro.protectContent(text, { copyright, charset: 'ISO-8859-1' });
  assert.ok(explicitString.includes(copyright));
  // ... and the Protector keeps its set for the Buffers after it.
  const protector = new Protector({ copyright, charset: 'ISO-8859-1' });
  protector.protectContent('<p>x</p>');
  assert.ok(protector.protectContent(Buffer.from('<p>x</p>')).includes(inLatin1));

  assert.equal(vantoro.detectCharset(meta), 'windows-1252', 'the WHATWG name of the label');
  assert.equal(vantoro.detectCharset(meta, 'gbk'), 'GBK');
  assert.equal(vantoro.detectCharset(Buffer.from([0xef, 0xbb, 0xbf, 0x3c]), 'gbk'), 'UTF-8');
  assert.equal(vantoro.detectCharset('<p>plain</p>'), 'UTF-8');
});

test('marks: trace finds the id of the call, the protector\'s, only under its key', () => {
  const page = articlePage();
  const protector = new Protector({ copyright: COPYRIGHT, siteKey: 'secret', markId: 99 });
  const big = 2n ** 63n + 5n;
  assert.equal(vantoro.trace(protector.protectContent(page, { markId: big }), 'secret').id, big);
  const found = vantoro.trace(protector.protect(Buffer.from(page)), 'secret');
  assert.equal(found.id, 99n);
  assert.ok(found.agreeing > 0 && found.agreeing <= found.seen);
  assert.equal(vantoro.trace(protector.protect(page), 'another key'), null);
  assert.equal(vantoro.trace(page, 'secret'), null);
  assert.equal(vantoro.trace(new Protector({ copyright: COPYRIGHT }).protect(page), 'secret'), null);

  const ids = new Set(Array.from({ length: 20 }, () => vantoro.newMarkId()));
  assert.equal(ids.size, 20);
  for (const id of ids) assert.ok(id >> 32n === BigInt(Math.floor(Date.now() / 1000)) || id >> 32n > 0n);
});

test('asynchronous passes: the same results; calls on one protector queue; others wait their turn', async () => {
  const page = articlePage();
  const protector = new Protector({ copyright: COPYRIGHT, siteKey: 'secret' });
  const [a, b, c] = await Promise.all([
    protector.protectAsync(Buffer.from(page), { markId: 1 }),
    protector.protectContentAsync(page, { markId: 2 }),
    protector.protectPageAsync(page),
  ]);
  assert.ok(Buffer.isBuffer(a) && typeof b === 'string' && typeof c === 'string');
  assert.equal(vantoro.trace(a, 'secret').id, 1n);
  assert.equal(vantoro.trace(b, 'secret').id, 2n);
  assert.ok(vantoro.isProtected(c));

  const running = protector.protectAsync(page);
  assert.throws(() => protector.protect(page), (error) => error.code === 'ERR_VANTORO_BUSY');
  assert.throws(() => { protector.copyright = 'other'; }, (error) => error.code === 'ERR_VANTORO_BUSY');
  assert.equal(protector.copyright, COPYRIGHT);
  await running;
  protector.copyright = 'other';

  await assert.rejects(vantoro.Protector.prototype.protectAsync.call(new Protector(), '<p>x</p>'),
    (error) => error instanceof VantoroError && /copyright decoys/.test(error.message));
  await assert.rejects(protector.protectAsync(17), TypeError);
});

test('response policy and headers: the library\'s rules', () => {
  const policy = new vantoro.Policy();
  assert.equal(policy.judge(200, 'text/html; charset=utf-8', null, null), 'protected');
  assert.equal(policy.judge(200, 'text/x-template', null, null), 'type');
  policy.addType('text/x-template');
  assert.equal(policy.judge(200, 'text/x-template', null, null), 'protected');
  assert.equal(policy.judge(206, 'text/html', null, null, true), 'status');
  assert.equal(policy.judge(200, 'text/html', 'gzip', null), 'encoded');
  assert.equal(policy.judge(200, 'text/html', null, 'public, no-transform'), 'no_transform');
  assert.deepEqual(['ETag', 'last-modified', 'Content-Length', 'Content-Type'].map(vantoro.protectedHeader),
    ['weaken', 'drop', 'length', 'keep']);
});

test('the addon exports Node-API\'s entry points only, not the engine', { skip: !process.env.VANTORO_LIBRARY_DIR }, () => {
  const addon = path.join(__dirname, '..', 'build', 'Release', 'vantoro.node');
  const symbols = execFileSync('nm', ['-D', '--defined-only', addon], { encoding: 'utf8' });
  assert.match(symbols, /napi_register_module_v1/);
  assert.doesNotMatch(symbols, /vantoro_|_ZN7vantoro/);
});
