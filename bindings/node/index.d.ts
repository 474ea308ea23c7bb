/// <reference types="node" />
// Types of the vantoro package (index.js).

/** A page or article: a string comes back as a string, a Buffer or Uint8Array as a Buffer. */
export type Text = string | Uint8Array;
type Result<T extends Text> = T extends string ? string : Buffer;

export type Decoy = 'copyright' | 'random' | 'both';
export type Hide = 'layered' | 'class' | 'style';

export interface ProtectorOptions {
  /** The site's copyright texts: entries separated by ",", parts by ":". */
  copyright?: string;
  /** What each decoy says (default "copyright"). */
  decoy?: Decoy;
  /** "auto" (default: each page's own) or the pages' character set, e.g. "GBK"; applies to Buffers. */
  charset?: string;
  /** How decoys hide (default "layered"; "class" needs siteKey). */
  hide?: Hide;
  /** Names the hiding classes and keys the marks; keep it for a site, and secret. */
  siteKey?: string;
  /** The address of stylesheet(siteKey), linked where the page's head begins. */
  stylesheetLink?: string;
  /** data-nosnippet on each decoy. */
  nosnippet?: boolean;
  /** Allows copyright decoys without a copyright text. */
  emptyNotices?: boolean;
  /** What the Content-Type's charset says the pages are in, for "auto"; null: nothing. */
  transportCharset?: string | null;
  /** With "layered": a copy-visible notice at the first decoy and every Nth after it (default 4). */
  copyNotices?: number;
  /** Marks in the visible text (default: on with "layered" and a siteKey). */
  marks?: boolean;
  /** The id the marks carry, 0 to 2**64-1. */
  markId?: bigint | number;
  /** <meta name="tdm-reservation" content="1"> in the page. */
  tdmReservation?: boolean;
}

export interface CallOptions {
  /** The id this call's marks carry. */
  markId?: bigint | number;
}

export interface ResolvedOptions extends Required<Omit<ProtectorOptions, 'markId' | 'transportCharset'>> {
  markId: bigint;
  transportCharset: string | null;
}

/** The options of the passes and the passes themselves, on one engine handle. */
export class Protector {
  constructor(options?: ProtectorOptions);
  copyright: string;
  decoy: Decoy;
  charset: string;
  hide: Hide;
  siteKey: string;
  stylesheetLink: string;
  nosnippet: boolean;
  emptyNotices: boolean;
  transportCharset: string | null;
  copyNotices: number;
  marks: boolean;
  get markId(): bigint;
  set markId(value: bigint | number);
  tdmReservation: boolean;
  /** The options in force. */
  readonly options: ResolvedOptions;
  /** Sets hide and siteKey together, as hiding by class needs the key. */
  setHiding(hide: Hide, siteKey?: string): void;
  /** The page pass: tags re-marked, a watermark in front. */
  protectPage<T extends Text>(text: T): Result<T>;
  /** The content pass: decoys at every paragraph end and line break. */
  protectContent<T extends Text>(text: T, options?: CallOptions): Result<T>;
  /** Both passes, content then page. */
  protect<T extends Text>(text: T, options?: CallOptions): Result<T>;
  /** The passes on libuv's thread pool; calls on one Protector run one after another. */
  protectPageAsync<T extends Text>(text: T): Promise<Result<T>>;
  protectContentAsync<T extends Text>(text: T, options?: CallOptions): Promise<Result<T>>;
  protectAsync<T extends Text>(text: T, options?: CallOptions): Promise<Result<T>>;
  /** The following calls take their random values from `values`, each in [0, 1). */
  replay(values: Iterable<number>): void;
}

/** A failed call into the engine. */
export class VantoroError extends Error {
  constructor(message: string, status?: VantoroStatus, errno?: number);
  readonly name: 'VantoroError';
  /** The engine's status, e.g. "VANTORO_UNKNOWN_CHARSET"; `code` is the same. */
  status: VantoroStatus;
  code: VantoroStatus;
  errno: number;
}

export type VantoroStatus =
  | 'VANTORO_NULL_ARGUMENT' | 'VANTORO_INVALID_ARGUMENT' | 'VANTORO_UNKNOWN_CHARSET'
  | 'VANTORO_REPLAY_EXHAUSTED' | 'VANTORO_OUT_OF_MEMORY' | 'VANTORO_INTERNAL_ERROR';

export type Verdict = 'protected' | 'status' | 'type' | 'encoded' | 'no_transform' | 'range';

/** Which responses a web adapter protects (a new one: text/html). */
export class Policy {
  addType(mediaType: string): void;
  judge(status: number, contentType: string | null, contentEncoding: string | null,
    cacheControl: string | null, contentRange?: boolean): Verdict;
}

export interface MarkFound {
  id: bigint;
  /** Code symbols that agree with the id, of those read. */
  agreeing: number;
  seen: number;
}

export function protect<T extends Text>(text: T, options?: ProtectorOptions): Result<T>;
export function protectPage<T extends Text>(text: T, options?: ProtectorOptions): Result<T>;
export function protectContent<T extends Text>(text: T, options?: ProtectorOptions): Result<T>;
/** The stylesheet for hide "class" with this site key. */
export function stylesheet(siteKey: string): string;
/** The mark made with siteKey in a copied text, or null. */
export function trace(text: Text, siteKey: string): MarkFound | null;
export function isProtected(page: Text): boolean;
/** The WHATWG name of the set a browser reads the page in. */
export function detectCharset(page: Text, transport?: string | null): string;
export function protectedHeader(name: string): 'keep' | 'drop' | 'weaken' | 'length';
/** A fresh mark id: the time in seconds in the high 32 bits, 32 random bits in the low. */
export function newMarkId(): bigint;
export const version: string;
export function middleware(options: import('./middleware').MiddlewareOptions): import('./middleware').Middleware;
