'use strict';
/**
 * A Connect/Express middleware that protects the HTML pages an application
 * sends:
 *
 *   const vantoro = require('vantoro/middleware');
 *   app.use(vantoro({ copyright: 'Example Site:All rights reserved' }));
 *
 * Each response is judged by the library's policy (the same for every web
 * adapter): only a 200 of text/html (or of `types`), not encoded, without
 * "Cache-Control: no-transform" and without a Content-Range is protected;
 * everything else goes out exactly as the application gave it.
 *
 * A protected body is held until the application ends it (at most maxSize
 * bytes), protected in the character set a browser reads it in (byte order
 * mark, Content-Type, <meta>) on the event loop, or from asyncMinSize bytes on
 * libuv's thread pool, and sent with its Content-Length (chunked instead when
 * a Trailer header announces trailers, which follow it); an ETag becomes weak,
 * Last-Modified, Accept-Ranges and body digests go. A larger body, or one the
 * engine fails on, goes out unchanged and the reason is logged. HEAD gets the
 * headers the GET would get, without Content-Length, and no body.
 *
 * The application never sees the request's Accept-Encoding, Range, If-Range or
 * Request-Range:
 * no handler can answer with a compressed or partial original page. Compress
 * outside this middleware (a compression middleware registered before it, or
 * the proxy in front); serve ranges of media from routes registered before it.
 */
const util = require('node:util');
const {
  Protector, Policy, protectedHeader, newMarkId: defaultNewMarkId,
  [Symbol.for('vantoro.internal')]: internal,
} = require('./index.js');

const { argError, checkBoolean, checkMarkId, checkOptions, checkString, describe, PROTECTOR_OPTIONS } = internal;

/** The request property that holds the mark id (a BigInt) of the request's page. */
const MARK_ID_PROPERTY = 'vantoroMarkId';
const DEBUG_HEADER = 'X-Vantoro-Status';
const PROTECTED = 'protected';

const PASSES = new Map([['both', 'protect'], ['page', 'protectPage'], ['content', 'protectContent']]);
// markId is drawn per request, transportCharset read from each response.
const ENGINE_OPTIONS = PROTECTOR_OPTIONS.filter((name) => name !== 'markId' && name !== 'transportCharset');
const MIDDLEWARE_OPTIONS = new Set([
  ...ENGINE_OPTIONS, 'passes', 'types', 'debug', 'maxSize', 'asyncMinSize', 'tdmPolicy', 'newMarkId', 'onMark',
  'bypass', 'logger',
]);
// The request headers that would let an application answer with something
// other than the whole page in plain bytes.
const WITHHELD_HEADERS = new Set(['accept-encoding', 'range', 'if-range', 'request-range']);
// Idle protectors kept for the next responses.
const POOL_SIZE = 8;

const UNDECIDED = 0; // nothing started yet
const HOLD = 1; // protected: status, headers and body held until the end
const HEAD = 2; // a protected HEAD: headers edited and sent, the body dropped
const PASS = 3; // passed on as it comes
const DONE = 4; // ended by the application, the page being protected

function checkFunction(value, what) {
  if (value !== undefined && typeof value !== 'function') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be a function, not ${describe(value)}`);
  }
  return value;
}

// A byte count: a whole number, 0 or more, or Infinity.
function checkSize(value, fallback, what) {
  if (value === undefined) return fallback;
  if (typeof value !== 'number') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be a number, not ${describe(value)}`);
  }
  if (!(Number.isSafeInteger(value) || value === Infinity) || value < 0) {
    throw argError(RangeError, 'ERR_OUT_OF_RANGE', `${what} must be a whole number of bytes, not ${value}`);
  }
  return value;
}

function defaultLogger() {
  return { error: (message) => console.error(`vantoro: ${message}`), debug: util.debuglog('vantoro') };
}

function checkLogger(logger) {
  if (logger === undefined) return defaultLogger();
  if (logger === null || typeof logger !== 'object' || typeof logger.error !== 'function') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', 'logger must be an object with an error(message) method');
  }
  return {
    error: (message) => logger.error(message),
    debug: typeof logger.debug === 'function' ? (message) => logger.debug(message) : () => {},
  };
}

