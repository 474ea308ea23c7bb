// The public C++ API: options checked and prepared once when set (copyright
// entries parsed, the character set opened), passes run on the typed engine.
#include "vantoro/protector.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "api/charset_encoder.h"
#include "content/content_pass.h"
#include "content/copyright.h"
#include "content/decoys.h"
#include "html/encoding_sniffer.h"
#include "html/head_start.h"
#include "mark/mark_code.h"
#include "mark/reed_solomon.h"
#include "mark/sentence_marks.h"
#include "random/draws.h"
#include "page/page_pass.h"
#include "page/tag_rule.h"
#include "text/ascii.h"
#include "text/kept_string.h"

namespace vantoro {

namespace {

// A copyright text with nothing but separators gives decoys without a notice.
bool HasNotice(std::string_view copyright) {
  return copyright.find_first_not_of(",:") != std::string_view::npos;
}

bool IsAuto(std::string_view charset) { return internal::EqualsIgnoringCase(charset, "auto"); }

// What "auto" settles on, as an encoding name; throws when the page cannot be
// protected in it.
std::string_view ResolvedEncoding(std::string_view page, std::string_view transport) noexcept {
  std::string_view encoding = internal::BomEncoding(page);
  if (encoding.empty()) encoding = internal::EncodingForLabel(transport);
  if (encoding.empty()) encoding = internal::PrescanEncoding(page);
  if (encoding.empty()) encoding = "UTF-8";
  return encoding;
}

}  // namespace

struct Protector::State {
  // The text inserted into pages of one character set: its converter and the
  // copyright entries already in it.
  struct Charset {
    std::string name;
    std::unique_ptr<internal::CharsetEncoder> converter;
    internal::TextEncoder encoder;  // empty for UTF-8
    std::vector<internal::CopyrightEntry> copyright;
  };

  Options options;
  std::vector<std::string> class_names;  // for HideMethod::kClass and kLayered
  std::vector<std::string> copy_names;   // for kLayered
  std::string link;                      // the stylesheet link or element, or empty
  std::unique_ptr<internal::MarkKey> mark_key;  // with marks
  std::uint64_t mark_id = 0;
  std::array<std::uint8_t, 255> codeword{};
  std::string transport;                 // set_transport_charset
  // Prepared character sets, the one of an explicit charset first. "auto"
  // meets a new set only with a page in it; a few are kept.
  mutable std::vector<std::unique_ptr<Charset>> charsets;

  explicit State(Options given) : options(std::move(given)) {
    switch (options.content.decoy) {
      case DecoyKind::kCopyright:
      case DecoyKind::kRandomText:
      case DecoyKind::kBoth: break;
      default: throw Error(ErrorCode::kInvalidArgument, "unknown decoy kind");
    }
    switch (options.content.hide) {
      case HideMethod::kStyle: break;
      case HideMethod::kClass:
        if (options.content.site_key.empty()) {
          throw Error(ErrorCode::kInvalidArgument, "hiding by class needs a site key");
        }
        class_names = internal::HidingClassNames(options.content.site_key);
        break;
      case HideMethod::kLayered: {
        const std::string& naming =
            options.content.site_key.empty() ? options.content.copyright : options.content.site_key;
        class_names = internal::HidingClassNames(naming);
        copy_names = internal::CopyVisibleClassNames(naming);
        break;
      }
      default: throw Error(ErrorCode::kInvalidArgument, "unknown hiding method");
    }
    const std::string& uri = options.content.stylesheet_link;
    for (char c : uri) {
      if (c == '"' || c == '<' || c == '>' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
        throw Error(ErrorCode::kInvalidArgument,
                    "the stylesheet link must not hold '\"', '<', '>' or control characters");
      }
    }
    if (!uri.empty() && options.content.hide != HideMethod::kStyle) {
      link = "<link rel=\"stylesheet\" href=\"" + uri + "\">";
    } else if (options.content.hide == HideMethod::kLayered) {
      const std::string& naming =
          options.content.site_key.empty() ? options.content.copyright : options.content.site_key;
      link = "<style>" + internal::HidingStylesheet(naming) + "</style>";
    }
    if (options.content.marks) {
      if (options.content.site_key.empty()) {
        throw Error(ErrorCode::kInvalidArgument, "marks need a site key");
      }
      mark_key = std::make_unique<internal::MarkKey>(internal::DeriveMarkKey(options.content.site_key));
      codeword = internal::MarkCodeword(*mark_key, mark_id);
    }
    // An explicit set is checked now; "auto" starts with UTF-8 ready.
    Prepare(IsAuto(options.charset) ? std::string("UTF-8") : options.charset);
  }

