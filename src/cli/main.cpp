// vantoro: protects pages from the command line, one at a time or whole sites.
#include <iostream>

#include "files.h"
#include "options.h"
#include "run.h"

int main(int argc, char** argv) {
  using namespace vantoro::cli;
  ParseResult parsed = ParseCommandLine(argc, argv);
  if (!parsed.options) return parsed.exit_status;
  const Options& options = *parsed.options;
  if (options.command == Command::kStylesheet) {
    std::cout << vantoro::Stylesheet(*options.site_key) << std::flush;
    return std::cout ? 0 : 1;
  }

  try {
    vantoro::Protector check;
    check.set_charset(options.charset);  // an unusable set fails before anything is read
  } catch (const vantoro::Error& error) {
    std::cerr << "vantoro: " << error.what() << "\nTry 'vantoro --help' for more information.\n";
    return 2;
  }
  if (!options.in_place && !options.inputs.empty() && IsDirectory(options.inputs[0])) {
    std::cerr << "vantoro: " << options.inputs[0]
              << ": is a directory (use --in-place to process a site)\n";
    return 2;
  }

  std::string copyright;
  if (options.copyright) {
    copyright = *options.copyright;
  } else if (options.copyright_file) {
    try {
      copyright = ReadInput(*options.copyright_file);
    } catch (const std::exception& error) {
      std::cerr << "vantoro: " << error.what() << "\n";
      return 1;
    }
    if (copyright.ends_with('\n')) copyright.pop_back();
    if (copyright.ends_with('\r')) copyright.pop_back();
  }
  return options.in_place ? RunInPlace(options, copyright) : RunSingle(options, copyright);
}
