// Argument conversions of the script members: from variants to the engine's
// typed values. Failures throw ScriptError.
#ifndef VANTORO_COMPONENT_CONVERSIONS_H_
#define VANTORO_COMPONENT_CONVERSIONS_H_

#include <optional>
#include <string>

#include "component/variant.h"
#include "random/draws.h"
#include "random/range.h"

namespace vantoro::internal {

// A case mode: 3 or 2 when the value is that number; lower case for anything else
// (null, empty, other numbers, text that is no number). Never fails.
CaseMode CaseModeOf(const Variant& v);

// A Boolean flag: Booleans, numbers (non-zero is true), "True"/"False" or numeric
// text. Throws 94 for null, 13 for anything else.
bool ToBoolean(const Variant& v);

// The text of an optional argument where null counts as the empty text.
std::string TextOrEmpty(const Variant& v);

// A non-null count or range: a number (empty is 0) or a text such as "0-16".
// Throws 13 for what is no number, 5 for a count too large.
Range RangeOf(const Variant& v);

// The length of a random comment: none (no comment at all) for the empty value
// and for anything equal to 0 ("0", " 0.0 "); a text with "-" is always a range.
// Throws 94 for null, and what RangeOf throws.
std::optional<Range> NoteRangeOf(const Variant& v);

}  // namespace vantoro::internal

#endif  // VANTORO_COMPONENT_CONVERSIONS_H_
