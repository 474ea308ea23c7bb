/* Vantoro's C interface: anti-harvesting markup for web pages, for C programs
 * and other languages' foreign-function layers. Plain C89.
 *
 * Protect a page:
 *
 *   vantoro_handle *h;
 *   char *out;
 *   size_t out_length;
 *   if (vantoro_create(&h) != VANTORO_OK) return;      (only out of memory fails)
 *   if (vantoro_protect_page(h, html, html_length, &out, &out_length) == VANTORO_OK) {
 *     fwrite(out, 1, out_length, stdout);
 *     vantoro_free(out);
 *   } else {
 *     fprintf(stderr, "%s\n", vantoro_last_error(h));
 *   }
 *   vantoro_destroy(h);
 *
 * Protect an article (a hidden copyright notice at every paragraph end and line
 * break), or both passes in one call:
 *
 *   vantoro_set_copyright(h, "Example Site:All rights reserved", 32);
 *   vantoro_protect_content(h, article, article_length, &out, &out_length);
 *   vantoro_protect(h, page, page_length, &out, &out_length);
 *
 * Reproduce an output: vantoro_replay(h, values, count) makes the handle's
 * following calls take every random decision from the given values.
 *
 * Texts go in as a pointer and a length: NUL bytes inside are data, and bytes
 * that are not valid UTF-8 pass through unchanged. Results are allocated by the
 * library, followed by one NUL byte that the length does not count, and released
 * with vantoro_free.
 *
 * Every call returns a status; nothing is thrown or aborted across this
 * interface, out of memory included. A failed call changes nothing and leaves
 * its outputs as NULL and 0; vantoro_last_error(h) then says why.
 *
 * Threads: handles are independent. One thread uses a handle at a time; any
 * number of threads may each use their own.
 */
#ifndef VANTORO_VANTORO_H_
#define VANTORO_VANTORO_H_

#include <stddef.h>

#include "vantoro/version.h"

/* For C++ callers: no function here throws. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define VANTORO_NOEXCEPT noexcept
#else
#define VANTORO_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum vantoro_status {
  VANTORO_OK = 0,
  VANTORO_NULL_ARGUMENT = 1,     /* a required pointer was NULL */
  VANTORO_INVALID_ARGUMENT = 2,  /* an unknown decoy kind, an empty character set name */
  VANTORO_UNKNOWN_CHARSET = 3,   /* the system cannot convert to that character set */
  VANTORO_REPLAY_EXHAUSTED = 4,  /* the replayed random values ran out */
  VANTORO_OUT_OF_MEMORY = 5,
  VANTORO_INTERNAL_ERROR = 6     /* a fault of the library; please report it */
} vantoro_status;

typedef enum vantoro_decoy_kind {
  VANTORO_DECOY_COPYRIGHT = 1,  /* a hidden copyright notice (the default) */
  VANTORO_DECOY_RANDOM = 2,     /* a hidden run of random characters */
  VANTORO_DECOY_BOTH = 3        /* random text ending in a whitespace character, the notice */
} vantoro_decoy_kind;

typedef enum vantoro_hide_method {
  VANTORO_HIDE_STYLE = 1,  /* an inline style attribute (the default) */
  VANTORO_HIDE_CLASS = 2   /* a class that the site's stylesheet hides (vantoro_stylesheet) */
} vantoro_hide_method;

typedef struct vantoro_handle vantoro_handle;

/* A new handle with the defaults: no copyright texts, copyright decoys, UTF-8. */
vantoro_status vantoro_create(vantoro_handle **out) VANTORO_NOEXCEPT;
/* Releases the handle; NULL is allowed and does nothing. */
void vantoro_destroy(vantoro_handle *handle) VANTORO_NOEXCEPT;

/* The site's copyright texts: entries separated by ",", parts by ":". */
vantoro_status vantoro_set_copyright(vantoro_handle *handle, const char *text,
                                     size_t length) VANTORO_NOEXCEPT;
vantoro_status vantoro_set_decoy_kind(vantoro_handle *handle,
                                      vantoro_decoy_kind kind) VANTORO_NOEXCEPT;
/* The pages' character set (a NUL-terminated name such as "GBK"); only the text
 * the library inserts is converted to it. ASCII must stay ASCII in it. */
vantoro_status vantoro_set_charset(vantoro_handle *handle, const char *name) VANTORO_NOEXCEPT;

/* How decoys hide. An inline style does not work where a Content-Security-Policy
 * forbids inline styles; VANTORO_HIDE_CLASS works there, with the stylesheet of
 * vantoro_stylesheet(site_key) served from the site's origin and linked in every
 * page. `site_key` (needed for VANTORO_HIDE_CLASS, ignored otherwise) names the
 * hiding classes. */
vantoro_status vantoro_set_hiding(vantoro_handle *handle, vantoro_hide_method method,
                                  const char *site_key, size_t length) VANTORO_NOEXCEPT;
/* Non-zero: each decoy carries data-nosnippet (search engines keep it out of
 * result snippets). Off by default: a fixed marker a scraper could strip by. */
vantoro_status vantoro_set_nosnippet(vantoro_handle *handle, int on) VANTORO_NOEXCEPT;
/* The stylesheet for VANTORO_HIDE_CLASS with `site_key` (not empty), released
 * with vantoro_free: the same for a key on every run and in every version. */
vantoro_status vantoro_stylesheet(const char *site_key, size_t length, char **out,
                                  size_t *out_length) VANTORO_NOEXCEPT;

/* The page pass, the content pass, and both (content, then page). */
vantoro_status vantoro_protect_page(vantoro_handle *handle, const char *page, size_t length,
                                    char **out, size_t *out_length) VANTORO_NOEXCEPT;
vantoro_status vantoro_protect_content(vantoro_handle *handle, const char *article,
                                       size_t length, char **out,
                                       size_t *out_length) VANTORO_NOEXCEPT;
vantoro_status vantoro_protect(vantoro_handle *handle, const char *page, size_t length,
                               char **out, size_t *out_length) VANTORO_NOEXCEPT;

/* Releases a result; NULL is allowed. */
void vantoro_free(char *result) VANTORO_NOEXCEPT;

/* The following calls on this handle take their random values, each in [0, 1),
 * from `values` in order (copied), until they run out
 * (VANTORO_REPLAY_EXHAUSTED) or replay is set again. A count of 0 goes back to
 * the handle's own random source. */
vantoro_status vantoro_replay(vantoro_handle *handle, const double *values,
                              size_t count) VANTORO_NOEXCEPT;

/* Why the last failed call on this handle failed ("" before any failure). The
 * text stays valid until the next call on the handle. */
const char *vantoro_last_error(const vantoro_handle *handle) VANTORO_NOEXCEPT;

/* A short name of a status ("VANTORO_OK", ...). */
const char *vantoro_status_name(vantoro_status status) VANTORO_NOEXCEPT;

/* The library's version, "MAJOR.MINOR.PATCH". */
const char *vantoro_version(void) VANTORO_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* VANTORO_VANTORO_H_ */
