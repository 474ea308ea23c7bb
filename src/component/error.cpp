#include "vantoro/error.h"

#include <utility>

namespace vantoro {

std::string StandardDescription(int number) {
  switch (number) {
    case kInvalidArgument: return "Invalid procedure call or argument";
    case kTypeMismatch: return "Type mismatch";
    case kInvalidUseOfNull: return "Invalid use of Null";
    default: return "Error " + std::to_string(number);
  }
}

Error::Error(int number) : Error(number, StandardDescription(number)) {}

Error::Error(int number, std::string description)
    : std::runtime_error(description), number_(number), description_(std::move(description)) {}

}  // namespace vantoro
