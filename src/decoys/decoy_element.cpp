#include "decoys/decoy_element.h"

#include "random/primitives.h"

namespace vantoro::internal {

std::string HidingStyle(const Variant& range, int case_mode) {
  std::string recased = Recase("display:none;", case_mode);
  std::string first = range.is_null() ? std::string() : RandomChars(range, kDefaultCharset);
  std::string second = range.is_null() ? std::string() : RandomChars(range, kDefaultCharset);
  return first + ";" + recased + second + ";";
}

std::string DecoyElement(std::string_view name, std::string_view style, std::string_view content) {
  std::string element;
  element.reserve(2 * name.size() + style.size() + content.size() + 16);
  element += '<';
  element += name;
  element += " style='";
  element += style;
  element += "'>";
  element += content;
  element += "</";
  element += name;
  element += '>';
  return element;
}

}  // namespace vantoro::internal