// A header value holds no line break (a second header) or other control character.
function fieldValueOk(value) {
  return value !== '' && !/[\x00-\x1f\x7f]/.test(value);
}

function headerValue(res, name) {
  const value = res.getHeader(name);
  if (value === undefined) return null;
  return Array.isArray(value) ? value.join(', ') : String(value);
}

function charsetParameter(contentType) {
  if (contentType === null) return null;
  for (const parameter of contentType.split(';').slice(1)) {
    const equals = parameter.indexOf('=');
    if (equals >= 0 && parameter.slice(0, equals).trim().toLowerCase() === 'charset') {
      const value = parameter.slice(equals + 1).trim().replace(/^"|"$/g, '').trim();
      return value === '' ? null : value;
    }
  }
  return null;
}

function toBuffer(chunk, encoding) {
  if (typeof chunk === 'string') return Buffer.from(chunk, encoding || 'utf8');
  if (Buffer.isBuffer(chunk)) return chunk;
  if (chunk instanceof Uint8Array) return Buffer.from(chunk.buffer, chunk.byteOffset, chunk.byteLength);
  throw argError(TypeError, 'ERR_INVALID_ARG_TYPE',
    `the "chunk" argument must be a string, a Buffer or a Uint8Array, not ${describe(chunk)}`);
}

function requestLine(req) {
  return `${req.method} ${req.originalUrl || req.url}`;
}

// Takes the withheld headers out of the request; returns Accept-Encoding's
// value, which a compression layer outside this one reads again later.
function withhold(req) {
  // Node builds headers and headersDistinct from rawHeaders by the count it
  // parsed: both are built (and kept) before rawHeaders shrinks.
  const headers = req.headers;
  const distinct = req.headersDistinct;
  const acceptEncoding = headers['accept-encoding'];
  for (const name of WITHHELD_HEADERS) {
    delete headers[name];
    if (distinct) delete distinct[name];
  }
  const raw = req.rawHeaders;
  if (Array.isArray(raw)) {
    for (let i = raw.length - 2; i >= 0; i -= 2) {
      if (WITHHELD_HEADERS.has(String(raw[i]).toLowerCase())) raw.splice(i, 2);
    }
  }
  return acceptEncoding;
}

// Puts writeHead's own headers on the response, where the policy can read them.
// An array's headers replace those of the same names set before, as they do in
// Node's own writeHead; a name repeated within the array keeps all its values.
function foldHeaders(res, headers) {
  if (Array.isArray(headers)) {
    const pairs = [];
    if (headers.length > 0 && Array.isArray(headers[0])) {
      for (const [name, value] of headers) pairs.push([name, value]);
    } else {
      for (let i = 0; i + 1 < headers.length; i += 2) pairs.push([headers[i], headers[i + 1]]);
    }
    for (const [name] of pairs) res.removeHeader(name);
    for (const [name, value] of pairs) res.appendHeader(name, value);
  } else if (headers && typeof headers === 'object') {
    for (const name of Object.keys(headers)) res.setHeader(name, headers[name]);
  }
}

/**
 * The middleware. Options: those of Protector (copyright, decoy, charset,
 * hide, siteKey, stylesheetLink, nosnippet, emptyNotices, copyNotices, marks,
 * tdmReservation), and
 *   passes: "both" (the default), "page" or "content";
 *   types: further text media types to protect (a string or an array);
 *   maxSize: the largest body held, in bytes (default 8 MiB); a larger one
 *     goes out unchanged ("too_large", logged);
 *   asyncMinSize: bodies of at least this many bytes (default 1 MiB) are
 *     protected on libuv's thread pool, so that the event loop serves other
 *     requests meanwhile; smaller ones on the event loop, which takes less CPU
 *     (with glibc, a pass on a pool thread allocates from that thread's arena,
 *     which is given back to the system after every page);
 *   debug: adds "X-Vantoro-Status: <verdict>" to every response;
 *   tdmPolicy: a URL sent as "tdm-policy" (needs tdmReservation, which sends
 *     "tdm-reservation: 1" on protected responses);
 *   newMarkId(req): the request's mark id (default: the time in seconds in
 *     the high 32 bits, 32 random bits in the low); onMark(req, id): told it
 *     before the application runs, e.g. for the access log; both only with
 *     marks (on by default with a siteKey and layered hiding);
 *   bypass(req): a true result lets the request through untouched, e.g. for
 *     verified search crawlers (check their published address ranges);
 *   logger: { error(message), debug?(message) } (default: errors on
 *     stderr, reasons under NODE_DEBUG=vantoro).
 * Bad options throw here, so a misconfigured site fails at start.
 */
