// Name lookup and invocation. The one place where a thrown ScriptError becomes a
// status code.
#include "component/dispatch.h"

#include <new>
#include <string>

#include "text/ascii.h"

namespace vantoro {
namespace {

using internal::EqualsIgnoringCase;

// The row for a dispatch identifier and call kind: methods also answer a property
// get (a script that uses a method's result asks for both).
const MemberInfo* FindMember(DispId dispid, InvokeKind kind) {
  for (const MemberInfo& member : Members()) {
    if (member.dispid != dispid) continue;
    if ((member.kind & kind) != 0) return &member;
    if (member.kind == kInvokeMethod && (kind & kInvokePropertyGet) != 0) return &member;
  }
  return nullptr;
}

HResult Fail(ExceptionInfo* info, int number, const std::string& description) {
  if (info != nullptr) {
    info->source = identity::kErrorSource;
    info->description = description;
    info->scode = ScriptErrorHResult(number);
  }
  return kDispEException;
}

}  // namespace

HResult DispatchObject::GetIDsOfNames(std::span<const std::string_view> names,
                                      std::span<DispId> ids) const {
  if (ids.size() < names.size()) return kEInvalidArg;
  HResult hr = kSOk;
  for (std::size_t i = 0; i < names.size(); ++i) {
    ids[i] = -1;
    for (const MemberInfo& member : Members()) {
      if (EqualsIgnoringCase(member.name, names[i])) {
        ids[i] = member.dispid;
        break;
      }
    }
    if (ids[i] == -1) hr = kDispEUnknownName;
  }
  return hr;
}

HResult DispatchObject::Invoke(DispId dispid, InvokeKind kind, std::span<Variant> args,
                               Variant* result, ExceptionInfo* info) {
  const MemberInfo* member = FindMember(dispid, kind);
  if (member == nullptr) return kDispEMemberNotFound;
  if (args.size() != static_cast<std::size_t>(member->param_count)) return kDispEBadParamCount;
  try {
    Variant value;
    switch (member->dispid) {
      case kDispIdCopyRStr:
        if (member->kind == kInvokePropertyPut) {
          object_.CopyRStr(args[0]);
        } else {
          value = object_.CopyRStr();
        }
        break;
      case kDispIdOnStartPage:
        if (!args[0].is_empty() && args[0].type() != Variant::Type::kObject) {
          return kDispETypeMismatch;
        }
        object_.onstartpage(args[0]);
        break;
      case kDispIdOnEndPage: object_.onendpage(); break;
      case kDispIdLoad: object_.Load(); break;
      case kDispIdRndstr: value = object_.Rndstr(args[0]); break;
      case kDispIdRndContent: value = object_.RndContent(args[0]); break;
      default: return kDispEMemberNotFound;
    }
    if (result != nullptr && member->returns_value) *result = std::move(value);
    return kSOk;
  } catch (const ScriptError& error) {
    return Fail(info, error.number(), error.description());
  } catch (const std::bad_alloc&) {
    return Fail(info, kOutOfMemory, StandardDescription(kOutOfMemory));
  }
}

}  // namespace vantoro
