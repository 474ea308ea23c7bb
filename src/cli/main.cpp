// vantoro: protects pages from the command line, one at a time or whole sites.
#include <cstdio>
#include <iostream>
#include <vector>

#include "files.h"
#include "messages.h"
#include "options.h"
#include "run.h"
#include "temporary_files.h"

namespace {

using namespace vantoro::cli;

// Prints each mark found: "mark 0x...: A of S symbols agree".
int Trace(const Options& options) {
  std::string text;
  try {
    text = ReadInput(options.inputs.empty() ? "-" : options.inputs[0]).data;
  } catch (const std::exception& error) {
    std::cerr << "vantoro: " << error.what() << "\n";
    return 2;
  }
  const std::vector<vantoro::MarkFound> found = vantoro::Trace(text, *options.site_key);
  for (const vantoro::MarkFound& mark : found) {
    char id[19];
    std::snprintf(id, sizeof id, "0x%016llx", static_cast<unsigned long long>(mark.id));
    std::cout << "mark " << id << " (" << mark.id << "): " << mark.agreeing << " of " << mark.seen
              << " symbols agree\n";
  }
  std::cout << std::flush;
  if (!std::cout) return 2;
  if (found.empty()) {
    std::cerr << "vantoro: no mark found\n";
    return 1;
  }
  return 0;
}

int Main(const Options& options) {
  if (options.command == Command::kStylesheet) {
    std::cout << vantoro::Stylesheet(*options.site_key) << std::flush;
    return std::cout ? 0 : 1;
  }
  if (options.command == Command::kTrace) return Trace(options);

  try {
    vantoro::Protector check;
    check.set_charset(options.charset);  // an unusable set fails before anything is read
  } catch (const vantoro::Error& error) {
    return UsageError(error.what());
  }
  if (!options.in_place && !options.inputs.empty() && IsDirectory(options.inputs[0])) {
    return UsageError(Shown(options.inputs[0]) + ": is a directory (use --in-place to process a site)");
  }

  std::string copyright;
  if (options.copyright) {
    copyright = *options.copyright;
  } else if (options.copyright_file) {
    try {
      copyright = ReadInput(*options.copyright_file).data;
    } catch (const std::exception& error) {
      std::cerr << "vantoro: " << error.what() << "\n";
      return 1;
    }
    if (copyright.ends_with('\n')) copyright.pop_back();
    if (copyright.ends_with('\r')) copyright.pop_back();
    if (copyright.empty() && options.decoy != vantoro::DecoyKind::kRandomText) {
      return UsageError(Shown(*options.copyright_file) + ": no copyright text in it");
    }
  }
  if (options.command != Command::kPage) {
    // The engine's own judgement of the content options (a copyright text of
    // separators only, say), before anything is read.
    try {
      vantoro::Options settings;
      settings.content.copyright = copyright;
      settings.content.decoy = options.decoy;
      settings.charset = options.charset;
      vantoro::Protector(settings).protect_content("");
    } catch (const vantoro::Error& error) {
      return UsageError(error.what());
    }
  }
  // Files are written: a signal must not leave temporary files behind.
  if (options.in_place || options.output) RemoveTemporaryFilesOnSignals();
  int status = options.in_place ? RunInPlace(options, copyright) : RunSingle(options, copyright);
  StopWatchingSignals();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  ParseResult parsed = ParseCommandLine(argc, argv);
  if (!parsed.options) return parsed.exit_status;
  return Main(*parsed.options);
}