function protectMiddleware(options) {
  const given = checkOptions(options, MIDDLEWARE_OPTIONS);
  const passes = given.passes === undefined ? 'both' : checkString(given.passes, 'passes');
  if (!PASSES.has(passes)) {
    throw argError(TypeError, 'ERR_INVALID_ARG_VALUE', `unknown passes ${describe(passes)}: expected both, page or content`);
  }
  const maxSize = checkSize(given.maxSize, 8 * 1024 * 1024, 'maxSize');
  const asyncMinSize = checkSize(given.asyncMinSize, 1024 * 1024, 'asyncMinSize');
  const debug = given.debug === undefined ? false : checkBoolean(given.debug, 'debug');
  const makeMarkId = checkFunction(given.newMarkId, 'newMarkId') || defaultNewMarkId;
  const onMark = checkFunction(given.onMark, 'onMark');
  const bypass = checkFunction(given.bypass, 'bypass');
  const log = checkLogger(given.logger);

  const engineOptions = {};
  for (const name of ENGINE_OPTIONS) if (given[name] !== undefined) engineOptions[name] = given[name];
  const probe = new Protector(engineOptions);
  // What the content pass refuses (copyright decoys without a text) is refused now, not on every page.
  if (passes !== 'page') probe.protectContent(Buffer.alloc(0));
  // The page pass alone makes no marks, so it needs no ids.
  const marks = probe.marks && passes !== 'page';
  engineOptions.marks = probe.marks;

  const tdmHeaders = [];
  if (given.tdmPolicy !== undefined) {
    if (!probe.tdmReservation) throw argError(TypeError, 'ERR_INVALID_ARG_VALUE', 'tdmPolicy needs tdmReservation');
    if (typeof given.tdmPolicy !== 'string' || !fieldValueOk(given.tdmPolicy)) {
      throw argError(TypeError, 'ERR_INVALID_ARG_VALUE',
        `tdmPolicy must be a URL without control characters, not ${describe(given.tdmPolicy)}`);
    }
  }
  if (probe.tdmReservation) {
    tdmHeaders.push(['tdm-reservation', '1']);
    if (given.tdmPolicy !== undefined) tdmHeaders.push(['tdm-policy', given.tdmPolicy]);
  }

  const policy = new Policy();
  const types = given.types === undefined ? [] : given.types;
  for (const type of typeof types === 'string' ? [types] : types) policy.addType(type);

  const pool = [probe];
  const actions = new Map();

  const adapter = {
    maxSize,
    asyncMinSize,
    log,
    pass: PASSES.get(passes),
    judge(res) {
      return policy.judge(res.statusCode, headerValue(res, 'content-type'), headerValue(res, 'content-encoding'),
        headerValue(res, 'cache-control'), res.hasHeader('content-range'));
    },
    // The verdict on the response, for debug.
    mark(res, verdict) {
      if (debug && !res.headersSent) res.setHeader(DEBUG_HEADER, verdict);
    },
    // The headers of the protected page; length null: not known (HEAD). With a
    // Trailer header the page goes out chunked, so that its trailers follow it
    // (Node refuses trailers after a Content-Length).
    edit(res, length) {
      for (const name of res.getHeaderNames()) {
        let action = actions.get(name);
        if (action === undefined) {
          action = protectedHeader(name);
          if (actions.size < 256) actions.set(name, action);
        }
        if (action === 'drop' || action === 'length') {
          res.removeHeader(name);
        } else if (action === 'weaken') {
          const value = headerValue(res, name).trim();
          if (!value.startsWith('W/')) res.setHeader(name, `W/${value}`);
        }
      }
      if (length !== null && !res.hasHeader('trailer')) res.setHeader('Content-Length', length);
      for (const [name, value] of tdmHeaders) if (!res.hasHeader(name)) res.setHeader(name, value);
      this.mark(res, PROTECTED);
    },
    take() {
      return pool.pop() || new Protector(engineOptions);
    },
    give(protector) {
      if (pool.length < POOL_SIZE) pool.push(protector);
    },
  };

  return function vantoro(req, res, next) {
    if (res.headersSent) {
      log.debug(`${requestLine(req)}: sent unchanged (sent)`);
      return next();
    }
    if (bypass !== undefined && bypass(req)) {
      log.debug(`${requestLine(req)}: sent unchanged (bypass)`);
      adapter.mark(res, 'bypass');
      return next();
    }
    let markId;
    if (marks) {
      // Known before the application runs, for its access log; checked now,
      // so that no page could carry a bad id.
      markId = checkMarkId(makeMarkId(req), 'newMarkId(req)');
      req[MARK_ID_PROPERTY] = markId;
      if (onMark !== undefined) onMark(req, markId);
    }
    intercept(adapter, req, res, markId, withhold(req));
    return next();
  };
}

