// The automation face of Marquel for script hosts: identity constants, the member
// table, name lookup and invocation by dispatch identifier. This is the portable
// layer; the Windows server registers with the same identity constants, and a
// test keeps its type library in step with the member table.
//
//   vantoro::DispatchObject object;
//   std::vector<vantoro::Variant> args{std::string(html)};
//   vantoro::Variant result;
//   vantoro::ExceptionInfo error;
//   vantoro::HResult hr = object.Invoke(vantoro::kDispIdRndstr, vantoro::kInvokeMethod,
//                                       args, &result, &error);
#ifndef VANTORO_COMPONENT_DISPATCH_H_
#define VANTORO_COMPONENT_DISPATCH_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "component/marquel.h"
#include "component/variant.h"

namespace vantoro {

using HResult = std::int32_t;
using DispId = std::int32_t;

constexpr HResult MakeHResult(std::uint32_t bits) { return static_cast<HResult>(bits); }

inline constexpr HResult kSOk = 0;
inline constexpr HResult kSFalse = 1;
inline constexpr HResult kEOutOfMemory = MakeHResult(0x8007000E);
inline constexpr HResult kEUnexpected = MakeHResult(0x8000FFFF);
inline constexpr HResult kEInvalidArg = MakeHResult(0x80070057);
inline constexpr HResult kDispEMemberNotFound = MakeHResult(0x80020003);
inline constexpr HResult kDispETypeMismatch = MakeHResult(0x80020005);
inline constexpr HResult kDispEUnknownName = MakeHResult(0x80020006);
inline constexpr HResult kDispEException = MakeHResult(0x80020009);
inline constexpr HResult kDispEBadParamCount = MakeHResult(0x8002000E);

// A script error number in its status-code form (13 becomes 0x800A000D).
constexpr HResult ScriptErrorHResult(int number) {
  return MakeHResult(0x800A0000u | (static_cast<std::uint32_t>(number) & 0xFFFFu));
}

// Identity of the component.
namespace identity {
inline constexpr std::string_view kTypeLibraryName = "Vantoro";
inline constexpr std::string_view kTypeLibraryId = "{9085702B-03AD-4758-9322-F4AE36FDD7C2}";
inline constexpr int kTypeLibraryMajor = 1;
inline constexpr int kTypeLibraryMinor = 0;
inline constexpr std::string_view kClassName = "Marquel";
inline constexpr std::string_view kClassId = "{3E54C439-9FAC-4DE7-996A-9734EABD7354}";
inline constexpr std::string_view kProgId = "Vantoro.Marquel";
inline constexpr std::string_view kInterfaceName = "_Marquel";
inline constexpr std::string_view kInterfaceId = "{0F4C47EC-A7CA-48A2-89E7-D9DC4D522D35}";
inline constexpr std::string_view kThreadingModel = "Apartment";
inline constexpr std::string_view kDllName = "Marquel.dll";
// The source that error information names.
inline constexpr std::string_view kErrorSource = "Vantoro.Marquel";
}  // namespace identity

// Call kinds, as bit flags that combine (a script calling a method with a result
// asks for method or property get).
using InvokeKind = unsigned;
inline constexpr InvokeKind kInvokeMethod = 1;
inline constexpr InvokeKind kInvokePropertyGet = 2;
inline constexpr InvokeKind kInvokePropertyPut = 4;

inline constexpr DispId kDispIdCopyRStr = 0x40030005;
inline constexpr DispId kDispIdOnStartPage = 0x60030000;
inline constexpr DispId kDispIdOnEndPage = 0x60030001;
inline constexpr DispId kDispIdLoad = 0x60030002;
inline constexpr DispId kDispIdRndstr = 0x60030003;
inline constexpr DispId kDispIdRndContent = 0x60030004;

// One row per public member, in the order of the interface table.
struct MemberInfo {
  std::string_view name;
  DispId dispid;
  InvokeKind kind;             // exactly one of the three kinds
  int param_count;
  std::string_view param_name;  // empty when the member has no named parameter
  bool returns_value;
};

std::span<const MemberInfo> Members();

// What a failed call reports besides its status code.
struct ExceptionInfo {
  std::string source;
  std::string description;
  HResult scode = kSOk;
};

// One Marquel as a script host sees it.
class DispatchObject {
 public:
  DispatchObject() = default;
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // Names are matched ignoring ASCII case. Unknown names (the private operations
  // among them) give kDispEUnknownName and the identifier -1.
  HResult GetIDsOfNames(std::span<const std::string_view> names, std::span<DispId> ids) const;

  // Runs a member. `args` are by-reference arguments in declaration order; the
  // members never change them. On a thrown error: kDispEException with `info`
  // filled and `result` left as it was.
  HResult Invoke(DispId dispid, InvokeKind kind, std::span<Variant> args, Variant* result,
                 ExceptionInfo* info);

  Marquel& object() noexcept { return object_; }

 private:
  Marquel object_;
};

}  // namespace vantoro

#endif  // VANTORO_COMPONENT_DISPATCH_H_
