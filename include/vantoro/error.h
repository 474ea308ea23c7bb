// The one error type of the library. Every failing call throws it and changes
// nothing; the C interface turns it into a status code.
#ifndef VANTORO_ERROR_H_
#define VANTORO_ERROR_H_

#include <stdexcept>
#include <string>

namespace vantoro {

enum class ErrorCode {
  kInvalidArgument = 1,  // an option or argument the library cannot use
  kNotANumber,           // a count or range that is not a decimal number
  kOutOfRange,           // a count too large to produce
  kUnknownCharset,       // a character set the system cannot convert to
  kReplayExhausted,      // the replayed random values ran out
};

class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& message)
      : std::runtime_error(message), code_(code) {}

  ErrorCode code() const noexcept { return code_; }

 private:
  ErrorCode code_;
};

}  // namespace vantoro

#endif  // VANTORO_ERROR_H_
