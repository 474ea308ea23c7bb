// The component's own state: its three texts, Load and the page hooks.
#include "vantoro/marquel.h"

namespace vantoro {
namespace {

constexpr std::string_view kDefaultAttrNames = "name;id;width;height";
constexpr std::string_view kDefaultVersionText = "v2.0正式版";

}  // namespace

void Marquel::CopyRStr(const Variant& text) { copy_r_str_ = ToText(text); }

void Marquel::Load() {
  attr_names_ = kDefaultAttrNames;
  version_text_ = kDefaultVersionText;
}

std::string Marquel::Encoded(std::string_view utf8) const {
  return encoder_ ? encoder_(utf8) : std::string(utf8);
}

void Marquel::onstartpage(const Variant& /*passedscriptingcontext*/) { Load(); }

}  // namespace vantoro
