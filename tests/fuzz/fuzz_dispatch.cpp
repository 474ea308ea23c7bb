// The dispatch layer with any member, call kind and arguments: only documented
// status codes, by-reference arguments unchanged, no result after a failure.
#include "fuzz_support.h"
#include "component/dispatch.h"

namespace {

using namespace vantoro::fuzz;
using vantoro::Variant;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  Input input(data, size);
  vantoro::DispatchObject object;
  CyclingSource source(std::string(64, '\x40'));
  vantoro::ScopedRandomSource use(source);
  for (int call = 0; call < 4; ++call) {
    auto members = vantoro::Members();
    std::uint8_t pick = input.Byte();
    vantoro::DispId id = pick < 224 ? members[pick % members.size()].dispid : 0x60030000 + pick;
    vantoro::InvokeKind kind = 1u + input.Byte() % 7u;
    std::vector<Variant> args;
    for (int n = input.Byte() % 3; n > 0; --n) args.push_back(AnyValue(input, 200));
    const std::vector<Variant> before = args;
    Variant result = "untouched";
    vantoro::ExceptionInfo info;
    vantoro::HResult hr = object.Invoke(id, kind, args, &result, &info);
    FUZZ_CHECK(args == before);
    FUZZ_CHECK(hr == vantoro::kSOk || hr == vantoro::kDispEBadParamCount ||
               hr == vantoro::kDispEMemberNotFound || hr == vantoro::kDispEException ||
               hr == vantoro::kDispETypeMismatch);
    if (hr != vantoro::kSOk) FUZZ_CHECK(result == Variant("untouched"));
    if (hr == vantoro::kDispEException) {
      FUZZ_CHECK(info.source == "Vantoro.Marquel");
      FUZZ_CHECK(info.scode == vantoro::ScriptErrorHResult(13) ||
                 info.scode == vantoro::ScriptErrorHResult(94) ||
                 info.scode == vantoro::ScriptErrorHResult(5));
    }
    if (hr == vantoro::kSOk && (id == vantoro::kDispIdRndstr)) FUZZ_CHECK(result.is_string());
  }
  return 0;
}
