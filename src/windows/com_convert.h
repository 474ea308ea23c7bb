// Conversions between the platform's automation types and the library's:
// BSTR (UTF-16) <-> UTF-8, VARIANT <-> vantoro::Variant.
#ifndef VANTORO_COMPONENT_WINDOWS_COM_CONVERT_H_
#define VANTORO_COMPONENT_WINDOWS_COM_CONVERT_H_

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "component/variant.h"

namespace vantoro::windows {

// UTF-16 to UTF-8, lone surrogates included (each as its own three-byte form),
// so that any BSTR comes back unchanged from Utf16FromUtf8.
std::string Utf8FromUtf16(const wchar_t* text, std::size_t length);
std::string Utf8FromBstr(BSTR text);

// The inverse; a byte that starts no valid sequence becomes U+FFFD.
std::wstring Utf16FromUtf8(std::string_view text);

// Throws std::bad_alloc when the platform cannot allocate the string.
BSTR BstrFromUtf8(std::string_view text);

// Reads a VARIANT (through VT_BYREF): empty, null, the integer and floating
// types, Boolean, BSTR, objects; other types by their text form. Throws
// vantoro::ScriptError 13 when that fails.
Variant FromVariant(const VARIANT& value);

// Writes a Variant into an uninitialised VARIANT (strings as BSTR; objects are
// not handed out and give VT_EMPTY).
void ToVariant(const Variant& value, VARIANT* out);

}  // namespace vantoro::windows

#endif  // VANTORO_COMPONENT_WINDOWS_COM_CONVERT_H_
