// The in-process automation server Marquel.dll: the Marquel object with its dual
// interface _Marquel (dispatch through the type library in the DLL's resources),
// error information, the class factory, registration and the four exports. The
// member bodies call the same vantoro::Marquel as every other front end.
#include <windows.h>
#include <initguid.h>
#include <ole2.h>
#include <olectl.h>
#include <oleauto.h>

#include <mutex>
#include <new>
#include <string>

#include "com_convert.h"
#include "marquel_h.h"
#include "component/dispatch.h"
#include "component/marquel.h"
#include "component/script_error.h"

namespace {

using vantoro::windows::BstrFromUtf8;
using vantoro::windows::FromVariant;
using vantoro::windows::ToVariant;
using vantoro::windows::Utf16FromUtf8;
using vantoro::windows::Utf8FromBstr;

HINSTANCE module_instance = nullptr;
LONG live_objects = 0;
LONG server_locks = 0;

std::wstring Wide(std::string_view text) { return Utf16FromUtf8(text); }

std::wstring ModulePath() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(module_instance, path, static_cast<DWORD>(std::size(path)));
  return std::wstring(path, length);
}

// The type information of _Marquel, loaded once from this DLL's own resource.
ITypeInfo* MarquelTypeInfo() {
  static std::once_flag once;
  static ITypeInfo* info = nullptr;
  std::call_once(once, [] {
    ITypeLib* library = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library))) {
      library->GetTypeInfoOfGuid(IID__Marquel, &info);
      library->Release();
    }
  });
  return info;
}

// Reports a failure the way script hosts read it: the error number in the
// scripting range, with source and description as error information.
HRESULT Report(int number, const std::string& description) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(IID__Marquel);
    std::wstring source = Wide(vantoro::identity::kErrorSource);
    std::wstring text = Wide(description);
    create->SetSource(const_cast<LPOLESTR>(source.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return vantoro::ScriptErrorHResult(number);
}

// Runs a member body; every library failure leaves as a reported HRESULT.
template <class Body>
HRESULT Guarded(Body&& body) {
  try {
    body();
    return S_OK;
  } catch (const vantoro::ScriptError& error) {
    return Report(error.number(), error.description());
  } catch (const std::bad_alloc&) {
    return Report(vantoro::kOutOfMemory, vantoro::StandardDescription(vantoro::kOutOfMemory));
  }
}

// What the automation layer does with a member that failed: the status and the
// error information that Report set reach the caller as an exception.
HRESULT AsException(HRESULT hr, EXCEPINFO* exception) {
  if (SUCCEEDED(hr) || exception == nullptr) return hr;
  *exception = EXCEPINFO{};
  exception->scode = hr;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK) {
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->Release();
  }
  return DISP_E_EXCEPTION;
}

