// The C interface: a handle around a Protector, statuses instead of exceptions,
// malloc'd results. Every exception stops in Guarded(); nothing unwinds into C.
#include "vantoro/vantoro.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "vantoro/error.h"
#include "vantoro/protector.h"
#include "vantoro/random.h"
#include "vantoro/response.h"
#include "vantoro/version.h"
#include "text/kept_string.h"

struct vantoro_handle {
  vantoro::Protector protector;
  std::string last_error;
  // Set instead of last_error when even copying the message ran out of memory.
  const char* last_error_fallback = nullptr;
  // Replayed values still to hand out; empty while the default source is used.
  std::optional<vantoro::ScriptedRandomSource> replay;
};

struct vantoro_policy {
  vantoro::ResponsePolicy policy;
  std::string last_error;
};

namespace {

// Taking over the advanced replay after a pass has succeeded must not throw.
static_assert(std::is_nothrow_move_assignable_v<vantoro::ScriptedRandomSource>);
static_assert(std::is_nothrow_move_assignable_v<std::optional<vantoro::ScriptedRandomSource>>);

// The C enumerators are the C++ ones, number for number.
static_assert(static_cast<int>(vantoro::Verdict::kError) == VANTORO_VERDICT_ERROR);
static_assert(static_cast<int>(vantoro::Verdict::kSent) == VANTORO_VERDICT_SENT);
static_assert(static_cast<int>(vantoro::Verdict::kRange) == VANTORO_VERDICT_RANGE);
static_assert(static_cast<int>(vantoro::HeaderAction::kLength) == VANTORO_HEADER_LENGTH);
static_assert(static_cast<int>(vantoro::HeaderAction::kWeaken) == VANTORO_HEADER_WEAKEN);

vantoro_status Fail(vantoro_handle* handle, vantoro_status status, const char* message) noexcept {
  if (handle == nullptr) return status;
  try {
    handle->last_error = message;
    handle->last_error_fallback = nullptr;
  } catch (...) {
    // Only bad_alloc is possible here; the message then is the best we can say.
    handle->last_error.clear();
    handle->last_error_fallback =
        status == VANTORO_OUT_OF_MEMORY ? "out of memory" : "out of memory while reporting an error";
  }
  return status;
}

vantoro_status StatusOf(vantoro::ErrorCode code) noexcept {
  switch (code) {
    case vantoro::ErrorCode::kInvalidArgument:
      return VANTORO_INVALID_ARGUMENT;
    case vantoro::ErrorCode::kUnknownCharset:
      return VANTORO_UNKNOWN_CHARSET;
    case vantoro::ErrorCode::kReplayExhausted:
      return VANTORO_REPLAY_EXHAUSTED;
    case vantoro::ErrorCode::kNotANumber:
    case vantoro::ErrorCode::kOutOfRange:
      // Only counts and ranges written as text raise these, and the passes
      // behind this interface use fixed ones: seeing one is a library fault.
      return VANTORO_INTERNAL_ERROR;
  }
  return VANTORO_INTERNAL_ERROR;
}

// The one place exceptions become statuses. `body` does the whole call and
// writes outputs only once nothing else can fail.
template <typename Body>
vantoro_status Guarded(vantoro_handle* handle, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return VANTORO_OK;
  } catch (const vantoro::Error& e) {
    return Fail(handle, StatusOf(e.code()), e.what());
  } catch (const std::bad_alloc&) {
    return Fail(handle, VANTORO_OUT_OF_MEMORY, "out of memory");
  } catch (const std::exception& e) {
    return Fail(handle, VANTORO_INTERNAL_ERROR, e.what());
  } catch (...) {
    return Fail(handle, VANTORO_INTERNAL_ERROR, "unknown exception");
  }
}

// Reads an enum argument as its integer, so a value C put there that is no
// enumerator is never loaded as the enum type.
template <typename Enum>
std::underlying_type_t<Enum> RawValue(const Enum& value) noexcept {
  std::underlying_type_t<Enum> raw;
  static_assert(sizeof raw == sizeof value);
  std::memcpy(&raw, &value, sizeof raw);
  return raw;
}

using Pass = void (vantoro::Protector::*)(std::string_view, std::string&) const;

// The result is written into a string kept per thread (up to the retained
// memory) and copied out: the pass allocates nothing afresh for it.
struct PassResult {};