  const Charset& Prepare(const std::string& name) const {
    for (const auto& charset : charsets) {
      if (charset->name == name) return *charset;
    }
    auto charset = std::make_unique<Charset>();
    charset->name = name;
    charset->converter = std::make_unique<internal::CharsetEncoder>(name);
    if (!charset->converter->is_utf8()) {
      charset->encoder = [converter = charset->converter.get()](std::string_view utf8) {
        return converter->Encode(utf8);
      };
    }
    charset->copyright =
        internal::ParseCopyright(internal::Encoded(charset->encoder, options.content.copyright));
    constexpr std::size_t kKept = 8;
    if (charsets.size() == kKept) charsets.erase(charsets.begin() + 1);
    charsets.push_back(std::move(charset));
    return *charsets.back();
  }

  const Charset& For(std::string_view page) const {
    if (!IsAuto(options.charset)) return *charsets.front();
    const std::string_view encoding = ResolvedEncoding(page, transport);
    const std::string_view converter = internal::IconvName(encoding);
    if (converter.empty()) {
      throw Error(ErrorCode::kUnknownCharset,
                  "the page is in " + std::string(encoding) + ", which cannot be protected");
    }
    return Prepare(std::string(converter));
  }

  void CheckNotices() const {
    if (options.content.decoy != DecoyKind::kRandomText && !options.content.empty_notices &&
        !HasNotice(options.content.copyright)) {
      throw Error(ErrorCode::kInvalidArgument,
                  "copyright decoys need a copyright text (or random decoys, or empty "
                  "notices asked for)");
    }
  }

  internal::PageSettings page_settings(const Charset& charset) const {
    return {internal::CommonAttributes(), internal::DefaultVersionText(), &charset.encoder};
  }

  internal::ContentSettings content_settings(const Charset& charset) const {
    internal::DecoyContent decoy = internal::DecoyContent::kCopyright;
    if (options.content.decoy == DecoyKind::kRandomText) decoy = internal::DecoyContent::kRandomText;
    if (options.content.decoy == DecoyKind::kBoth) decoy = internal::DecoyContent::kBoth;
    internal::ContentSettings settings;
    settings.copyright = charset.copyright;
    settings.decoy = decoy;
    settings.encoder = &charset.encoder;
    settings.hiding.class_names = class_names;
    settings.hiding.nosnippet = options.content.nosnippet;
    if (!copy_names.empty()) {
      settings.copy_visible.class_names = copy_names;
      settings.copy_visible.nosnippet = options.content.nosnippet;
      settings.copy_visible.aria_hidden = true;
      settings.copy_every = options.content.copy_notices;
    }
    return settings;
  }

  // The content pass's work on one page: the stylesheet linked (or put in)
  // first, then the sentence marks, found in the pass's own scan, then the
  // decoys.
  class ContentRun {
   public:
    ContentRun(const State& state, std::string_view original, const Charset& charset)
        : page(original),
          settings(state.content_settings(charset)),
          marks_{state.mark_key.get(), &state.codeword, &charset.encoder} {
      state.CheckNotices();
      if (!state.link.empty()) {
        // The page with its hiding rules, in memory kept for the thread: a
        // server protects one page after another.
        const std::size_t at = internal::HeadStart(original);
        std::string& text = text_.text();
        text.clear();
        text.reserve(original.size() + state.link.size());
        text.append(original.substr(0, at)).append(state.link).append(original.substr(at));
        page = text;
      }
      if (!state.mark_key) return;
      marker_.emplace(page, marks_);
      settings.also = &*marker_;
      settings.also_inserts = &marker_->marks;
      notice_mark_ = [&state, &charset] {
        const auto start = static_cast<std::size_t>(internal::DrawIndex(internal::kCodeLength));
        return internal::Encoded(charset.encoder,
                                 internal::NoticeMark(*state.mark_key, state.codeword, start));
      };
      settings.hiding.notice_mark = &notice_mark_;
      settings.copy_visible.notice_mark = &notice_mark_;
    }
    ContentRun(const ContentRun&) = delete;
    ContentRun& operator=(const ContentRun&) = delete;