class MarquelObject final : public _Marquel, public ISupportErrorInfo {
 public:
  MarquelObject() { InterlockedIncrement(&live_objects); }
  ~MarquelObject() { InterlockedDecrement(&live_objects); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID__Marquel)) {
      *out = static_cast<_Marquel*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, IID__Marquel) ? S_OK : S_FALSE;
  }

  // IDispatch, through the type library
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = MarquelTypeInfo() != nullptr ? 1 : 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* type = MarquelTypeInfo();
    if (type == nullptr) return TYPE_E_CANTLOADLIBRARY;
    type->AddRef();
    *info = type;
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    ITypeInfo* type = MarquelTypeInfo();
    if (type == nullptr) return TYPE_E_CANTLOADLIBRARY;
    return DispGetIDsOfNames(type, names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) override {
    ITypeInfo* type = MarquelTypeInfo();
    if (type == nullptr) return TYPE_E_CANTLOADLIBRARY;
    // Storing a value that is not text: the type library's BSTR parameter would
    // have the automation layer convert it by its own rules (True as "-1", Null
    // as a type mismatch). The value goes to the component as it came, so that
    // scripts get the component's text and errors here as everywhere else.
    if (id == vantoro::kDispIdCopyRStr && (flags & DISPATCH_PROPERTYPUT) != 0 &&
        params != nullptr && params->cArgs == 1 && params->cNamedArgs == 1 &&
        params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
      return AsException(Guarded([&] { object_.CopyRStr(FromVariant(params->rgvarg[0])); }),
                         exception);
    }
    return DispInvoke(static_cast<_Marquel*>(this), type, id, flags, params, result, exception,
                      arg_error);
  }

  // _Marquel
  STDMETHODIMP get_CopyRStr(BSTR* result) override {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    return Guarded([&] { *result = BstrFromUtf8(object_.CopyRStr()); });
  }
  STDMETHODIMP put_CopyRStr(BSTR value) override {
    return Guarded([&] { object_.CopyRStr(Utf8FromBstr(value)); });
  }
  STDMETHODIMP onstartpage(ScriptingContext** /*passedscriptingcontext*/) override {
    return Guarded([&] { object_.onstartpage(vantoro::Variant::nothing()); });
  }
  STDMETHODIMP onendpage() override {
    return Guarded([&] { object_.onendpage(); });
  }
  STDMETHODIMP Load() override {
    return Guarded([&] { object_.Load(); });
  }
  STDMETHODIMP Rndstr(VARIANT* str, VARIANT* result) override {
    return Pass(str, result, [&](const vantoro::Variant& v) { return object_.Rndstr(v); });
  }
  STDMETHODIMP RndContent(VARIANT* str, VARIANT* result) override {
    return Pass(str, result, [&](const vantoro::Variant& v) { return object_.RndContent(v); });
  }

 private:
  // The caller's variable is read, never written; the result is new.
  template <class Run>
  HRESULT Pass(VARIANT* str, VARIANT* result, Run&& run) {
    if (str == nullptr || result == nullptr) return E_POINTER;
    VariantInit(result);
    return Guarded([&] {
      vantoro::Variant out = run(FromVariant(*str));
      ToVariant(out, result);
    });
  }

  LONG refs_ = 1;
  vantoro::Marquel object_;
};

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; its lifetime is the module's (LockServer counts).
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    MarquelObject* object = new (std::nothrow) MarquelObject();
    if (object == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&server_locks);
    } else {
      InterlockedDecrement(&server_locks);
    }
    return S_OK;
  }
};

ClassFactory factory;

bool SetKey(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

SYSKIND TypeLibrarySystem() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    module_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return live_objects == 0 && server_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  CLSID ours;
  std::wstring text = Wide(vantoro::identity::kClassId);
  if (FAILED(CLSIDFromString(text.c_str(), &ours)) || !IsEqualCLSID(clsid, ours)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(iid, out);
}

STDAPI DllRegisterServer() {
  namespace id = vantoro::identity;
  const std::wstring clsid = Wide(id::kClassId);
  const std::wstring progid = Wide(id::kProgId);
  const std::wstring clsid_key = L"CLSID\\" + clsid;
  bool ok = SetKey(HKEY_CLASSES_ROOT, clsid_key, nullptr, Wide(id::kClassName)) &&
            SetKey(HKEY_CLASSES_ROOT, clsid_key + L"\\InprocServer32", nullptr, ModulePath()) &&
            SetKey(HKEY_CLASSES_ROOT, clsid_key + L"\\InprocServer32", L"ThreadingModel",
                   Wide(id::kThreadingModel)) &&
            SetKey(HKEY_CLASSES_ROOT, clsid_key + L"\\ProgID", nullptr, progid) &&
            SetKey(HKEY_CLASSES_ROOT, clsid_key + L"\\TypeLib", nullptr, Wide(id::kTypeLibraryId)) &&
            SetKey(HKEY_CLASSES_ROOT, clsid_key + L"\\Version", nullptr, L"1.0") &&
            SetKey(HKEY_CLASSES_ROOT, progid, nullptr, Wide(id::kClassName)) &&
            SetKey(HKEY_CLASSES_ROOT, progid + L"\\CLSID", nullptr, clsid);
  if (!ok) return SELFREG_E_CLASS;
  // Registering the type library also makes the dual interface known to the
  // standard automation marshalling.
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  library->Release();
  return S_OK;
}

STDAPI DllUnregisterServer() {
  namespace id = vantoro::identity;
  const std::wstring clsid = Wide(id::kClassId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, Wide(id::kProgId).c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, Wide(id::kProgId).c_str());
  UnRegisterTypeLib(LIBID_Vantoro, static_cast<WORD>(id::kTypeLibraryMajor),
                    static_cast<WORD>(id::kTypeLibraryMinor), LOCALE_NEUTRAL, TypeLibrarySystem());
  return S_OK;
}

}  // extern "C"
