#include "component/conversions.h"

#include "component/ascii.h"

#include <charconv>
#include <cmath>
#include <string>

#include "vantoro/error.h"

namespace vantoro {
namespace internal {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<double> ParseDecimal(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Only digits and at most one point, with at least one digit.
  bool seen_digit = false, seen_point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      seen_digit = true;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      return std::nullopt;
    }
  }
  if (!seen_digit) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                   std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range) return std::nullopt;
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return negative ? -value : value;
}

int CaseModeOf(const Variant& v) {
  double mode = 0;
  switch (v.type()) {
    case Variant::Type::kInteger: mode = static_cast<double>(v.as_integer()); break;
    case Variant::Type::kDouble: mode = v.as_double(); break;
    case Variant::Type::kString: mode = ParseDecimal(v.as_string()).value_or(0); break;
    default: return 1;
  }
  if (mode == 3) return 3;
  if (mode == 2) return 2;
  return 1;
}

bool ToBoolean(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kBoolean: return v.as_boolean();
    case Variant::Type::kString:
      if (EqualsIgnoringCase(v.as_string(), "true")) return true;
      if (EqualsIgnoringCase(v.as_string(), "false")) return false;
      return ToNumber(v) != 0;
    default: return ToNumber(v) != 0;
  }
}

std::string TextOrEmpty(const Variant& v) { return v.is_null() ? std::string() : ToText(v); }

}  // namespace internal

std::string ToText(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty: return {};
    case Variant::Type::kNull: throw Error(kInvalidUseOfNull);
    case Variant::Type::kInteger: return std::to_string(v.as_integer());
    case Variant::Type::kDouble: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, v.as_double());
      return std::string(buffer, result.ptr);
    }
    case Variant::Type::kBoolean: return v.as_boolean() ? "True" : "False";
    case Variant::Type::kString: return v.as_string();
    case Variant::Type::kObject: break;
  }
  throw Error(kTypeMismatch);
}

double ToNumber(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty: return 0;
    case Variant::Type::kNull: throw Error(kInvalidUseOfNull);
    case Variant::Type::kInteger: return static_cast<double>(v.as_integer());
    case Variant::Type::kDouble: return v.as_double();
    case Variant::Type::kBoolean: return v.as_boolean() ? -1 : 0;
    case Variant::Type::kString:
      if (auto number = internal::ParseDecimal(v.as_string())) return *number;
      break;
    case Variant::Type::kObject: break;
  }
  throw Error(kTypeMismatch);
}

}  // namespace vantoro
