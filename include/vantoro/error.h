// The one error type of the library. Every operation of Marquel reports failure by
// throwing it; nothing inside the class catches it. The dispatch layer turns it into
// a status code for script hosts.
#ifndef VANTORO_ERROR_H_
#define VANTORO_ERROR_H_

#include <stdexcept>
#include <string>

namespace vantoro {

// The platform's standard error numbers that the operations raise.
enum ErrorNumber : int {
  kInvalidArgument = 5,    // "Invalid procedure call or argument"
  kTypeMismatch = 13,      // "Type mismatch"
  kInvalidUseOfNull = 94,  // "Invalid use of Null"
};

class Error : public std::runtime_error {
 public:
  // With no description, the platform's standard text for `number` is used.
  explicit Error(int number);
  Error(int number, std::string description);

  int number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  int number_;
  std::string description_;
};

// The standard description for an error number ("Type mismatch" for 13, ...).
std::string StandardDescription(int number);

}  // namespace vantoro

#endif  // VANTORO_ERROR_H_
