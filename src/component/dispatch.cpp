// Name lookup, invocation, the class factory and creation by ProgID. The one place
// where a thrown Error becomes a status code.
#include <atomic>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "component/ascii.h"
#include "vantoro/dispatch.h"
#include "vantoro/error.h"

namespace vantoro {
namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};

// The in-process stand-in for the system registry: registered ProgIDs.
std::mutex registry_mutex;
std::set<std::string, std::less<>> registered_progids;

constexpr int kCannotCreateObject = 429;

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

DispatchObject::DispatchObject() { ++live_objects; }
DispatchObject::~DispatchObject() { --live_objects; }

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
  } catch (const Error& error) {
    return Fail(info, error.number(), error.description());
  } catch (const std::bad_alloc&) {
    return Fail(info, 7, "Out of memory");
  }
}

HResult ClassFactory::CreateInstance(std::unique_ptr<DispatchObject>& out) {
  try {
    out = std::make_unique<DispatchObject>();
    return kSOk;
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  }
}

HResult ClassFactory::LockServer(bool lock) {
  if (lock) {
    ++server_locks;
  } else if (server_locks.fetch_sub(1) <= 0) {
    ++server_locks;  // more unlocks than locks: keep the count at zero
    return kEUnexpected;
  }
  return kSOk;
}

HResult DllGetClassObject(std::string_view clsid, ClassFactory** factory) {
  if (factory == nullptr) return kEInvalidArg;
  *factory = nullptr;
  if (!EqualsIgnoringCase(clsid, identity::kClassId)) return kClassEClassNotAvailable;
  static ClassFactory the_factory;
  *factory = &the_factory;
  return kSOk;
}

HResult DllCanUnloadNow() {
  return live_objects.load() == 0 && server_locks.load() == 0 ? kSOk : kSFalse;
}

HResult DllRegisterServer() {
  std::lock_guard lock(registry_mutex);
  registered_progids.emplace(identity::kProgId);
  return kSOk;
}

HResult DllUnregisterServer() {
  std::lock_guard lock(registry_mutex);
  registered_progids.erase(std::string(identity::kProgId));
  return kSOk;
}

std::unique_ptr<DispatchObject> CreateObject(std::string_view progid) {
  bool known;
  {
    std::lock_guard lock(registry_mutex);
    known = false;
    for (const std::string& name : registered_progids) known |= EqualsIgnoringCase(name, progid);
  }
  ClassFactory* factory = nullptr;
  std::unique_ptr<DispatchObject> object;
  if (!known || DllGetClassObject(identity::kClassId, &factory) != kSOk ||
      factory->CreateInstance(object) != kSOk) {
    throw Error(kCannotCreateObject, "ActiveX component can't create object");
  }
  return object;
}

}  // namespace vantoro