vantoro_status Protect(vantoro_handle* handle, Pass pass, const char* text, std::size_t length,
                       char** out, std::size_t* out_length) noexcept {
  if (out != nullptr) *out = nullptr;
  if (out_length != nullptr) *out_length = 0;
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (out == nullptr || out_length == nullptr) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the result pointers must not be NULL");
  }
  if (text == nullptr && length != 0) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the text is NULL but its length is not 0");
  }
  return Guarded(handle, [&] {
    vantoro::internal::KeptString<PassResult> kept(vantoro::RetainedMemory());
    std::string& result = kept.text();
    // The pass draws from a copy, so a failed call leaves the replay where it was.
    std::optional<vantoro::ScriptedRandomSource> replay = handle->replay;
    if (replay) {
      vantoro::ScopedRandomSource use(*replay);
      (handle->protector.*pass)(std::string_view(text, length), result);
    } else {
      (handle->protector.*pass)(std::string_view(text, length), result);
    }
    auto* buffer = static_cast<char*>(std::malloc(result.size() + 1));
    if (buffer == nullptr) throw std::bad_alloc();
    std::memcpy(buffer, result.data(), result.size());
    buffer[result.size()] = '\0';
    handle->replay = std::move(replay);
    *out = buffer;
    *out_length = result.size();
  });
}

}  // namespace

extern "C" {

vantoro_status vantoro_create(vantoro_handle** out) VANTORO_NOEXCEPT {
  if (out == nullptr) return VANTORO_NULL_ARGUMENT;
  *out = nullptr;
  return Guarded(nullptr, [&] { *out = new vantoro_handle(); });
}

void vantoro_destroy(vantoro_handle* handle) VANTORO_NOEXCEPT { delete handle; }

vantoro_status vantoro_set_copyright(vantoro_handle* handle, const char* text,
                                     std::size_t length) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (text == nullptr && length != 0) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the copyright text is NULL but its length is not 0");
  }
  return Guarded(handle, [&] { handle->protector.set_copyright(std::string_view(text, length)); });
}

vantoro_status vantoro_set_decoy_kind(vantoro_handle* handle,
                                      vantoro_decoy_kind kind) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  const auto raw = static_cast<long long>(RawValue(kind));
  return Guarded(handle, [&] {
    if (raw < VANTORO_DECOY_COPYRIGHT || raw > VANTORO_DECOY_BOTH) {
      throw vantoro::Error(vantoro::ErrorCode::kInvalidArgument,
                           "unknown decoy kind " + std::to_string(raw));
    }
    // The C and C++ enumerators carry the same numbers.
    handle->protector.set_decoy_kind(static_cast<vantoro::DecoyKind>(raw));
  });
}

vantoro_status vantoro_set_charset(vantoro_handle* handle, const char* name) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (name == nullptr) return Fail(handle, VANTORO_NULL_ARGUMENT, "the character set name is NULL");
  return Guarded(handle, [&] { handle->protector.set_charset(name); });
}

vantoro_status vantoro_set_transport_charset(vantoro_handle* handle,
                                             const char* label) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    handle->protector.set_transport_charset(label == nullptr ? std::string_view() : label);
  });
}

const char* vantoro_detect_charset(const char* page, std::size_t length,
                                   const char* transport) VANTORO_NOEXCEPT {
  if (page == nullptr && length != 0) return nullptr;
  // The name is a view of static, NUL-terminated storage.
  return vantoro::DetectCharset(std::string_view(page, length),
                                transport == nullptr ? std::string_view() : transport)
      .data();
}

vantoro_status vantoro_set_empty_notices(vantoro_handle* handle, int on) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.content.empty_notices = on != 0;
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_set_stylesheet_link(vantoro_handle* handle, const char* uri,
                                           std::size_t length) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (uri == nullptr && length != 0) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the stylesheet link is NULL but its length is not 0");
  }
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.content.stylesheet_link = std::string_view(uri, length);
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_set_hiding(vantoro_handle* handle, vantoro_hide_method method,
                                  const char* site_key, std::size_t length) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (site_key == nullptr && length != 0) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the site key is NULL but its length is not 0");
  }
  const auto raw = static_cast<long long>(RawValue(method));
  return Guarded(handle, [&] {
    if (raw != VANTORO_HIDE_STYLE && raw != VANTORO_HIDE_CLASS && raw != VANTORO_HIDE_LAYERED) {
      throw vantoro::Error(vantoro::ErrorCode::kInvalidArgument,
                           "unknown hiding method " + std::to_string(raw));
    }
    // The C and C++ enumerators carry the same numbers.
    handle->protector.set_hiding(static_cast<vantoro::HideMethod>(raw),
                                 std::string_view(site_key, length));
  });
}

