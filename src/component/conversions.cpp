#include "component/conversions.h"

#include <charconv>

#include "component/script_error.h"
#include "text/ascii.h"
#include "text/decimal.h"

namespace vantoro {
namespace internal {

CaseMode CaseModeOf(const Variant& v) {
  double mode = 0;
  switch (v.type()) {
    case Variant::Type::kInteger: mode = static_cast<double>(v.as_integer()); break;
    case Variant::Type::kDouble: mode = v.as_double(); break;
    case Variant::Type::kString: mode = ParseDecimal(v.as_string()).value_or(0); break;
    default: return CaseMode::kLower;
  }
  if (mode == 3) return CaseMode::kRandom;
  if (mode == 2) return CaseMode::kUpper;
  return CaseMode::kLower;
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

Range RangeOf(const Variant& v) {
  return CallEngine([&] {
    // Numbers (and Booleans) give their value; empty gives 0.
    return v.is_string() ? ParseRange(v.as_string()) : RangeFromNumber(ToNumber(v));
  });
}

std::optional<Range> NoteRangeOf(const Variant& v) {
  if (v.is_null()) throw ScriptError(kInvalidUseOfNull);
  if (v.is_empty()) return std::nullopt;
  // A range of two numbers never counts as zero, whatever its numbers.
  if (v.is_string() && v.as_string().find('-') != std::string::npos) return RangeOf(v);
  double value = 0;
  if (v.is_string()) {
    std::optional<double> parsed = ParseDecimal(v.as_string());
    if (!parsed) throw ScriptError(kTypeMismatch);
    value = *parsed;
  } else {
    value = ToNumber(v);
  }
  if (value == 0) return std::nullopt;
  return CallEngine([&] { return RangeFromNumber(value); });
}

}  // namespace internal

std::string ToText(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty: return {};
    case Variant::Type::kNull: throw ScriptError(kInvalidUseOfNull);
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
  throw ScriptError(kTypeMismatch);
}

double ToNumber(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty: return 0;
    case Variant::Type::kNull: throw ScriptError(kInvalidUseOfNull);
    case Variant::Type::kInteger: return static_cast<double>(v.as_integer());
    case Variant::Type::kDouble: return v.as_double();
    case Variant::Type::kBoolean: return v.as_boolean() ? -1 : 0;
    case Variant::Type::kString:
      if (auto number = internal::ParseDecimal(v.as_string())) return *number;
      break;
    case Variant::Type::kObject: break;
  }
  throw ScriptError(kTypeMismatch);
}

}  // namespace vantoro
