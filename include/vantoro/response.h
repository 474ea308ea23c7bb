// Which HTTP responses a web adapter protects, and what protecting one does to
// its headers: the one rule the nginx module, the WSGI middleware and the PHP
// output handler all follow.
//
//   vantoro::ResponsePolicy policy;              // text/html
//   policy.add_type("text/plain");               // refuses "*", images, CSS, ...
//   vantoro::Verdict v = policy.Judge({200, "text/html; charset=utf-8", "", "max-age=60", false});
//   if (v == vantoro::Verdict::kProtect) { /* hold the body, protect it, edit the headers */ }
//   log(vantoro::VerdictName(v));                // "protected", "encoded", ...
//
// Only a complete 200 response of a protected type, in plain bytes, that the
// sender allows to be transformed is protected. Everything else goes out
// exactly as it came, and the adapter says why with the verdict's name.
//
// A protected response's headers (ProtectedHeader): Content-Length becomes the
// result's length (or goes, when the result is not known, as for HEAD), an ETag
// becomes weak, Last-Modified, Accept-Ranges and body digests go. A HEAD request
// is judged as the GET of the same resource and gets the same headers, without
// a length. A Range request of a protected resource gets the whole protected
// page with status 200: a slice of the original is a body no GET returns.
#ifndef VANTORO_RESPONSE_H_
#define VANTORO_RESPONSE_H_

#include <string>
#include <string_view>
#include <vector>

#include "vantoro/error.h"

namespace vantoro {

// Why a response went out as it did. The names are the values of the nginx
// module's $vantoro_status and of the middlewares' debug header.
enum class Verdict {
  kProtect,      // "protected"
  kStatus,       // "status": not 200 (1xx, 204, 206, 304, redirects, errors)
  kType,         // "type": not one of the protected media types
  kEncoded,      // "encoded": a Content-Encoding other than identity
  kNoTransform,  // "no_transform": Cache-Control: no-transform
  kRange,        // "range": a Content-Range, so only part of a resource
  kEmpty,        // "empty": no body
  kBypass,       // "bypass": the site exempted the request (nginx's vantoro_bypass)
  kTooLarge,     // "too_large": larger than the adapter's limit on one page
  kMemory,       // "memory": over the adapter's limit on the memory of all pages in progress
  kSent,         // "sent": part of the response had gone out before the adapter saw it
  kError,        // "error": the engine failed (an unusable character set, say)
};

// The verdict's name, as listed above.
const char* VerdictName(Verdict verdict) noexcept;

// What the policy reads of a response. A header sent several times is given
// once, its values joined by ", "; an absent one is empty.
struct ResponseHead {
  int status = 200;
  std::string_view content_type;
  std::string_view content_encoding;
  std::string_view cache_control;
  bool content_range = false;  // a Content-Range header is present
};

class ResponsePolicy {
 public:
  // Protects text/html.
  ResponsePolicy();

  // Protects `media_type` too ("text/plain"; parameters and case are ignored).
  // Throws Error (kInvalidArgument) for "*", a type with a wildcard, a type
  // that is not text/..., and text types the passes would break: CSS, scripts,
  // XML (case-sensitive tag names), event streams (never complete), ...
  void add_type(std::string_view media_type);
  const std::vector<std::string>& types() const noexcept { return types_; }

  // The verdict on a response, from its head alone: kProtect, kStatus, kType,
  // kEncoded, kNoTransform or kRange, tested in that order. The other verdicts
  // are the adapters' own.
  Verdict Judge(const ResponseHead& head) const;

 private:
  std::vector<std::string> types_;  // lower case, without parameters
};

// The media type of a Content-Type value: without parameters and surrounding
// whitespace, in lower case ("Text/HTML; charset=UTF-8" -> "text/html").
std::string MediaType(std::string_view content_type);

// The charset parameter of a Content-Type value, unquoted; empty without one.
std::string_view CharsetParameter(std::string_view content_type);

// Whether a comma-separated header value (Cache-Control, ...) lists `token`,
// ASCII case ignored.
bool HasToken(std::string_view value, std::string_view token);

// What protecting a response does to one of its headers (name in any case).
enum class HeaderAction {
  kKeep,
  kDrop,      // Last-Modified, Accept-Ranges, Content-MD5, Digest, Content-Digest, Repr-Digest
  kWeaken,    // ETag: the body changes on every response, so at most weakly equal
  kLength,    // Content-Length: the result's length, or dropped when it is not known
};
HeaderAction ProtectedHeader(std::string_view name) noexcept;

// A weak form of an entity tag: "W/" in front, unless it has one.
std::string WeakETag(std::string_view etag);

// What a response's Content-Security-Policy lets style its page, which decides
// how decoys can be hidden: inline (style attributes or <style> elements,
// whichever is asked), only stylesheets from addresses, or nothing at all.
enum class StyleSources {
  kInline = 0,  // no policy governs styles, or it allows 'unsafe-inline' (without nonces or hashes)
  kLinked = 1,  // stylesheets from the sources it lists, nothing inline
  kNone = 2,    // 'none', or no source at all
};

// Reads a Content-Security-Policy header value (several policies joined by
// ", " count as all of them: the strictest wins) for style attributes
// (style-src-attr, else style-src, else default-src) or, with `elements`, for
// <style> elements (style-src-elem, else style-src, else default-src). As
// browsers do, 'unsafe-inline' is ignored beside a nonce or a hash, and the
// first directive of a name counts.
StyleSources CspStyleSources(std::string_view policy, bool elements) noexcept;

}  // namespace vantoro

#endif  // VANTORO_RESPONSE_H_