    std::string_view page;
    internal::ContentSettings settings;

   private:
    struct LinkedPage {};
    internal::KeptString<LinkedPage> text_{RetainedMemory()};
    internal::MarkSettings marks_;
    std::optional<internal::SentenceMarker> marker_;
    std::function<std::string()> notice_mark_;
  };

  std::string Content(std::string_view page, const Charset& charset) const {
    std::string out;
    Content(page, charset, out);
    return out;
  }
  void Content(std::string_view page, const Charset& charset, std::string& out) const {
    ContentRun run(*this, page, charset);
    internal::ContentPass(run.page, run.settings, out);
  }

  // Both passes over `page` with one scan of it, where they can share it: the
  // same bytes and draws as the content pass and then the page pass. False,
  // with nothing drawn or written, where they cannot.
  bool BothPasses(std::string_view page, const Charset& charset, std::string& out) const {
    ContentRun run(*this, page, charset);
    internal::DecoyPlan plan(run.page, run.settings);
    if (!plan.OneScan()) return false;
    return internal::PagePassWith(run.page, plan, page_settings(charset), out);
  }
};

Protector::Protector() : Protector(Options()) {}
Protector::Protector(Options options) : state_(std::make_unique<State>(std::move(options))) {}
Protector::~Protector() = default;
Protector::Protector(const Protector& other)
    : state_(std::make_unique<State>(other.state_->options)) {
  state_->transport = other.state_->transport;
  set_mark_id(other.state_->mark_id);
}
Protector& Protector::operator=(const Protector& other) {
  if (this != &other) {
    auto state = std::make_unique<State>(other.state_->options);
    state->transport = other.state_->transport;
    state_ = std::move(state);
    set_mark_id(other.state_->mark_id);
  }
  return *this;
}
Protector::Protector(Protector&&) noexcept = default;
Protector& Protector::operator=(Protector&&) noexcept = default;

const Options& Protector::options() const noexcept { return state_->options; }

// Each setter builds the new state whole before it replaces the old one.
void Protector::set_options(Options options) {
  auto state = std::make_unique<State>(std::move(options));
  state->transport = std::move(state_->transport);
  const std::uint64_t id = state_->mark_id;
  state_ = std::move(state);
  set_mark_id(id);
}

void Protector::set_mark_id(std::uint64_t id) noexcept {
  state_->mark_id = id;
  if (state_->mark_key) state_->codeword = internal::MarkCodeword(*state_->mark_key, id);
}

void Protector::set_copyright(std::string_view text) {
  Options options = state_->options;
  options.content.copyright = text;
  set_options(std::move(options));
}

void Protector::set_decoy_kind(DecoyKind kind) {
  Options options = state_->options;
  options.content.decoy = kind;
  set_options(std::move(options));
}

void Protector::set_charset(std::string_view name) {
  Options options = state_->options;
  options.charset = name;
  set_options(std::move(options));
}

void Protector::set_hiding(HideMethod method, std::string_view site_key) {
  Options options = state_->options;
  options.content.hide = method;
  options.content.site_key = site_key;
  set_options(std::move(options));
}

void Protector::set_transport_charset(std::string_view label) { state_->transport = label; }

namespace {

constexpr std::string_view kTdmMeta = "<meta name=\"tdm-reservation\" content=\"1\">";

// The page with the reservation where its head begins, unless it names one.
bool NeedsTdmMeta(const Options& options, std::string_view page) {
  return options.page.tdm_reservation &&
         internal::FindIgnoringCase(page, "tdm-reservation", 0) == std::string_view::npos;
}

std::string WithTdmMeta(std::string_view page) {
  const std::size_t at = internal::HeadStart(page);
  std::string out;
  out.reserve(page.size() + kTdmMeta.size());
  out.append(page.substr(0, at)).append(kTdmMeta).append(page.substr(at));
  return out;
}

}  // namespace

std::string Protector::protect_page(std::string_view page) const {
  if (NeedsTdmMeta(state_->options, page)) return protect_page(WithTdmMeta(page));
  return internal::PagePass(page, state_->page_settings(state_->For(page)));
}

std::string Protector::protect_content(std::string_view article) const {
  return state_->Content(article, state_->For(article));
}

std::string Protector::protect(std::string_view page) const {
  std::string out;
  protect(page, out);
  return out;
}

std::string Protector::protect_page(std::string&& page) const {
  if (NeedsTdmMeta(state_->options, page)) page = WithTdmMeta(page);
  const State::Charset& charset = state_->For(page);
  return internal::PagePass(std::move(page), state_->page_settings(charset));
}

std::string Protector::protect(std::string&& page) const {
  if (NeedsTdmMeta(state_->options, page)) page = WithTdmMeta(page);
  const State::Charset& charset = state_->For(page);
  std::string out;
  if (state_->BothPasses(page, charset, out)) return out;
  std::string article = state_->Content(page, charset);
  std::string().swap(page);  // the page pass needs room more than the original
  return internal::PagePass(std::move(article), state_->page_settings(charset));
}

namespace {

// The content pass's result within protect: the page pass reads it, and it is
// not needed after.
struct ContentResult {};

// Runs `pass` into `out`; a failed call leaves `out` empty.
template <class Pass>
void Into(std::string& out, Pass&& pass) {
  try {
    pass();
  } catch (...) {
    out.clear();
    throw;
  }
}

}  // namespace

void Protector::protect_page(std::string_view page, std::string& out) const {
  Into(out, [&] {
    if (NeedsTdmMeta(state_->options, page)) return protect_page(WithTdmMeta(page), out);
    internal::PagePass(page, state_->page_settings(state_->For(page)), out);
  });
}

void Protector::protect_content(std::string_view article, std::string& out) const {
  Into(out, [&] { state_->Content(article, state_->For(article), out); });
}

void Protector::protect(std::string_view page, std::string& out) const {
  Into(out, [&] {
    if (NeedsTdmMeta(state_->options, page)) return protect(WithTdmMeta(page), out);
    const State::Charset& charset = state_->For(page);
    if (state_->BothPasses(page, charset, out)) return;
    internal::KeptString<ContentResult> work(RetainedMemory());
    state_->Content(page, charset, work.text());
    internal::PagePass(work.text(), state_->page_settings(charset), out);
  });
}

std::string Stylesheet(std::string_view site_key) {
  if (site_key.empty()) throw Error(ErrorCode::kInvalidArgument, "empty site key");
  return internal::HidingStylesheet(site_key);
}

std::string_view DetectCharset(std::string_view page, std::string_view transport) noexcept {
  return ResolvedEncoding(page, transport);
}

std::vector<MarkFound> Trace(std::string_view text, std::string_view site_key) {
  const internal::MarkKey key = internal::DeriveMarkKey(site_key);
  std::vector<MarkFound> found;
  for (const internal::MarkFind& f : internal::TraceMarks(key, text)) {
    found.push_back({f.id, f.agreeing, f.seen});
  }
  return found;
}

bool IsProtected(std::string_view page) noexcept { return internal::StartsWithWatermark(page); }

void SetRetainedMemory(std::size_t bytes) noexcept { internal::SetRetainedLimit(bytes); }

std::size_t RetainedMemory() noexcept { return internal::RetainedLimit(); }

const char* Version() noexcept { return VANTORO_VERSION_STRING; }

}  // namespace vantoro
