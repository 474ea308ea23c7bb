// Vantoro: anti-harvesting markup for web pages.
//
// Protect a page: random letter case of tag and attribute names, random
// whitespace gaps and comments in tags, a watermark comment in front. The page
// renders as before; its markup differs on every call.
//
//   vantoro::Protector protector;                       // ready to use
//   std::string out = protector.protect_page(html);
//
// Protect an article: a hidden element with one of the site's copyright texts in
// front of every paragraph end ("</p") and line break ("<br").
//
//   protector.set_copyright("Example Site:All rights reserved");
//   std::string body = protector.protect_content(article_html);
//   std::string page = protector.protect(whole_page);   // content, then page pass
//
// Reproduce an output: install scripted values for the current thread
// (vantoro/random.h); every random decision then takes the next one.
//
//   vantoro::ScriptedRandomSource values({0.5, 0.25, 0.9 /* ... */});
//   vantoro::ScopedRandomSource use(values);
//   std::string same = protector.protect_page(html);
//
// Threads: an instance is used by one thread at a time, its const members
// included (a character-set converter keeps state). Instances share nothing but
// the random source, whose state is per thread. Copying an instance copies its
// options; a moved-from instance can only be assigned to or destroyed.
//
// Text is UTF-8 (or the page's own bytes: bytes that are not valid UTF-8 and
// NUL bytes pass through unchanged). Failures throw vantoro::Error
// (vantoro/error.h); a failed call returns nothing and changes nothing.
#ifndef VANTORO_PROTECTOR_H_
#define VANTORO_PROTECTOR_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vantoro/error.h"
#include "vantoro/random.h"
#include "vantoro/version.h"

namespace vantoro {

// What the content pass puts in front of each paragraph end and line break.
enum class DecoyKind {
  kCopyright = 1,   // a hidden copyright notice
  kRandomText = 2,  // a hidden run of random characters (printable, TAB and LF)
  kBoth = 3,        // random text ending in one whitespace character, then the notice
};

// How a decoy hides.
enum class HideMethod {
  kStyle = 1,  // an inline style attribute
  kClass = 2,  // a class that the site's stylesheet hides (see Stylesheet)
  // A class as with kClass, and in addition copy-visible notices: elements
  // that a second class clips out of layout and sight and aria-hidden keeps
  // from screen readers, while they stay in the rendered text (innerText, what
  // a person or a program copies). The stylesheet goes into the page as a
  // <style> element where its head begins, or is linked (stylesheet_link)
  // where a Content-Security-Policy forbids inline styles.
  kLayered = 3,
};

struct PageOptions {
  // tdm_reservation (false): the page pass puts <meta name="tdm-reservation"
  // content="1"> where the page's head begins (unless the page names
  // tdm-reservation already): text and data mining rights are reserved, in
  // the form the TDM Reservation Protocol gives.
  bool tdm_reservation = false;
};

// Option (default): meaning.
struct ContentOptions {
  // copyright (""): the site's copyright texts, entries separated by "," (one is
  // drawn per decoy), parts by ":" (each gets a random separator in front).
  // Empty (or only separators): the content pass refuses copyright decoys,
  // unless empty_notices asks for them.
  std::string copyright;
  // decoy (kCopyright): what each decoy holds.
  DecoyKind decoy = DecoyKind::kCopyright;
  // hide (kStyle): how each decoy hides. An inline style works everywhere but
  // where a Content-Security-Policy forbids inline styles (a style-src or
  // default-src without 'unsafe-inline'): browsers then show the notices. Use
  // kClass there, with the stylesheet of Stylesheet(site_key) served from the
  // site's own origin and linked in every page.
  HideMethod hide = HideMethod::kStyle;
  // site_key (""): names the hiding classes and keys the marks; required for
  // kClass and for marks. Keep it the same for a site, so that its stylesheet
  // can be cached, and secret where marks are used: whoever has it can make
  // and trace them. Without it, kLayered names its classes after the
  // copyright texts.
  std::string site_key;
  // copy_notices (4): with kLayered, a copy-visible notice at the first decoy
  // and at every copy_notices-th after it; 1: at every decoy; 0: only at the
  // first. Random-text decoys get none.
  std::size_t copy_notices = 4;
  // marks (false): marks in the visible text, carrying the id set with
  // set_mark_id, authenticated with site_key (required): invisible variation
  // selectors behind sentence-final punctuation of the prose and at the end of
  // every copyright notice. Trace finds them in a copy.
  bool marks = false;
  // nosnippet (false): adds data-nosnippet to each decoy, so that search
  // engines keep the notices out of result snippets. Off by default: it is a
  // fixed marker that a scraper could strip decoys by.
  bool nosnippet = false;
  // stylesheet_link (""): with kClass, the address of the stylesheet of
  // Stylesheet(site_key); the content pass then links it where the page's head
  // begins (right behind the <head> start tag, else before the first tag, else
  // at the end), so that every protected page has it. Must not hold '"', '<',
  // '>' or control characters.
  std::string stylesheet_link;
  // empty_notices (false): copyright decoys with no copyright text are refused
  // (the content pass would hide nothing worth finding); true allows them.
  bool empty_notices = false;
};

struct Options {
  PageOptions page;
  ContentOptions content;
  // charset ("auto"): the pages' character set. Pages pass through byte for
  // byte; the text the passes insert (the watermark, the euro sign among random
  // characters, the copyright texts, given in UTF-8) is converted to it, and a
  // character it cannot hold becomes a numeric character reference ("&#8364;").
  // The set must keep ASCII as ASCII (UTF-16 and UTF-32 are refused).
  // "auto": each page's own, as a browser finds it (see DetectCharset), with
  // the transport's charset from set_transport_charset.
  std::string charset = "auto";
};

class Protector {
 public:
  // Throws Error (kInvalidArgument, kUnknownCharset) for unusable options.
  Protector();
  explicit Protector(Options options);
  ~Protector();
  Protector(const Protector& other);
  Protector& operator=(const Protector& other);
  Protector(Protector&&) noexcept;
  Protector& operator=(Protector&&) noexcept;