vantoro_status vantoro_set_nosnippet(vantoro_handle* handle, int on) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.content.nosnippet = on != 0;
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_set_copy_notices(vantoro_handle* handle, std::size_t every) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.content.copy_notices = every;
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_set_marks(vantoro_handle* handle, int on) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.content.marks = on != 0;
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_set_mark_id(vantoro_handle* handle, const unsigned char id[8]) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (id == nullptr) return Fail(handle, VANTORO_NULL_ARGUMENT, "the mark id is NULL");
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | id[i];
  handle->protector.set_mark_id(value);
  return VANTORO_OK;
}

vantoro_status vantoro_trace(const char* text, std::size_t length, const char* site_key,
                             std::size_t key_length, int* found, unsigned char id_out[8],
                             std::size_t* agreeing, std::size_t* seen) VANTORO_NOEXCEPT {
  if (found != nullptr) *found = 0;
  if (found == nullptr || id_out == nullptr || agreeing == nullptr || seen == nullptr ||
      (text == nullptr && length != 0) || (site_key == nullptr && key_length != 0)) {
    return VANTORO_NULL_ARGUMENT;
  }
  std::memset(id_out, 0, 8);
  *agreeing = *seen = 0;
  return Guarded(nullptr, [&] {
    const std::vector<vantoro::MarkFound> marks =
        vantoro::Trace(std::string_view(text, length), std::string_view(site_key, key_length));
    if (marks.empty()) return;
    for (int i = 0; i < 8; ++i) id_out[i] = static_cast<unsigned char>(marks[0].id >> (56 - 8 * i));
    *agreeing = marks[0].agreeing;
    *seen = marks[0].seen;
    *found = 1;
  });
}

vantoro_status vantoro_set_tdm_reservation(vantoro_handle* handle, int on) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  return Guarded(handle, [&] {
    vantoro::Options options = handle->protector.options();
    options.page.tdm_reservation = on != 0;
    handle->protector.set_options(std::move(options));
  });
}

vantoro_status vantoro_stylesheet(const char* site_key, std::size_t length, char** out,
                                  std::size_t* out_length) VANTORO_NOEXCEPT {
  if (out != nullptr) *out = nullptr;
  if (out_length != nullptr) *out_length = 0;
  if (out == nullptr || out_length == nullptr || (site_key == nullptr && length != 0)) {
    return VANTORO_NULL_ARGUMENT;
  }
  return Guarded(nullptr, [&] {
    std::string sheet = vantoro::Stylesheet(std::string_view(site_key, length));
    auto* buffer = static_cast<char*>(std::malloc(sheet.size() + 1));
    if (buffer == nullptr) throw std::bad_alloc();
    std::memcpy(buffer, sheet.data(), sheet.size() + 1);
    *out = buffer;
    *out_length = sheet.size();
  });
}

vantoro_status vantoro_protect_page(vantoro_handle* handle, const char* page, std::size_t length,
                                    char** out, std::size_t* out_length) VANTORO_NOEXCEPT {
  return Protect(handle, &vantoro::Protector::protect_page, page, length, out, out_length);
}

vantoro_status vantoro_protect_content(vantoro_handle* handle, const char* article,
                                       std::size_t length, char** out,
                                       std::size_t* out_length) VANTORO_NOEXCEPT {
  return Protect(handle, &vantoro::Protector::protect_content, article, length, out, out_length);
}

vantoro_status vantoro_protect(vantoro_handle* handle, const char* page, std::size_t length,
                               char** out, std::size_t* out_length) VANTORO_NOEXCEPT {
  return Protect(handle, &vantoro::Protector::protect, page, length, out, out_length);
}

int vantoro_is_protected(const char* page, std::size_t length) VANTORO_NOEXCEPT {
  if (page == nullptr) return 0;
  return vantoro::IsProtected(std::string_view(page, length)) ? 1 : 0;
}

void vantoro_free(char* result) VANTORO_NOEXCEPT { std::free(result); }

void vantoro_set_retained_memory(std::size_t bytes) VANTORO_NOEXCEPT {
  vantoro::SetRetainedMemory(bytes);
}

vantoro_status vantoro_replay(vantoro_handle* handle, const double* values,
                              std::size_t count) VANTORO_NOEXCEPT {
  if (handle == nullptr) return VANTORO_NULL_ARGUMENT;
  if (values == nullptr && count != 0) {
    return Fail(handle, VANTORO_NULL_ARGUMENT, "the replay values are NULL but their count is not 0");
  }
  return Guarded(handle, [&] {
    if (count == 0) {
      handle->replay.reset();
      return;
    }
    // Built aside first: values outside [0, 1) throw and leave the old replay.
    vantoro::ScriptedRandomSource source(std::vector<double>(values, values + count));
    handle->replay = std::move(source);
  });
}

const char* vantoro_last_error(const vantoro_handle* handle) VANTORO_NOEXCEPT {
  if (handle == nullptr) return "";
  if (handle->last_error_fallback != nullptr) return handle->last_error_fallback;
  return handle->last_error.c_str();
}

