// Command line of the vantoro tool.
#ifndef VANTORO_CLI_OPTIONS_H_
#define VANTORO_CLI_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vantoro/protector.h"

namespace vantoro::cli {

enum class Command { kPage, kContent, kProtect, kStylesheet, kTrace };

struct Options {
  Command command = Command::kPage;
  std::vector<std::string> inputs;  // empty: stdin
  std::optional<std::string> copyright;
  std::optional<std::string> copyright_file;
  DecoyKind decoy = DecoyKind::kCopyright;
  HideMethod hide = HideMethod::kLayered;
  bool hide_given = false;
  std::optional<std::string> site_key;
  std::size_t copy_notices = 4;
  bool copy_notices_given = false;
  // Marks: with --hide layered and a site key, unless --no-marks. The id:
  // --mark-id, else the time of the run in seconds.
  bool no_marks = false;
  bool tdm_reservation = false;
  std::optional<std::uint64_t> mark_id;
  bool nosnippet = false;
  bool in_place = false;
  bool force = false;  // protect pages with the watermark again
  std::optional<std::string> random_values;
  std::string charset = "auto";
  std::optional<std::string> output;
};

// What parsing decided: run with options, or exit at once with a status.
struct ParseResult {
  std::optional<Options> options;
  int exit_status = 0;
};

// Parses argv; prints help, version or a usage error itself.
ParseResult ParseCommandLine(int argc, char** argv);

// Prints "vantoro: MESSAGE" and the hint to --help; returns 2.
int UsageError(const std::string& message);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_OPTIONS_H_