  const Options& options() const noexcept;
  // Each setter validates first and changes nothing when it throws.
  void set_options(Options options);
  void set_copyright(std::string_view text);
  void set_decoy_kind(DecoyKind kind);
  void set_charset(std::string_view name);
  void set_hiding(HideMethod method, std::string_view site_key = {});

  // What the transport (an HTTP Content-Type's charset parameter) says the
  // following pages are in; empty: it says nothing. Used by charset "auto"
  // only. An unknown label is ignored, as browsers ignore it. Never throws
  // but for memory.
  void set_transport_charset(std::string_view label);

  // The 64-bit id the marks of the following pages carry (0 at first): the
  // request that served a page, say. Never throws.
  void set_mark_id(std::uint64_t id) noexcept;

  // The page pass: the whole page re-marked, with the watermark in front and the
  // document type declaration first (a byte order mark stays before it).
  std::string protect_page(std::string_view page) const;
  // The content pass: decoys in front of every "</p" and then every "<br" outside
  // comments, raw text (script, style, textarea, title, xmp), svg and math.
  // Throws Error (kInvalidArgument) for copyright decoys without a copyright
  // text, unless empty_notices; (kUnknownCharset) when charset "auto" finds a
  // set the system cannot convert to, or one whose markup is not ASCII.
  std::string protect_content(std::string_view article) const;
  // Both, as a site does with a whole page: the bytes of the content pass
  // followed by the page pass, with the same random draws in the same order.
  // The page is scanned once for both (the page pass then reads only the
  // decoys), except when a copyright text holds markup or the page holds NUL
  // bytes: then the passes run one after the other.
  std::string protect(std::string_view page) const;

  // The same passes on a page the caller gives up (std::move): its memory is
  // reused, so a large page costs about one copy less. The page is gone
  // afterwards, also when the call throws.
  std::string protect_page(std::string&& page) const;
  std::string protect(std::string&& page) const;
  // The same, written into `out`, whose memory is reused: a caller protecting
  // page after page into one string allocates nothing once it is large enough.
  // `page` must not lie in `out`; a failed call leaves `out` empty.
  void protect_page(std::string_view page, std::string& out) const;
  void protect_content(std::string_view article, std::string& out) const;
  void protect(std::string_view page, std::string& out) const;
  std::string protect_page(const char* page) const { return protect_page(std::string_view(page)); }
  std::string protect(const char* page) const { return protect(std::string_view(page)); }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The stylesheet of the decoys of HideMethod::kClass and kLayered for
// `site_key`: the same on every run and in every version. Throws Error
// (kInvalidArgument) for an empty key.
std::string Stylesheet(std::string_view site_key);

// A mark found in a text.
struct MarkFound {
  std::uint64_t id;
  std::size_t agreeing;  // code symbols that the id's code has
  std::size_t seen;      // code symbols read (distinct positions)
};

// The ids marked into `text` (UTF-8 plain text, HTML, or a browser's innerText;
// selectors written as numeric character references count too) under
// `site_key`, the best evidence first. An unmarked text, or one marked under
// another key, gives none: the chance of a false find is below 2^-40 per text.
// Throws Error (kInvalidArgument) for an empty key.
std::vector<MarkFound> Trace(std::string_view text, std::string_view site_key);

// The character set a browser reads `page` in, by its name in the WHATWG
// Encoding Standard ("UTF-8", "windows-1252", "GBK", "Shift_JIS", ...): the
// byte order mark's; else `transport` (the HTTP Content-Type's charset
// parameter) when it names a known set; else the page's own declaration in its
// first 1024 bytes (<meta charset="...">, or <meta http-equiv="Content-Type"
// content="...; charset=...">), found as a browser's pre-scan finds it; else
// "UTF-8". The name is static storage, NUL-terminated.
std::string_view DetectCharset(std::string_view page, std::string_view transport = {}) noexcept;

// Whether `page` already went through the page pass: its watermark stands at
// the start (behind a byte order mark and the declarations), in any character
// set that keeps ASCII. The content pass leaves no watermark.
bool IsProtected(std::string_view page) noexcept;

// The memory each thread keeps between calls for the passes' working buffers,
// per buffer (4 MB at first), for every thread at once. A page that needs more
// frees the rest after its call; a server that protects large pages one after
// another sets it above their size, so that their buffers are reused instead
// of faulted in afresh on every page.
void SetRetainedMemory(std::size_t bytes) noexcept;
std::size_t RetainedMemory() noexcept;

// The library's version, "MAJOR.MINOR.PATCH".
const char* Version() noexcept;

}  // namespace vantoro

#endif  // VANTORO_PROTECTOR_H_
