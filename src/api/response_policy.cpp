// The web adapters' response policy: one place that decides which responses
// are protected and what protecting does to their headers.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "text/ascii.h"
#include "vantoro/response.h"

namespace vantoro {
namespace {

using internal::AsciiLower;
using internal::EqualsIgnoringCase;

constexpr std::string_view kSpaces = " \t";

std::string_view Trim(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kSpaces);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kSpaces) - start + 1);
}

// Text types whose bytes the passes would break: stylesheets and scripts get
// HTML comments and decoys, XML is case-sensitive, a stream never ends, data
// formats are read by programs.
constexpr std::array<std::string_view, 14> kBrokenTextTypes = {
    "text/css",          "text/javascript", "text/ecmascript",           "text/x-javascript",
    "text/jscript",      "text/xml",        "text/xsl",                  "text/event-stream",
    "text/csv",          "text/vtt",        "text/tab-separated-values", "text/calendar",
    "text/vcard",        "text/x-component",
};

}  // namespace

const char* VerdictName(Verdict verdict) noexcept {
  switch (verdict) {
    case Verdict::kProtect: return "protected";
    case Verdict::kStatus: return "status";
    case Verdict::kType: return "type";
    case Verdict::kEncoded: return "encoded";
    case Verdict::kNoTransform: return "no_transform";
    case Verdict::kRange: return "range";
    case Verdict::kEmpty: return "empty";
    case Verdict::kBypass: return "bypass";
    case Verdict::kTooLarge: return "too_large";
    case Verdict::kMemory: return "memory";
    case Verdict::kSent: return "sent";
    case Verdict::kError: return "error";
  }
  return "error";
}

std::string MediaType(std::string_view content_type) {
  std::string type(Trim(content_type.substr(0, content_type.find(';'))));
  for (char& c : type) c = AsciiLower(c);
  return type;
}

