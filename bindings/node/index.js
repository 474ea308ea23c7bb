'use strict';
/**
 * Vantoro: protects web pages against content harvesting.
 *
 * The page pass re-marks every tag (random letter case, whitespace, comments,
 * a watermark comment); the content pass hides a decoy (the site's copyright
 * notice, random text, or both) in front of every paragraph end and line
 * break. Each call gives different markup that renders the same. With a
 * siteKey the visible text also carries invisible marks with a 64-bit id that
 * trace(copiedText, siteKey) finds again.
 *
 * Texts are strings or Buffers (any Uint8Array) and come back as the same
 * kind: a string gives a string, a Buffer a Buffer. Buffers are the normal
 * case for pages: their bytes are taken as they are, and with charset "auto"
 * each page is read in the set a browser reads it in (byte order mark, else
 * transportCharset, else its <meta>, else UTF-8; see detectCharset). A string
 * has no bytes yet: it is protected as UTF-8 whatever the charset option or
 * its <meta> says, and the inserted text comes back as characters.
 *
 * Errors: a wrong type throws TypeError, a number out of range RangeError, and
 * whatever the engine refuses (an unknown character set, hiding by class
 * without a site key, copyright decoys without a copyright text, ...) throws
 * VantoroError, whose `status` and `code` name the engine's status.
 */
const crypto = require('node:crypto');

let native;
try {
  native = require('./build/Release/vantoro.node');
} catch (error) {
  error.message = `vantoro: the native addon is not built (npm run build): ${error.message}`;
  throw error;
}

/** A call into the engine failed: `status` (also `code`) names why, `errno` is its number. */
class VantoroError extends Error {
  constructor(message, status = 'VANTORO_INVALID_ARGUMENT', errno = 2) {
    super(message);
    this.status = status;
    this.code = status;
    this.errno = errno;
  }
}
Object.defineProperty(VantoroError.prototype, 'name', { value: 'VantoroError', configurable: true });
native.setErrorClass(VantoroError);

const PAGE = 0;
const CONTENT = 1;
const BOTH = 2;

const DECOYS = new Map([['copyright', 1], ['random', 2], ['both', 3]]);
const HIDES = new Map([['style', 1], ['class', 2], ['layered', 3]]);
const MARK_ID_MAX = 0xffffffffffffffffn;

/** The options a Protector (and protect, protectPage, protectContent) takes. */
const PROTECTOR_OPTIONS = Object.freeze([
  'copyright', 'decoy', 'charset', 'hide', 'siteKey', 'stylesheetLink', 'nosnippet',
  'emptyNotices', 'transportCharset', 'copyNotices', 'marks', 'markId', 'tdmReservation',
]);
const PROTECTOR_OPTION_SET = new Set(PROTECTOR_OPTIONS);
const CALL_OPTION_SET = new Set(['markId']);

function argError(Kind, code, message) {
  const error = new Kind(message);
  error.code = code;
  return error;
}

function describe(value) {
  if (value === null) return 'null';
  if (typeof value === 'string') return `"${value.length > 40 ? `${value.slice(0, 40)}...` : value}"`;
  if (typeof value === 'bigint') return `${value}n`;
  if (typeof value === 'object' || typeof value === 'function') return `type ${typeof value}`;
  return `${typeof value} ${String(value)}`;
}

/** The options object, checked for unknown names (a typo would silently change nothing). */
function checkOptions(options, allowed, what = 'options') {
  if (options === undefined || options === null) return {};
  if (typeof options !== 'object' || Array.isArray(options)) {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be an object, not ${describe(options)}`);
  }
  for (const name of Object.keys(options)) {
    if (!allowed.has(name)) {
      throw argError(TypeError, 'ERR_INVALID_ARG_VALUE',
        `unknown option "${name}": expected one of ${[...allowed].join(', ')}`);
    }
  }
  return options;
}

function checkString(value, what) {
  if (typeof value !== 'string') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be a string, not ${describe(value)}`);
  }
  return value;
}

