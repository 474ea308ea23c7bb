// The web adapters' response policy: which responses are protected, and what
// protecting does to their headers.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "vantoro/response.h"

namespace vantoro {
namespace {

ResponseHead Head(int status, std::string_view type, std::string_view encoding = {},
                  std::string_view cache_control = {}, bool content_range = false) {
  return {status, type, encoding, cache_control, content_range};
}

TEST(ResponsePolicy, JudgesTheHeadInOrder) {
  const ResponsePolicy policy;
  struct Case {
    ResponseHead head;
    Verdict verdict;
  };
  const Case cases[] = {
      {Head(200, "text/html"), Verdict::kProtect},
      {Head(200, " Text/HTML ; charset=\"GBK\""), Verdict::kProtect},
      {Head(200, "text/html", "identity"), Verdict::kProtect},
      {Head(200, "text/html", " IDENTITY "), Verdict::kProtect},
      {Head(200, "text/html", {}, "max-age=60, no-cache"), Verdict::kProtect},
      // a token that merely contains the name is another token
      {Head(200, "text/html", {}, "x-no-transform-please"), Verdict::kProtect},
      {Head(206, "text/html"), Verdict::kStatus},
      {Head(304, "text/html"), Verdict::kStatus},
      {Head(204, "text/html"), Verdict::kStatus},
      {Head(101, "text/html"), Verdict::kStatus},
      {Head(404, "text/html"), Verdict::kStatus},
      {Head(200, "text/plain"), Verdict::kType},
      {Head(200, ""), Verdict::kType},
      {Head(200, "text/htmlx"), Verdict::kType},
      {Head(200, "application/xhtml+xml"), Verdict::kType},
      {Head(200, "text/html", "gzip"), Verdict::kEncoded},
      {Head(200, "text/html", "identity, gzip"), Verdict::kEncoded},
      {Head(200, "text/html", {}, "public, No-Transform"), Verdict::kNoTransform},
      {Head(200, "text/html", {}, "no-transform=1"), Verdict::kNoTransform},
      {Head(200, "text/html", {}, {}, true), Verdict::kRange},
      // the first reason that applies is the one given
      {Head(206, "image/png", "gzip", "no-transform", true), Verdict::kStatus},
      {Head(200, "image/png", "gzip", "no-transform", true), Verdict::kType},
      {Head(200, "text/html", "br", "no-transform", true), Verdict::kEncoded},
      {Head(200, "text/html", {}, "no-transform", true), Verdict::kNoTransform},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(policy.Judge(c.head), c.verdict)
        << c.head.status << " " << c.head.content_type << " | " << c.head.content_encoding
        << " | " << c.head.cache_control << " | " << c.head.content_range;
  }
}

TEST(ResponsePolicy, AddsTextTypesAndRefusesWhatThePassesWouldBreak) {
  ResponsePolicy policy;
  policy.add_type("Text/Plain; charset=utf-8");
  policy.add_type("text/plain");  // once is enough
  EXPECT_EQ(policy.types(), (std::vector<std::string>{"text/html", "text/plain"}));
  EXPECT_EQ(policy.Judge(Head(200, "text/plain;charset=GBK")), Verdict::kProtect);

  for (std::string_view refused :
       {"*", "*/*", "text/*", "image/png", "application/octet-stream", "application/json",
        "application/xhtml+xml", "image/svg+xml", "text/css", "TEXT/JAVASCRIPT", "text/xml",
        "text/event-stream", "text/csv", "text/", "", "  "}) {
    try {
      policy.add_type(refused);
      ADD_FAILURE() << "accepted \"" << refused << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::kInvalidArgument);
      EXPECT_NE(std::string(e.what()).find("cannot protect the media type"), std::string::npos);
    }
  }
  EXPECT_EQ(policy.types().size(), 2u);  // a refused type changes nothing
}

TEST(ResponsePolicy, ContentTypeParts) {
  EXPECT_EQ(MediaType("  TEXT/Html ;charset=x"), "text/html");
  EXPECT_EQ(MediaType(""), "");
  const std::tuple<std::string_view, std::string_view> charsets[] = {
      {"text/html; charset=GBK", "GBK"},
      {"text/html;charset=\"windows-1251\"", "windows-1251"},
      {"text/html; foo=bar; CHARSET = Shift_JIS ", "Shift_JIS"},
      {"text/html; charsetx=no", ""},
      {"text/html", ""},
      {"charset=utf-8", ""},  // the media type is not a parameter
  };
  for (auto [type, charset] : charsets) EXPECT_EQ(CharsetParameter(type), charset) << type;
}

TEST(ResponsePolicy, HeadersOfAProtectedResponse) {
  EXPECT_EQ(ProtectedHeader("Content-Length"), HeaderAction::kLength);
  EXPECT_EQ(ProtectedHeader("etag"), HeaderAction::kWeaken);
  for (std::string_view dropped :
       {"Last-Modified", "ACCEPT-RANGES", "Content-MD5", "Digest", "Content-Digest", "Repr-Digest"}) {
    EXPECT_EQ(ProtectedHeader(dropped), HeaderAction::kDrop) << dropped;
  }
  for (std::string_view kept : {"Content-Type", "Cache-Control", "Set-Cookie", "Vary",
                                "Content-Security-Policy", "Last-Modified-By", "ETags"}) {
    EXPECT_EQ(ProtectedHeader(kept), HeaderAction::kKeep) << kept;
  }
  EXPECT_EQ(WeakETag("\"abc\""), "W/\"abc\"");
  EXPECT_EQ(WeakETag("W/\"abc\""), "W/\"abc\"");
}

TEST(ResponsePolicy, VerdictNames) {
  EXPECT_STREQ(VerdictName(Verdict::kProtect), "protected");
  EXPECT_STREQ(VerdictName(Verdict::kNoTransform), "no_transform");
  EXPECT_STREQ(VerdictName(Verdict::kTooLarge), "too_large");
  EXPECT_STREQ(VerdictName(Verdict::kError), "error");
}

// How a Content-Security-Policy lets a page be styled decides how decoys hide:
// getting it wrong either shows them (a policy read too loosely) or sends a page
// unprotected (read too strictly).
TEST(ResponsePolicy, StyleSourcesOfAContentSecurityPolicy) {
  constexpr auto kInline = StyleSources::kInline;
  constexpr auto kLinked = StyleSources::kLinked;
  constexpr auto kNone = StyleSources::kNone;
  const std::tuple<const char*, StyleSources, StyleSources> cases[] = {
      // policy, for style attributes, for <style> elements
      {"", kInline, kInline},
      {"script-src 'self'; img-src *", kInline, kInline},
      {"default-src 'self'", kLinked, kLinked},
      {"default-src 'self' 'unsafe-inline'", kInline, kInline},
      {"DEFAULT-SRC 'SELF' 'UNSAFE-INLINE'", kInline, kInline},
      {"style-src 'self'; default-src 'unsafe-inline'", kLinked, kLinked},
      {"default-src 'none'", kNone, kNone},
      {"default-src 'none' https://cdn.example", kLinked, kLinked},
      {"style-src", kNone, kNone},
      {"style-src 'unsafe-inline' 'nonce-abc'", kLinked, kLinked},
      {"style-src 'unsafe-inline' 'sha256-xyz='", kLinked, kLinked},
      {"style-src-attr 'unsafe-inline'; style-src 'self'", kInline, kLinked},
      {"style-src-elem 'none'; style-src 'unsafe-inline'", kInline, kNone},
      // only the first directive of a name counts
      {"style-src 'unsafe-inline'; style-src 'none'", kInline, kInline},
      {"  style-src\t'self'  ;  ", kLinked, kLinked},
      // several policies: every one applies, the strictest wins
      {"style-src 'unsafe-inline', default-src 'self'", kLinked, kLinked},
      {"style-src 'self', style-src 'none'", kNone, kNone},
      {"img-src *, style-src 'unsafe-inline'", kInline, kInline},
  };
  for (const auto& [policy, attributes, elements] : cases) {
    EXPECT_EQ(CspStyleSources(policy, false), attributes) << policy;
    EXPECT_EQ(CspStyleSources(policy, true), elements) << policy;
  }
}

}  // namespace
}  // namespace vantoro
