// Range specs, character sets, case modes and comment ranges of every kind of
// value: only the documented errors, and results of the documented form.
#include "../test_support.h"
#include "fuzz_support.h"

namespace {

using namespace vantoro::fuzz;
using vantoro::Variant;

// Counts above this are valid but only slow the fuzzer.
bool Small(const Variant& v) {
  if (!v.is_string()) return true;
  std::size_t digits = 0;
  for (char c : v.as_string()) {
    if (c == '.' || c == '-') digits = 0;
    else if (c >= '0' && c <= '9' && ++digits > 4) return false;
  }
  return true;
}

template <class Call>
void ExpectOnlyDocumentedErrors(Call&& call) {
  try {
    call();
  } catch (const vantoro::ScriptError& error) {
    FUZZ_CHECK(error.number() == 5 || error.number() == 13 || error.number() == 94);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  Variant spec = AnyValue(input, 12);
  Variant set = AnyValue(input, 12);
  Variant text = AnyValue(input, 12);
  Variant mode = AnyValue(input, 12);
  CyclingSource source(input.Rest());
  vantoro::ScopedRandomSource use(source);
  vantoro::Marquel m;
  using T = vantoro::MarquelTestAccess;
  if (!Small(spec)) return 0;

  ExpectOnlyDocumentedErrors([&] {
    Variant used = set;
    std::string out = vantoro::ToText(T::RndChars(m, spec, used));
    std::string chars = used.is_null() ? "" : vantoro::ToText(used);
    for (char c : out) FUZZ_CHECK(chars.find(c) != std::string::npos);
    if (!spec.is_null() && (set.is_empty() || (set.is_string() && set.as_string().empty()))) {
      FUZZ_CHECK(chars.size() == 52);
    }
    bool ascii_set = true;
    for (char c : chars) ascii_set &= static_cast<unsigned char>(c) < 0x80;
    if (ascii_set && spec.is_string() && spec.as_string().find('-') == std::string::npos) {
      double n = vantoro::ToNumber(spec);
      FUZZ_CHECK(out.size() == (n < 1 ? 0 : static_cast<std::size_t>(n)));
    }
  });
  ExpectOnlyDocumentedErrors([&] {
    std::string note = vantoro::ToText(T::RndNote(m, spec));
    if (!note.empty()) {
      FUZZ_CHECK(note.starts_with("<!--") && note.ends_with("-->"));
      FUZZ_CHECK(note.find_first_of("->", 4) == note.size() - 3);
    }
  });
  ExpectOnlyDocumentedErrors([&] {
    std::string in = text.is_null() ? "" : vantoro::ToText(text);
    std::string out = vantoro::ToText(T::RndCase(m, text, mode));
    FUZZ_CHECK(out.size() == in.size());
    for (std::size_t i = 0; i < in.size(); ++i) FUZZ_CHECK(Lower(out[i]) == Lower(in[i]));
  });
  return 0;
}
