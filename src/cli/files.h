// Reading pages, writing results atomically, and finding the pages of a site.
#ifndef VANTORO_CLI_FILES_H_
#define VANTORO_CLI_FILES_H_

#include <stdexcept>
#include <string>
#include <vector>

namespace vantoro::cli {

// A failure that names the file and the cause.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The whole file, or standard input for "-". Throws FileError.
std::string ReadInput(const std::string& path);

// Writes `data` to a temporary file in the target's directory, flushes it to disk
// and renames it over `path`, so readers see the old file or the new one, never a
// part. An existing file keeps its permissions. Throws FileError.
void WriteAtomically(const std::string& path, const std::string& data);

// Every file given, and every *.html / *.htm file under each directory given, in
// a stable order, each once. A path that cannot be found or listed goes to
// `failures` with its cause.
std::vector<std::string> CollectPages(const std::vector<std::string>& paths,
                                      std::vector<std::string>& failures);

bool IsDirectory(const std::string& path);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_FILES_H_
