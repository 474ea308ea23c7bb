#include "component/script_error.h"

namespace vantoro {

std::string StandardDescription(int number) {
  switch (number) {
    case kInvalidArgument: return "Invalid procedure call or argument";
    case kOutOfMemory: return "Out of memory";
    case kTypeMismatch: return "Type mismatch";
    case kInvalidUseOfNull: return "Invalid use of Null";
    default: return "Error " + std::to_string(number);
  }
}

ScriptError::ScriptError(int number) : ScriptError(number, StandardDescription(number)) {}

ScriptError::ScriptError(int number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

ScriptError ToScriptError(const Error& error) {
  switch (error.code()) {
    case ErrorCode::kNotANumber: return ScriptError(kTypeMismatch);
    case ErrorCode::kInvalidArgument:
    case ErrorCode::kOutOfRange:
    case ErrorCode::kUnknownCharset:
    case ErrorCode::kReplayExhausted: break;
  }
  return ScriptError(kInvalidArgument, error.what());
}

}  // namespace vantoro