function checkBoolean(value, what) {
  if (typeof value !== 'boolean') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be a boolean, not ${describe(value)}`);
  }
  return value;
}

function checkName(names, value, what) {
  checkString(value, what);
  const lower = value.toLowerCase();
  if (!names.has(lower)) {
    throw argError(TypeError, 'ERR_INVALID_ARG_VALUE',
      `unknown ${what} ${describe(value)}: expected ${[...names.keys()].join(', ')}`);
  }
  return lower;
}

/** A mark id as a BigInt: a bigint or a safe integer number, 0 to 2**64-1. */
function checkMarkId(value, what = 'markId') {
  let id = value;
  if (typeof value === 'number') {
    if (!Number.isSafeInteger(value)) {
      throw argError(RangeError, 'ERR_OUT_OF_RANGE',
        `${what} must be an integer (a BigInt beyond 2**53), not ${value}`);
    }
    id = BigInt(value);
  } else if (typeof value !== 'bigint') {
    throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `${what} must be a bigint or a number, not ${describe(value)}`);
  }
  if (id < 0n || id > MARK_ID_MAX) {
    throw argError(RangeError, 'ERR_OUT_OF_RANGE', `${what} must be in 0..2**64-1, not ${id}`);
  }
  return id;
}

function callMarkId(options) {
  const { markId } = checkOptions(options, CALL_OPTION_SET);
  return markId === undefined ? undefined : checkMarkId(markId);
}

function noop() {}

/**
 * The options of the passes, and the passes themselves, on one engine handle.
 * Options are also properties (checked whole on every change: a refused value
 * throws and changes nothing). One Protector runs one pass at a time: the
 * asynchronous passes queue behind each other, and any other call made while
 * one runs throws (code ERR_VANTORO_BUSY).
 */
class Protector {
  #handle = new native.Handle();
  #copyright = '';
  #decoy = 'copyright';
  #charset = 'auto';
  #hide = 'layered';
  #siteKey = '';
  #stylesheetLink = '';
  #nosnippet = false;
  #emptyNotices = false;
  #transportCharset = null;
  #copyNotices = 4;
  #marks = false;
  #markId = 0n;
  #tdmReservation = false;
  // The promise of the last asynchronous pass queued, settled or not.
  #tail = null;

  constructor(options) {
    const given = checkOptions(options, PROTECTOR_OPTION_SET);
    const option = (name, fallback) => (given[name] === undefined ? fallback : given[name]);
    // In this order: hiding before marks, which need its site key.
    this.copyright = option('copyright', '');
    this.decoy = option('decoy', 'copyright');
    this.charset = option('charset', 'auto');
    this.setHiding(option('hide', 'layered'), option('siteKey', ''));
    this.stylesheetLink = option('stylesheetLink', '');
    this.nosnippet = option('nosnippet', false);
    this.emptyNotices = option('emptyNotices', false);
    this.transportCharset = option('transportCharset', null);
    this.copyNotices = option('copyNotices', 4);
    // On by default where they can be: layered hiding with a site key.
    this.marks = option('marks', this.#hide === 'layered' && this.#siteKey !== '');
    this.markId = option('markId', 0n);
    this.tdmReservation = option('tdmReservation', false);
  }

  /** The site's copyright texts: entries separated by ",", parts by ":". */
  get copyright() { return this.#copyright; }
  set copyright(text) {
    this.#handle.setCopyright(checkString(text, 'copyright'));
    this.#copyright = text;
  }

  /** "copyright" (the default), "random" or "both". */
  get decoy() { return this.#decoy; }
  set decoy(kind) {
    const name = checkName(DECOYS, kind, 'decoy');
    this.#handle.setDecoyKind(DECOYS.get(name));
    this.#decoy = name;
  }

  /** "auto" (each page's own) or the pages' character set; only the inserted text is converted. */
  get charset() { return this.#charset; }
  set charset(name) {
    this.#handle.setCharset(checkString(name, 'charset'));
    this.#charset = name;
  }

  /** "layered" (the default), "class" (needs siteKey) or "style". */
  get hide() { return this.#hide; }
  set hide(method) { this.setHiding(method, this.#siteKey); }

  /** Names the hiding classes and keys the marks; keep it for a site, and secret. */
  get siteKey() { return this.#siteKey; }
  set siteKey(key) { this.setHiding(this.#hide, key); }

  /** Sets hide and siteKey together, as hiding by class needs the key. */
  setHiding(hide, siteKey = '') {
    const name = checkName(HIDES, hide, 'hide');
    this.#handle.setHiding(HIDES.get(name), checkString(siteKey, 'siteKey'));
    this.#hide = name;
    this.#siteKey = siteKey;
  }

  /** The address of stylesheet(siteKey), linked where the page's head begins. */
  get stylesheetLink() { return this.#stylesheetLink; }
  set stylesheetLink(uri) {
    this.#handle.setStylesheetLink(checkString(uri, 'stylesheetLink'));
    this.#stylesheetLink = uri;
  }

  /** data-nosnippet on each decoy. */
  get nosnippet() { return this.#nosnippet; }
  set nosnippet(on) {
    this.#handle.setNosnippet(checkBoolean(on, 'nosnippet'));
    this.#nosnippet = on;
  }

  /** Allows copyright decoys without a copyright text. */
  get emptyNotices() { return this.#emptyNotices; }
  set emptyNotices(on) {
    this.#handle.setEmptyNotices(checkBoolean(on, 'emptyNotices'));
    this.#emptyNotices = on;
  }

  /** What the Content-Type's charset says the following pages are in (for "auto"); null: nothing. */
  get transportCharset() { return this.#transportCharset; }
  set transportCharset(label) {
    if (label !== null) checkString(label, 'transportCharset');
    this.#handle.setTransportCharset(label);
    this.#transportCharset = label;
  }

  /** With "layered": a copy-visible notice at the first decoy and every Nth after it (0: the first only). */
  get copyNotices() { return this.#copyNotices; }
  set copyNotices(every) {
    if (typeof every !== 'number') {
      throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `copyNotices must be a number, not ${describe(every)}`);
    }
    if (!(Number.isInteger(every) || every === Infinity) || every < 0) {
      throw argError(RangeError, 'ERR_OUT_OF_RANGE', `copyNotices must be an integer, 0 or more, not ${every}`);
    }
    this.#handle.setCopyNotices(every);
    this.#copyNotices = every;
  }

  /** Invisible marks carrying markId in the visible text; need a siteKey. */
  get marks() { return this.#marks; }
  set marks(on) {
    this.#handle.setMarks(checkBoolean(on, 'marks'));
    this.#marks = on;
  }

  /** The id (a BigInt) the marks of passes called without one carry. */
  get markId() { return this.#markId; }
  set markId(value) {
    const id = checkMarkId(value);
    this.#handle.setMarkId(id);
    this.#markId = id;
  }

  /** The page pass puts <meta name="tdm-reservation" content="1"> where the head begins. */
  get tdmReservation() { return this.#tdmReservation; }
  set tdmReservation(on) {
    this.#handle.setTdmReservation(checkBoolean(on, 'tdmReservation'));
    this.#tdmReservation = on;
  }

  /** The page pass: tags re-marked, a watermark in front. */
  protectPage(text) {
    return this.#handle.run(PAGE, text);
  }

  /** The content pass: decoys at every paragraph end and line break; options.markId for this call. */
  protectContent(text, options) {
    return this.#handle.run(CONTENT, text, callMarkId(options));
  }

  /** Both passes, content then page, as for a whole page. */
  protect(text, options) {
    return this.#handle.run(BOTH, text, callMarkId(options));
  }

  /** protectPage on libuv's thread pool: the event loop runs on meanwhile. */
  protectPageAsync(text) {
    return this.#queue(PAGE, text, undefined);
  }

  protectContentAsync(text, options) {
    return this.#queue(CONTENT, text, options);
  }

  protectAsync(text, options) {
    return this.#queue(BOTH, text, options);
  }

  // A pass starts when the one before it has settled; its text is copied
  // then, its options are the ones in force then.
  #queue(pass, text, options) {
    const start = () => this.#handle.runAsync(pass, text, callMarkId(options));
    let run;
    if (this.#tail === null) {
      try {
        run = start();
      } catch (error) {
        return Promise.reject(error);
      }
    } else {
      run = this.#tail.then(start, start);
    }
    const tail = run.then(noop, noop);
    this.#tail = tail;
    tail.then(() => {
      if (this.#tail === tail) this.#tail = null;
    });
    return run;
  }

  /**
   * The following calls take their random values, each in [0, 1), from
   * `values` in order, to reproduce an output exactly; the call that runs
   * out throws VANTORO_REPLAY_EXHAUSTED. An empty list returns to real
   * random values.
   */
  replay(values) {
    if (values === null || typeof values !== 'object' || typeof values[Symbol.iterator] !== 'function') {
      throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', 'the replayed values must be an iterable of numbers');
    }
    const numbers = Float64Array.from(values, (value) => {
      if (typeof value !== 'number') {
        throw argError(TypeError, 'ERR_INVALID_ARG_TYPE', `a replayed value must be a number, not ${describe(value)}`);
      }
      return value;
    });
    this.#handle.replay(numbers);
  }

  /** The options in force, as the constructor takes them. */
  get options() {
    return {
      copyright: this.#copyright, decoy: this.#decoy, charset: this.#charset, hide: this.#hide,
      siteKey: this.#siteKey, stylesheetLink: this.#stylesheetLink, nosnippet: this.#nosnippet,
      emptyNotices: this.#emptyNotices, transportCharset: this.#transportCharset,
      copyNotices: this.#copyNotices, marks: this.#marks, markId: this.#markId,
      tdmReservation: this.#tdmReservation,
    };
  }
}

/** The page pass with a new Protector of these options. */
function protectPage(text, options) {
  return new Protector(options).protectPage(text);
}

/** The content pass with a new Protector of these options (markId included). */
function protectContent(text, options) {
  return new Protector(options).protectContent(text);
}

/** Both passes with a new Protector of these options. */
function protect(text, options) {
  return new Protector(options).protect(text);
}

/** The stylesheet for hide "class" with this site key: the same on every run and in every version. */
function stylesheet(siteKey) {
  return native.stylesheet(checkString(siteKey, 'siteKey'));
}

/**
 * The mark made with siteKey in a copied text (plain text, HTML or a
 * browser's innerText; a Buffer as UTF-8): { id, agreeing, seen } of the best
 * find, or null. An unmarked text passes for marked less than once in 2**40.
 */
function trace(text, siteKey) {
  const found = native.trace(text, checkString(siteKey, 'siteKey'));
  return found === null ? null : { id: found[0], agreeing: found[1], seen: found[2] };
}

/** Whether the page already went through the page pass (its watermark stands at the start). */
function isProtected(page) {
  return native.isProtected(page);
}

/**
 * The character set a browser reads the page in, by its WHATWG name: the byte
 * order mark's, else `transport` (a Content-Type's charset) when it names a
 * known set, else the page's <meta> in its first 1024 bytes, else "UTF-8".
 */
function detectCharset(page, transport = null) {
  if (transport !== null) checkString(transport, 'transport');
  return native.detectCharset(page, transport);
}

/** What protecting a response does to the header of this name: "keep", "drop", "weaken" or "length". */
function protectedHeader(name) {
  return native.protectedHeader(checkString(name, 'name'));
}

/** A fresh mark id: the time in seconds in the high 32 bits, 32 random bits in the low. */
function newMarkId() {
  const seconds = BigInt(Math.floor(Date.now() / 1000)) & 0xffffffffn;
  return (seconds << 32n) | BigInt(crypto.randomBytes(4).readUInt32BE(0));
}

/**
 * Which responses a web adapter protects (a new one: text/html); the same rule
 * for every adapter of the library.
 */
class Policy {
  #policy = new native.Policy();

  /** Protects this media type too; VantoroError for "*", wildcards, non-text and text the passes would break. */
  addType(mediaType) {
    this.#policy.addType(checkString(mediaType, 'mediaType'));
  }

  /**
   * The verdict on a response from its head: "protected", or why it goes out
   * unchanged ("status", "type", "encoded", "no_transform", "range"). Header
   * values are strings (several of one header joined by ", ") or null.
   */
  judge(status, contentType, contentEncoding, cacheControl, contentRange = false) {
    return this.#policy.judge(status, contentType, contentEncoding, cacheControl, contentRange);
  }
}

module.exports = {
  Protector,
  Policy,
  VantoroError,
  protect,
  protectPage,
  protectContent,
  stylesheet,
  trace,
  isProtected,
  detectCharset,
  protectedHeader,
  newMarkId,
  version: native.version,
  /** The Connect/Express middleware; see middleware.js. */
  middleware(options) {
    return require('./middleware.js')(options);
  },
};

// For middleware.js only.
Object.defineProperty(module.exports, Symbol.for('vantoro.internal'), {
  value: Object.freeze({ argError, checkBoolean, checkMarkId, checkOptions, checkString, describe, PROTECTOR_OPTIONS }),
});
