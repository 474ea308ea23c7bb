// Variant: the value type that crosses every operation of Marquel, as an automation
// variant does: empty (never assigned), null, integer, double, Boolean, string
// (UTF-8) or object reference (possibly to nothing).
#ifndef VANTORO_COMPONENT_VARIANT_H_
#define VANTORO_COMPONENT_VARIANT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace vantoro {

// Base of anything a Variant can refer to as an object (a host's scripting context).
class Object {
 public:
  virtual ~Object() = default;
};

struct Null {
  bool operator==(const Null&) const = default;
};

class Variant {
 public:
  enum class Type { kEmpty, kNull, kInteger, kDouble, kBoolean, kString, kObject };

  Variant() = default;  // empty
  Variant(Null) : value_(Null{}) {}
  Variant(int v) : value_(std::int64_t{v}) {}
  Variant(std::int64_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::shared_ptr<Object> v) : value_(std::move(v)) {}

  static Variant null() { return Variant(Null{}); }
  // An object reference to nothing.
  static Variant nothing() { return Variant(std::shared_ptr<Object>()); }

  Type type() const noexcept { return static_cast<Type>(value_.index()); }
  bool is_empty() const noexcept { return type() == Type::kEmpty; }
  bool is_null() const noexcept { return type() == Type::kNull; }
  bool is_string() const noexcept { return type() == Type::kString; }

  // Accessors for a known type; calling the wrong one throws std::bad_variant_access.
  std::int64_t as_integer() const { return std::get<std::int64_t>(value_); }
  double as_double() const { return std::get<double>(value_); }
  bool as_boolean() const { return std::get<bool>(value_); }
  const std::string& as_string() const { return std::get<std::string>(value_); }
  const std::shared_ptr<Object>& as_object() const {
    return std::get<std::shared_ptr<Object>>(value_);
  }

  bool operator==(const Variant&) const = default;

 private:
  // The order of the alternatives follows Type.
  std::variant<std::monostate, Null, std::int64_t, double, bool, std::string,
               std::shared_ptr<Object>>
      value_;
};

// Conversions that the operations apply to their arguments. Both throw
// ScriptError: 94 (invalid use of null) for null, 13 (type mismatch) for what
// does not convert.

// Text form: empty gives "", a number its decimal text, a Boolean "True" or "False".
std::string ToText(const Variant& v);
// Numeric value: empty gives 0, a Boolean -1 or 0, a text a plain decimal number
// ("2.9", " 5 ", "-1", "+.5"; surrounding spaces and tabs allowed, nothing else).
double ToNumber(const Variant& v);

}  // namespace vantoro

#endif  // VANTORO_COMPONENT_VARIANT_H_
