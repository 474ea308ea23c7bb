// The public C++ API: options checked and prepared once when set (copyright
// entries parsed, the character set opened), passes run on the typed engine.
#include "vantoro/protector.h"

#include <utility>
#include <vector>

#include "api/charset_encoder.h"
#include "content/content_pass.h"
#include "content/copyright.h"
#include "content/decoys.h"
#include "page/page_pass.h"
#include "page/tag_rule.h"

namespace vantoro {

struct Protector::State {
  Options options;
  std::vector<internal::CopyrightEntry> copyright;  // in the output character set
  std::vector<std::string> class_names;              // for HideMethod::kClass
  std::unique_ptr<internal::CharsetEncoder> charset;
  internal::TextEncoder encoder;  // empty for UTF-8

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
      default: throw Error(ErrorCode::kInvalidArgument, "unknown hiding method");
    }
    charset = std::make_unique<internal::CharsetEncoder>(options.charset);
    if (!charset->is_utf8()) {
      encoder = [converter = charset.get()](std::string_view utf8) {
        return converter->Encode(utf8);
      };
    }
    copyright = internal::ParseCopyright(internal::Encoded(encoder, options.content.copyright));
  }

  internal::PageSettings page_settings() const {
    return {internal::CommonAttributes(), internal::DefaultVersionText(), &encoder};
  }

  internal::ContentSettings content_settings() const {
    internal::DecoyContent decoy = internal::DecoyContent::kCopyright;
    if (options.content.decoy == DecoyKind::kRandomText) decoy = internal::DecoyContent::kRandomText;
    if (options.content.decoy == DecoyKind::kBoth) decoy = internal::DecoyContent::kBoth;
    return {copyright, decoy, &encoder, {class_names, options.content.nosnippet}};
  }
};

Protector::Protector() : Protector(Options()) {}
Protector::Protector(Options options) : state_(std::make_unique<State>(std::move(options))) {}
Protector::~Protector() = default;
Protector::Protector(const Protector& other)
    : state_(std::make_unique<State>(other.state_->options)) {}
Protector& Protector::operator=(const Protector& other) {
  if (this != &other) state_ = std::make_unique<State>(other.state_->options);
  return *this;
}
Protector::Protector(Protector&&) noexcept = default;
Protector& Protector::operator=(Protector&&) noexcept = default;

const Options& Protector::options() const noexcept { return state_->options; }

// Each setter builds the new state whole before it replaces the old one.
void Protector::set_options(Options options) {
  state_ = std::make_unique<State>(std::move(options));
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

std::string Protector::protect_page(std::string_view page) const {
  return internal::PagePass(page, state_->page_settings());
}

std::string Protector::protect_content(std::string_view article) const {
  return internal::ContentPass(article, state_->content_settings());
}

std::string Protector::protect(std::string_view page) const {
  return protect_page(protect_content(page));
}

std::string Protector::protect_page(std::string&& page) const {
  return internal::PagePass(std::move(page), state_->page_settings());
}

std::string Protector::protect(std::string&& page) const {
  std::string article = protect_content(page);
  std::string().swap(page);  // the page pass needs room more than the original
  return protect_page(std::move(article));
}

std::string Stylesheet(std::string_view site_key) {
  if (site_key.empty()) throw Error(ErrorCode::kInvalidArgument, "empty site key");
  return internal::HidingStylesheet(site_key);
}

bool IsProtected(std::string_view page) noexcept { return internal::StartsWithWatermark(page); }

const char* Version() noexcept { return VANTORO_VERSION_STRING; }

}  // namespace vantoro
