#include "com_convert.h"

#include <charconv>
#include <new>

#include "text/utf8.h"
#include "component/script_error.h"

namespace vantoro::windows {
namespace {

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A single keeps the digits it was written with (0.1, not 0.10000000149011612,
// as a plain widening would give): its shortest text, read as a double.
double WidenSingle(float value) {
  char text[32];
  double wide = value;
  auto written = std::to_chars(text, text + sizeof text, value);
  if (written.ec == std::errc()) std::from_chars(text, written.ptr, wide);
  return wide;
}

}  // namespace

std::string Utf8FromUtf16(const wchar_t* text, std::size_t length) {
  std::string out;
  out.reserve(length * 3);
  for (std::size_t i = 0; i < length; ++i) {
    unsigned long unit = static_cast<unsigned short>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
      unsigned long low = static_cast<unsigned short>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, unit);  // a lone surrogate keeps its own three-byte form
  }
  return out;
}

std::string Utf8FromBstr(BSTR text) {
  if (text == nullptr) return {};
  return Utf8FromUtf16(text, SysStringLen(text));
}

std::wstring Utf16FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto [length, cp] = internal::DecodeCharAt(text, i, /*surrogates=*/true);
    i += length;
    if (cp < 0) {
      out += static_cast<wchar_t>(0xFFFD);
    } else if (cp >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);  // surrogates too: their three-byte forms
    }
  }
  return out;
}

BSTR BstrFromUtf8(std::string_view text) {
  std::wstring wide = Utf16FromUtf8(text);
  BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (result == nullptr) throw std::bad_alloc();
  return result;
}

Variant FromVariant(const VARIANT& value) {
  const VARIANT* v = &value;
  while (V_VT(v) == (VT_BYREF | VT_VARIANT)) v = V_VARIANTREF(v);
  bool byref = (V_VT(v) & VT_BYREF) != 0;
  switch (V_VT(v) & ~VT_BYREF) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant::null();
    case VT_I1: return Variant(std::int64_t{byref ? *V_I1REF(v) : V_I1(v)});
    case VT_I2: return Variant(std::int64_t{byref ? *V_I2REF(v) : V_I2(v)});
    case VT_I4: return Variant(std::int64_t{byref ? *V_I4REF(v) : V_I4(v)});
    case VT_INT: return Variant(std::int64_t{byref ? *V_INTREF(v) : V_INT(v)});
    case VT_I8: return Variant(static_cast<std::int64_t>(byref ? *V_I8REF(v) : V_I8(v)));
    case VT_UI1: return Variant(std::int64_t{byref ? *V_UI1REF(v) : V_UI1(v)});
    case VT_UI2: return Variant(std::int64_t{byref ? *V_UI2REF(v) : V_UI2(v)});
    case VT_UI4: return Variant(std::int64_t{byref ? *V_UI4REF(v) : V_UI4(v)});
    case VT_UINT: return Variant(std::int64_t{byref ? *V_UINTREF(v) : V_UINT(v)});
    case VT_R4: return Variant(WidenSingle(byref ? *V_R4REF(v) : V_R4(v)));
    case VT_R8: return Variant(byref ? *V_R8REF(v) : V_R8(v));
    case VT_BOOL: return Variant((byref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
    case VT_BSTR: return Variant(Utf8FromBstr(byref ? *V_BSTRREF(v) : V_BSTR(v)));
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = byref ? *V_UNKNOWNREF(v) : V_UNKNOWN(v);
      // The library never looks into an object; it only needs to know it is one.
      return object == nullptr ? Variant::nothing() : Variant(std::make_shared<Object>());
    }
    default: {
      // Dates, currency and the like: their text form, as a script would see it.
      VARIANT text;
      VariantInit(&text);
      if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(v), 0, VT_BSTR))) {
        throw ScriptError(kTypeMismatch);
      }
      std::string utf8 = Utf8FromBstr(V_BSTR(&text));
      VariantClear(&text);
      return Variant(std::move(utf8));
    }
  }
}

void ToVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  switch (value.type()) {
    case Variant::Type::kNull: V_VT(out) = VT_NULL; break;
    case Variant::Type::kInteger:
      V_VT(out) = VT_I4;
      V_I4(out) = static_cast<LONG>(value.as_integer());
      break;
    case Variant::Type::kDouble:
      V_VT(out) = VT_R8;
      V_R8(out) = value.as_double();
      break;
    case Variant::Type::kBoolean:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.as_boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Variant::Type::kString:
      V_BSTR(out) = BstrFromUtf8(value.as_string());
      V_VT(out) = VT_BSTR;
      break;
    default: break;
  }
}

}  // namespace vantoro::windows
