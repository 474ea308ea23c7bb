// How the tool words what it reports.
#ifndef VANTORO_CLI_MESSAGES_H_
#define VANTORO_CLI_MESSAGES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vantoro::cli {

// `text` fit for a terminal: control characters, DEL and bytes that are not
// UTF-8 become \xNN escapes (a backslash itself becomes "\\").
std::string Shown(std::string_view text);

// "1 file", "2 files".
std::string Count(std::size_t n, std::string_view one, std::string_view many);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_MESSAGES_H_
