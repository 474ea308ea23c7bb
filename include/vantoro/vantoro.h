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
  VANTORO_HIDE_CLASS = 2,  /* a class that the site's stylesheet hides (vantoro_stylesheet) */
  /* A class as with VANTORO_HIDE_CLASS, plus copy-visible notices: out of
   * layout, sight and screen readers, but in the rendered text and in what is
   * copied. The stylesheet goes into the page as a <style> element, or is
   * linked (vantoro_set_stylesheet_link) where inline styles are forbidden. */
  VANTORO_HIDE_LAYERED = 3
} vantoro_hide_method;

typedef struct vantoro_handle vantoro_handle;

/* A new handle with the defaults: no copyright texts, copyright decoys, charset "auto". */
vantoro_status vantoro_create(vantoro_handle **out) VANTORO_NOEXCEPT;
/* Releases the handle; NULL is allowed and does nothing. */
void vantoro_destroy(vantoro_handle *handle) VANTORO_NOEXCEPT;

/* The site's copyright texts: entries separated by ",", parts by ":". */
vantoro_status vantoro_set_copyright(vantoro_handle *handle, const char *text,
                                     size_t length) VANTORO_NOEXCEPT;
vantoro_status vantoro_set_decoy_kind(vantoro_handle *handle,
                                      vantoro_decoy_kind kind) VANTORO_NOEXCEPT;
/* The pages' character set (a NUL-terminated name such as "GBK"); only the text
 * the library inserts is converted to it. ASCII must stay ASCII in it. "auto",
 * the default: each page's own, as a browser finds it (vantoro_detect_charset),
 * with the charset set by vantoro_set_transport_charset. */
vantoro_status vantoro_set_charset(vantoro_handle *handle, const char *name) VANTORO_NOEXCEPT;
/* What the transport (an HTTP Content-Type's charset parameter) says the
 * following pages are in, for "auto"; NULL or "" when it says nothing. An
 * unknown label is ignored, as browsers ignore it. */
vantoro_status vantoro_set_transport_charset(vantoro_handle *handle,
                                             const char *label) VANTORO_NOEXCEPT;
/* The character set a browser reads the page in, by its name in the WHATWG
 * Encoding Standard ("UTF-8", "windows-1252", "GBK", ...): the byte order
 * mark's, else `transport` (may be NULL) when it names a known set, else the
 * page's own <meta> declaration in its first 1024 bytes, else "UTF-8". A static
 * string; NULL only for a NULL page with a length. */
const char *vantoro_detect_charset(const char *page, size_t length,
                                   const char *transport) VANTORO_NOEXCEPT;
/* Non-zero: copyright decoys without a copyright text are allowed (by default
 * the content pass refuses them with VANTORO_INVALID_ARGUMENT). */
vantoro_status vantoro_set_empty_notices(vantoro_handle *handle, int on) VANTORO_NOEXCEPT;

/* How decoys hide. An inline style does not work where a Content-Security-Policy
 * forbids inline styles; VANTORO_HIDE_CLASS works there, with the stylesheet of
 * vantoro_stylesheet(site_key) served from the site's origin and linked in every
 * page. `site_key` (needed for VANTORO_HIDE_CLASS, ignored otherwise) names the
 * hiding classes. */
vantoro_status vantoro_set_hiding(vantoro_handle *handle, vantoro_hide_method method,
                                  const char *site_key, size_t length) VANTORO_NOEXCEPT;
/* With VANTORO_HIDE_CLASS, the address of the stylesheet: the content pass
 * links it (<link rel="stylesheet" href="...">) where the page's head begins.
 * Empty: no link. Must not hold '"', '<', '>' or control characters. */
vantoro_status vantoro_set_stylesheet_link(vantoro_handle *handle, const char *uri,
                                           size_t length) VANTORO_NOEXCEPT;
/* Non-zero: each decoy carries data-nosnippet (search engines keep it out of
 * result snippets). Off by default: a fixed marker a scraper could strip by. */
vantoro_status vantoro_set_nosnippet(vantoro_handle *handle, int on) VANTORO_NOEXCEPT;
/* With VANTORO_HIDE_LAYERED: a copy-visible notice at the first decoy and at
 * every `every`-th after it (default 4); 1: at every decoy; 0: only the first. */
vantoro_status vantoro_set_copy_notices(vantoro_handle *handle, size_t every) VANTORO_NOEXCEPT;
/* Non-zero: marks in the visible text (invisible variation selectors behind
 * sentence ends and in every notice), carrying the id of vantoro_set_mark_id,
 * authenticated with the site key of vantoro_set_hiding, which they need. */
vantoro_status vantoro_set_marks(vantoro_handle *handle, int on) VANTORO_NOEXCEPT;
/* The 64-bit id the following pages' marks carry, as 8 bytes, most significant
 * first (all zero at first). */
vantoro_status vantoro_set_mark_id(vantoro_handle *handle,
                                   const unsigned char id[8]) VANTORO_NOEXCEPT;
/* Looks for marks made with `site_key` in a copied text (UTF-8 plain text,
 * HTML or a browser's innerText). When one is found, *found is 1 and `id_out`
 * (8 bytes, most significant first), *agreeing and *seen (code symbols that
 * agree, and read) describe the best; otherwise *found is 0. An unmarked or
 * foreign text passes for marked less than once in 2^40. */
vantoro_status vantoro_trace(const char *text, size_t length, const char *site_key,
                             size_t key_length, int *found, unsigned char id_out[8],
                             size_t *agreeing, size_t *seen) VANTORO_NOEXCEPT;
