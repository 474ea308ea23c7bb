/// <reference types="node" />
// Types of vantoro/middleware (middleware.js).
import type { IncomingMessage, ServerResponse } from 'http';
import type { ProtectorOptions } from './index';

declare module 'http' {
  interface IncomingMessage {
    /** The id the marks of this request's page carry (with marks). */
    vantoroMarkId?: bigint;
  }
}

/** The middleware: protects the text/html responses the library's policy allows. */
declare function protectMiddleware(options: protectMiddleware.MiddlewareOptions): protectMiddleware.Middleware;

declare namespace protectMiddleware {
  interface MiddlewareOptions extends Omit<ProtectorOptions, 'markId' | 'transportCharset'> {
    /** Which passes run (default "both"). */
    passes?: 'both' | 'page' | 'content';
    /** Further text media types to protect. */
    types?: string | string[];
    /** The largest body held, in bytes (default 8 MiB); a larger one goes out unchanged. */
    maxSize?: number;
    /** Bodies of at least this many bytes (default 1 MiB) are protected on libuv's thread pool. */
    asyncMinSize?: number;
    /** "X-Vantoro-Status: <verdict>" on every response. */
    debug?: boolean;
    /** Sent as "tdm-policy" (needs tdmReservation). */
    tdmPolicy?: string;
    /** The request's mark id (with marks). */
    newMarkId?(req: IncomingMessage): bigint | number;
    /** Told the request's mark id before the application runs. */
    onMark?(req: IncomingMessage, id: bigint): void;
    /** A true result lets the request through untouched. */
    bypass?(req: IncomingMessage): unknown;
    /** Where failures (error) and reasons (debug) go. */
    logger?: { error(message: string): void; debug?(message: string): void };
  }

  type Middleware = (req: IncomingMessage, res: ServerResponse, next: (error?: unknown) => void) => void;

  const MARK_ID_PROPERTY: 'vantoroMarkId';
  function protectMiddleware(options: MiddlewareOptions): Middleware;
}

export = protectMiddleware;