const char* vantoro_status_name(vantoro_status status) VANTORO_NOEXCEPT {
  switch (RawValue(status)) {
    case VANTORO_OK:
      return "VANTORO_OK";
    case VANTORO_NULL_ARGUMENT:
      return "VANTORO_NULL_ARGUMENT";
    case VANTORO_INVALID_ARGUMENT:
      return "VANTORO_INVALID_ARGUMENT";
    case VANTORO_UNKNOWN_CHARSET:
      return "VANTORO_UNKNOWN_CHARSET";
    case VANTORO_REPLAY_EXHAUSTED:
      return "VANTORO_REPLAY_EXHAUSTED";
    case VANTORO_OUT_OF_MEMORY:
      return "VANTORO_OUT_OF_MEMORY";
    case VANTORO_INTERNAL_ERROR:
      return "VANTORO_INTERNAL_ERROR";
    default:
      return "VANTORO_UNKNOWN_STATUS";
  }
}

vantoro_status vantoro_policy_create(vantoro_policy** out) VANTORO_NOEXCEPT {
  if (out == nullptr) return VANTORO_NULL_ARGUMENT;
  *out = nullptr;
  return Guarded(nullptr, [&] { *out = new vantoro_policy(); });
}

void vantoro_policy_destroy(vantoro_policy* policy) VANTORO_NOEXCEPT { delete policy; }

vantoro_status vantoro_policy_add_type(vantoro_policy* policy, const char* type,
                                       std::size_t length) VANTORO_NOEXCEPT {
  if (policy == nullptr || (type == nullptr && length != 0)) return VANTORO_NULL_ARGUMENT;
  try {
    policy->policy.add_type(std::string_view(type, length));
    return VANTORO_OK;
  } catch (const vantoro::Error& e) {
    try {
      policy->last_error = e.what();
    } catch (...) {
      policy->last_error.clear();  // only bad_alloc: the status still tells
    }
    return StatusOf(e.code());
  } catch (...) {
    policy->last_error.clear();
    return VANTORO_OUT_OF_MEMORY;  // add_type throws nothing else
  }
}

const char* vantoro_policy_last_error(const vantoro_policy* policy) VANTORO_NOEXCEPT {
  return policy == nullptr ? "" : policy->last_error.c_str();
}

vantoro_verdict vantoro_policy_judge(const vantoro_policy* policy, int status,
                                     const char* content_type, std::size_t content_type_length,
                                     const char* content_encoding,
                                     std::size_t content_encoding_length,
                                     const char* cache_control, std::size_t cache_control_length,
                                     int content_range) VANTORO_NOEXCEPT {
  if (policy == nullptr || (content_type == nullptr && content_type_length != 0) ||
      (content_encoding == nullptr && content_encoding_length != 0) ||
      (cache_control == nullptr && cache_control_length != 0)) {
    return VANTORO_VERDICT_ERROR;
  }
  try {
    vantoro::ResponseHead head;
    head.status = status;
    head.content_type = std::string_view(content_type, content_type_length);
    head.content_encoding = std::string_view(content_encoding, content_encoding_length);
    head.cache_control = std::string_view(cache_control, cache_control_length);
    head.content_range = content_range != 0;
    // The C and C++ enumerators carry the same numbers.
    return static_cast<vantoro_verdict>(policy->policy.Judge(head));
  } catch (...) {
    return VANTORO_VERDICT_ERROR;
  }
}

const char* vantoro_verdict_name(vantoro_verdict verdict) VANTORO_NOEXCEPT {
  const auto raw = RawValue(verdict);
  if (raw < VANTORO_VERDICT_PROTECT || raw > VANTORO_VERDICT_ERROR) return "error";
  return vantoro::VerdictName(static_cast<vantoro::Verdict>(raw));
}

vantoro_header_action vantoro_protected_header(const char* name,
                                               std::size_t length) VANTORO_NOEXCEPT {
  if (name == nullptr) return VANTORO_HEADER_KEEP;
  return static_cast<vantoro_header_action>(
      vantoro::ProtectedHeader(std::string_view(name, length)));
}

vantoro_style_sources vantoro_csp_style_sources(const char* policy, std::size_t length,
                                                int elements) VANTORO_NOEXCEPT {
  if (policy == nullptr) return VANTORO_STYLES_INLINE;
  return static_cast<vantoro_style_sources>(
      vantoro::CspStyleSources(std::string_view(policy, length), elements != 0));
}

const char* vantoro_version(void) VANTORO_NOEXCEPT { return VANTORO_VERSION_STRING; }

}  // extern "C"