std::string_view CharsetParameter(std::string_view content_type) {
  std::size_t at = content_type.find(';');
  while (at != std::string_view::npos) {
    const std::size_t next = content_type.find(';', at + 1);
    std::string_view parameter = Trim(content_type.substr(at + 1, next - at - 1));
    const std::size_t equals = parameter.find('=');
    if (equals != std::string_view::npos &&
        EqualsIgnoringCase(Trim(parameter.substr(0, equals)), "charset")) {
      std::string_view value = Trim(parameter.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      return Trim(value);
    }
    at = next;
  }
  return {};
}

bool HasToken(std::string_view value, std::string_view token) {
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t end = value.find(',', start);
    std::string_view item = Trim(value.substr(start, end - start));
    // A directive with an argument ("max-age=60") is named before its "=".
    if (EqualsIgnoringCase(Trim(item.substr(0, item.find('='))), token)) return true;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}

ResponsePolicy::ResponsePolicy() : types_{"text/html"} {}

void ResponsePolicy::add_type(std::string_view media_type) {
  const std::string type = MediaType(media_type);
  auto refuse = [&](const char* why) {
    throw Error(ErrorCode::kInvalidArgument,
                "cannot protect the media type \"" + std::string(media_type) + "\": " + why);
  };
  if (type.empty()) refuse("it is empty");
  if (type.find('*') != std::string::npos) refuse("only named types can be protected");
  // XML is case-sensitive: re-cased tag names would make it ill-formed.
  if (type.ends_with("+xml") || type.ends_with("/xml")) {
    refuse("the passes would break it (XML is not HTML)");
  }
  if (type.rfind("text/", 0) != 0 || type.size() == 5) refuse("it is not a text type");
  for (std::string_view broken : kBrokenTextTypes) {
    if (type == broken) refuse("the passes would break it (it is not HTML)");
  }
  for (const std::string& known : types_) {
    if (known == type) return;
  }
  types_.push_back(type);
}

Verdict ResponsePolicy::Judge(const ResponseHead& head) const {
  if (head.status != 200) return Verdict::kStatus;
  const std::string type = MediaType(head.content_type);
  bool listed = false;
  for (const std::string& known : types_) listed |= known == type;
  if (!listed) return Verdict::kType;
  // Several codings, or one unknown to us: all bytes we cannot read.
  const std::string_view encoding = Trim(head.content_encoding);
  if (!encoding.empty() && !EqualsIgnoringCase(encoding, "identity")) return Verdict::kEncoded;
  if (HasToken(head.cache_control, "no-transform")) return Verdict::kNoTransform;
  if (head.content_range) return Verdict::kRange;
  return Verdict::kProtect;
}

HeaderAction ProtectedHeader(std::string_view name) noexcept {
  name = Trim(name);
  if (EqualsIgnoringCase(name, "content-length")) return HeaderAction::kLength;
  if (EqualsIgnoringCase(name, "etag")) return HeaderAction::kWeaken;
  constexpr std::array<std::string_view, 6> kDropped = {
      "last-modified", "accept-ranges", "content-md5", "digest", "content-digest", "repr-digest"};
  for (std::string_view dropped : kDropped) {
    if (EqualsIgnoringCase(name, dropped)) return HeaderAction::kDrop;
  }
  return HeaderAction::kKeep;
}

std::string WeakETag(std::string_view etag) {
  etag = Trim(etag);
  if (etag.starts_with("W/")) return std::string(etag);
  return "W/" + std::string(etag);
}

namespace {

// Calls `visit` with each part of `text` between separators, without
// allocating (the callers are noexcept).
template <typename Visit>
void ForEachPart(std::string_view text, char separator, Visit visit) {
  while (true) {
    const std::size_t end = text.find(separator);
    visit(text.substr(0, end));
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

// One policy (no commas): the sources of the first directive among `names`
// that it has, in the order of `names`, as browsers fall back from one to the
// next.
StyleSources PolicyStyleSources(std::string_view policy,
                                const std::array<std::string_view, 3>& names) noexcept {
  std::array<std::string_view, 3> sources;
  std::array<bool, 3> found = {false, false, false};
  ForEachPart(policy, ';', [&](std::string_view directive) {
    directive = Trim(directive);
    const std::size_t name_end = std::min(directive.find_first_of(kSpaces), directive.size());
    for (std::size_t n = 0; n < names.size(); ++n) {
      // The first directive of a name counts; browsers ignore the others.
      if (!found[n] && EqualsIgnoringCase(directive.substr(0, name_end), names[n])) {
        found[n] = true;
        sources[n] = directive.substr(name_end);
      }
    }
  });
  std::size_t n = 0;
  while (n < names.size() && !found[n]) ++n;
  if (n == names.size()) return StyleSources::kInline;

  // With a nonce or a hash, browsers ignore 'unsafe-inline'.
  constexpr std::array<std::string_view, 4> kNonceOrHash = {"'nonce-", "'sha256-", "'sha384-",
                                                            "'sha512-"};
  std::size_t count = 0;
  bool none = false, unsafe_inline = false, nonce_or_hash = false;
  std::string_view list = sources[n];
  while (!list.empty()) {
    const std::size_t start = list.find_first_not_of(kSpaces);
    if (start == std::string_view::npos) break;
    list.remove_prefix(start);
    const std::size_t end = std::min(list.find_first_of(kSpaces), list.size());
    const std::string_view source = list.substr(0, end);
    list.remove_prefix(end);
    ++count;
    if (EqualsIgnoringCase(source, "'none'")) {
      none = true;
    } else if (EqualsIgnoringCase(source, "'unsafe-inline'")) {
      unsafe_inline = true;
    } else {
      for (std::string_view prefix : kNonceOrHash) {
        if (source.size() > prefix.size() &&
            EqualsIgnoringCase(source.substr(0, prefix.size()), prefix)) {
          nonce_or_hash = true;
        }
      }
    }
  }
  // 'none' means nothing only alone; an empty list means the same.
  if (count == 0 || (none && count == 1)) return StyleSources::kNone;
  if (!unsafe_inline || nonce_or_hash) return StyleSources::kLinked;
  return StyleSources::kInline;
}

}  // namespace

StyleSources CspStyleSources(std::string_view policy, bool elements) noexcept {
  static constexpr std::array<std::string_view, 3> kAttributes = {"style-src-attr", "style-src",
                                                                  "default-src"};
  static constexpr std::array<std::string_view, 3> kElements = {"style-src-elem", "style-src",
                                                                "default-src"};
  // Every policy applies, so the strictest counts.
  StyleSources strictest = StyleSources::kInline;
  ForEachPart(policy, ',', [&](std::string_view one) {
    const StyleSources sources = PolicyStyleSources(one, elements ? kElements : kAttributes);
    if (static_cast<int>(sources) > static_cast<int>(strictest)) strictest = sources;
  });
  return strictest;
}

}  // namespace vantoro
