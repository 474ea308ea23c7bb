// The errors a script sees: the platform's standard error numbers with their
// descriptions. Every member of Marquel throws this type and nothing else; the
// dispatch layer and the Windows server turn it into a status code.
#ifndef VANTORO_COMPONENT_SCRIPT_ERROR_H_
#define VANTORO_COMPONENT_SCRIPT_ERROR_H_

#include <stdexcept>
#include <string>
#include <utility>

#include "vantoro/error.h"

namespace vantoro {

enum ScriptErrorNumber : int {
  kInvalidArgument = 5,    // "Invalid procedure call or argument"
  kOutOfMemory = 7,        // "Out of memory"
  kTypeMismatch = 13,      // "Type mismatch"
  kInvalidUseOfNull = 94,  // "Invalid use of Null"
};

class ScriptError : public std::runtime_error {
 public:
  // With no description, the platform's standard text for `number` is used.
  explicit ScriptError(int number);
  ScriptError(int number, std::string description);

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  int number_;
  std::string description_;
};

// The standard description for an error number ("Type mismatch" for 13, ...).
std::string StandardDescription(int number);

// The one place where an engine error becomes a script error.
ScriptError ToScriptError(const Error& error);

// Runs an engine call; its errors leave as script errors.
template <class Call>
auto CallEngine(Call&& call) -> decltype(call()) {
  try {
    return std::forward<Call>(call)();
  } catch (const Error& error) {
    throw ToScriptError(error);
  }
}

}  // namespace vantoro

#endif  // VANTORO_COMPONENT_SCRIPT_ERROR_H_