/* Non-zero: the page pass puts <meta name="tdm-reservation" content="1"> where
 * the page's head begins (unless the page has one): text and data mining
 * rights are reserved, machine-readably. */
vantoro_status vantoro_set_tdm_reservation(vantoro_handle *handle, int on) VANTORO_NOEXCEPT;
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

/* Non-zero when the page already went through the page pass (its watermark
 * stands at the start). */
int vantoro_is_protected(const char *page, size_t length) VANTORO_NOEXCEPT;

/* Releases a result; NULL is allowed. */
void vantoro_free(char *result) VANTORO_NOEXCEPT;

/* The memory each thread keeps between calls for the passes' working buffers,
 * per buffer (4 MB at first), for every thread at once: a server protecting
 * large pages one after another sets it above their size, so that their
 * buffers are reused instead of faulted in afresh. */
void vantoro_set_retained_memory(size_t bytes) VANTORO_NOEXCEPT;

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

/* ---- Web adapters: which responses are protected ----------------------------
 *
 * One policy for every web adapter: only a 200 response of a protected media
 * type, not encoded, without "Cache-Control: no-transform" and without a
 * Content-Range, is protected; everything else goes out as it came. A HEAD
 * request is judged as the GET would be and gets the headers a GET gets
 * (without a length). A protected response's headers change as
 * vantoro_protected_header says. */

typedef enum vantoro_verdict {
  VANTORO_VERDICT_PROTECT = 0,       /* "protected" */
  VANTORO_VERDICT_STATUS = 1,        /* "status": not 200 */
  VANTORO_VERDICT_TYPE = 2,          /* "type": not a protected media type */
  VANTORO_VERDICT_ENCODED = 3,       /* "encoded": a Content-Encoding other than identity */
  VANTORO_VERDICT_NO_TRANSFORM = 4,  /* "no_transform": Cache-Control: no-transform */
  VANTORO_VERDICT_RANGE = 5,         /* "range": a Content-Range */
  VANTORO_VERDICT_EMPTY = 6,         /* "empty": no body */
  VANTORO_VERDICT_BYPASS = 7,        /* "bypass": the site exempted the request */
  VANTORO_VERDICT_TOO_LARGE = 8,     /* "too_large": over the adapter's size limit */
  VANTORO_VERDICT_MEMORY = 9,        /* "memory": over the adapter's memory limit */
  VANTORO_VERDICT_SENT = 10,         /* "sent": output had gone out before the adapter */
  VANTORO_VERDICT_ERROR = 11         /* "error": the engine failed */
} vantoro_verdict;

typedef enum vantoro_header_action {
  VANTORO_HEADER_KEEP = 0,
  VANTORO_HEADER_DROP = 1,    /* Last-Modified, Accept-Ranges, body digests */
  VANTORO_HEADER_WEAKEN = 2,  /* ETag: "W/" in front unless it has one */
  VANTORO_HEADER_LENGTH = 3   /* Content-Length: the result's length, or dropped */
} vantoro_header_action;

typedef struct vantoro_policy vantoro_policy;

/* A policy that protects text/html. */
vantoro_status vantoro_policy_create(vantoro_policy **out) VANTORO_NOEXCEPT;
void vantoro_policy_destroy(vantoro_policy *policy) VANTORO_NOEXCEPT;
/* Protects the media type too; VANTORO_INVALID_ARGUMENT for "*", wildcards,
 * types that are not text and text the passes would break (CSS, scripts, XML,
 * event streams, ...), with the reason in vantoro_policy_last_error. */
vantoro_status vantoro_policy_add_type(vantoro_policy *policy, const char *type,
                                       size_t length) VANTORO_NOEXCEPT;
const char *vantoro_policy_last_error(const vantoro_policy *policy) VANTORO_NOEXCEPT;
/* The verdict on a response from its head: the status, the Content-Type,
 * Content-Encoding and Cache-Control values (several of one header joined by
 * ", "; NULL with length 0 when absent) and whether it has a Content-Range.
 * Gives PROTECT, STATUS, TYPE, ENCODED, NO_TRANSFORM or RANGE. */
vantoro_verdict vantoro_policy_judge(const vantoro_policy *policy, int status,
                                     const char *content_type, size_t content_type_length,
                                     const char *content_encoding,
                                     size_t content_encoding_length,
                                     const char *cache_control, size_t cache_control_length,
                                     int content_range) VANTORO_NOEXCEPT;
/* The verdict's name ("protected", "encoded", ...). */
const char *vantoro_verdict_name(vantoro_verdict verdict) VANTORO_NOEXCEPT;
/* What protecting a response does to the header of this name (any case). */
vantoro_header_action vantoro_protected_header(const char *name,
                                               size_t length) VANTORO_NOEXCEPT;

/* What a response's Content-Security-Policy (a header value; several policies
 * joined by ", " count as all of them) lets style its page: style attributes
 * (elements 0) or <style> elements (elements 1). */
typedef enum vantoro_style_sources {
  VANTORO_STYLES_INLINE = 0,  /* inline styles allowed, or no policy on styles */
  VANTORO_STYLES_LINKED = 1,  /* only stylesheets from the sources listed */
  VANTORO_STYLES_NONE = 2     /* no stylesheet at all */
} vantoro_style_sources;
vantoro_style_sources vantoro_csp_style_sources(const char *policy, size_t length,
                                                int elements) VANTORO_NOEXCEPT;

/* The library's version, "MAJOR.MINOR.PATCH". */
const char *vantoro_version(void) VANTORO_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* VANTORO_VANTORO_H_ */