// Takes over the response's writeHead, write, end and flushHeaders until the
// verdict is known, and holds a protected body until it ends.
function intercept(adapter, req, res, markId, acceptEncoding) {
  const original = { writeHead: res.writeHead, write: res.write, end: res.end, flushHeaders: res.flushHeaders };
  // The method the client sent: a HEAD never gets a body from here.
  const head = req.method === 'HEAD';
  let state = UNDECIDED;
  let chunks = [];
  let size = 0;

  // From here on the response goes out through the layers outside this one,
  // which may compress it.
  function release() {
    if (acceptEncoding !== undefined) {
      req.headers['accept-encoding'] = acceptEncoding;
      acceptEncoding = undefined;
    }
  }

  function pass(verdict) {
    state = PASS;
    release();
    adapter.mark(res, verdict);
  }

  // The verdict, when the status and headers are complete. A length over
  // maxSize is too large for HEAD as well, so that HEAD and GET agree.
  function decide() {
    const verdict = adapter.judge(res);
    if (verdict !== PROTECTED) {
      adapter.log.debug(`${requestLine(req)}: sent unchanged (${verdict})`);
      pass(verdict);
    } else if (Number(res.getHeader('content-length')) > adapter.maxSize) {
      tooLarge();
    } else if (head) {
      state = HEAD;
      release();
      adapter.edit(res, null);
    } else {
      state = HOLD;
    }
  }

  function tooLarge() {
    adapter.log.error(`${requestLine(req)}: page sent unprotected: larger than maxSize (${adapter.maxSize} bytes)`);
    pass('too_large');
  }

  // Holds a chunk; over maxSize everything held goes out unchanged. `last`:
  // end's chunk, whose callback is end's.
  function hold(chunk, encoding, callback, last) {
    const buffer = toBuffer(chunk, encoding);
    // A writer may reuse its buffer (or typed array) once told the write is
    // done, so only a string's fresh bytes are held as they are; end's is final.
    chunks.push(last || typeof chunk === 'string' ? buffer : Buffer.from(buffer));
    size += buffer.length;
    if (size <= adapter.maxSize) {
      if (callback && !last) process.nextTick(callback);
      return true;
    }
    tooLarge();
    const held = chunks;
    chunks = null;
    let ok = true;
    for (let i = 0; i < held.length; ++i) {
      const args = [held[i]];
      if (i + 1 === held.length && callback && !last) args.push(callback);
      ok = original.write.apply(res, args);
    }
    return ok;
  }

  res.writeHead = function writeHead(statusCode, reason, headers) {
    if (state === PASS || state === HEAD) return original.writeHead.apply(this, arguments);
    // Ended, the protected page on its way: nothing may go out before it.
    if (state === DONE) return this;
    if (typeof reason !== 'string') {
      headers = reason;
      reason = undefined;
    }
    // Held responses take a later writeHead's status and headers as well.
    this.statusCode = statusCode;
    if (reason !== undefined) this.statusMessage = reason;
    foldHeaders(this, headers);
    if (state === HOLD) return this;
    decide();
    if (state === HOLD) return this;
    return reason === undefined ? original.writeHead.call(this, statusCode) : original.writeHead.call(this, statusCode, reason);
  };

  res.flushHeaders = function flushHeaders() {
    if (state === UNDECIDED) decide();
    if (state === PASS || state === HEAD) return original.flushHeaders.call(this);
    return undefined;
  };

  res.write = function write(chunk, encoding, callback) {
    if (state === UNDECIDED) decide();
    if (state === PASS) return original.write.apply(this, arguments);
    if (typeof encoding === 'function') {
      callback = encoding;
      encoding = undefined;
    }
    if (state === HOLD) return hold(chunk, encoding, callback, false);
    if (state === HEAD) {
      toBuffer(chunk, encoding); // the same TypeError as a real write
      if (callback) process.nextTick(callback);
      return true;
    }
    // Written after end, while the page is protected.
    if (callback) process.nextTick(callback, argError(Error, 'ERR_STREAM_WRITE_AFTER_END', 'write after end'));
    return false;
  };

  res.end = function end(chunk, encoding, callback) {
    if (typeof chunk === 'function') {
      callback = chunk;
      chunk = undefined;
      encoding = undefined;
    } else if (typeof encoding === 'function') {
      callback = encoding;
      encoding = undefined;
    }
    if (state === UNDECIDED) decide();
    if (state === PASS) return original.end.apply(this, arguments);
    if (state === HEAD) return callback ? original.end.call(this, callback) : original.end.call(this);
    if (state === DONE) {
      // Ended again while the page is protected: as Node does, a chunk is
      // refused, else the callback is told once the page has gone out.
      if (callback && chunk) {
        process.nextTick(callback, argError(Error, 'ERR_STREAM_WRITE_AFTER_END', 'write after end'));
      } else if (callback) {
        this.once('finish', callback);
      }
      return this;
    }
    if (chunk !== undefined && chunk !== null) {
      hold(chunk, encoding, callback, true);
      if (state === PASS) return callback ? original.end.call(this, callback) : original.end.call(this);
    }
    state = DONE;
    finish(callback).catch((error) => {
      adapter.log.error(`${requestLine(req)}: ${error && error.stack ? error.stack : error}`);
      if (!res.destroyed) res.destroy(error);
    });
    return this;
  };

  function send(body, callback) {
    // Node's end sends the headers through writeHead, which must let them by now.
    state = PASS;
    release();
    const args = body === null || body.length === 0 ? [] : [body];
    if (callback) args.push(callback);
    original.end.apply(res, args);
  }

  async function finish(callback) {
    const body = chunks.length === 1 ? chunks[0] : Buffer.concat(chunks, size);
    chunks = null;
    // Headers set while the body was held count too.
    let verdict = size === 0 ? 'empty' : adapter.judge(res);
    if (verdict === PROTECTED && res.destroyed) verdict = 'closed';
    if (verdict !== PROTECTED) {
      adapter.log.debug(`${requestLine(req)}: sent unchanged (${verdict})`);
      adapter.mark(res, verdict);
      send(body, callback);
      return;
    }
    const protector = adapter.take();
    let result;
    try {
      protector.transportCharset = charsetParameter(headerValue(res, 'content-type'));
      const call = size < adapter.asyncMinSize ? adapter.pass : `${adapter.pass}Async`;
      result = await protector[call](body, markId === undefined ? undefined : { markId });
    } catch (error) {
      adapter.log.error(`${requestLine(req)}: page sent unprotected: ${error.message}`);
      adapter.mark(res, 'error');
      send(body, callback);
      return;
    } finally {
      adapter.give(protector);
    }
    adapter.edit(res, result.length);
    send(result, callback);
  }
}

module.exports = protectMiddleware;
module.exports.protectMiddleware = protectMiddleware;
module.exports.MARK_ID_PROPERTY = MARK_ID_PROPERTY;
