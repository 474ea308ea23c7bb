// The member table of the public interface: the one list that name lookup,
// invocation and the Windows type library agree on.
#include <array>

#include "component/dispatch.h"

namespace vantoro {
namespace {

constexpr std::array<MemberInfo, 7> kMembers = {{
    {"CopyRStr", kDispIdCopyRStr, kInvokePropertyGet, 0, "", true},
    {"CopyRStr", kDispIdCopyRStr, kInvokePropertyPut, 1, "", false},
    {"onstartpage", kDispIdOnStartPage, kInvokeMethod, 1, "passedscriptingcontext", false},
    {"onendpage", kDispIdOnEndPage, kInvokeMethod, 0, "", false},
    {"Load", kDispIdLoad, kInvokeMethod, 0, "", false},
    {"Rndstr", kDispIdRndstr, kInvokeMethod, 1, "str", true},
    {"RndContent", kDispIdRndContent, kInvokeMethod, 1, "str", true},
}};

}  // namespace

std::span<const MemberInfo> Members() { return kMembers; }

}  // namespace vantoro
