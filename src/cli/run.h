// Running the passes for the tool: one page to stdout or a file, or whole sites
// in place.
#ifndef VANTORO_CLI_RUN_H_
#define VANTORO_CLI_RUN_H_

#include <string>

#include "options.h"

namespace vantoro::cli {

// Each returns the exit status: 0 done, 1 processing failed.
int RunSingle(const Options& options, const std::string& copyright);
int RunInPlace(const Options& options, const std::string& copyright);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_RUN_H_
