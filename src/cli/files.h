// Reading pages, replacing them without harm, and finding the pages of a site.
#ifndef VANTORO_CLI_FILES_H_
#define VANTORO_CLI_FILES_H_

#include <sys/stat.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantoro::cli {

// A failure, its message naming the file and the cause ("page.html: No such
// file or directory"), with bad bytes of the name escaped.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file as read: its bytes, and what it looked like then (none for standard
// input), so that a later change by someone else can be noticed.
struct ReadFile {
  std::string data;
  std::optional<struct stat> seen;
};

// The whole file, or standard input for "-". Throws FileError.
ReadFile ReadInput(const std::string& path);

// What a write did besides writing.
struct WriteNotes {
  nlink_t other_names = 0;  // a hard-linked file: its other names keep the old text
};

// Writes `data` to `path` so that nothing else is harmed:
// - a regular file (or a new name) is replaced atomically: the data goes to a
//   temporary file beside it, flushed to disk, which is renamed over it, so
//   readers see the old file or the new one, never a part; mode, owner and group
//   stay (owner and group when this process may set them);
// - a symbolic link stays a link: the file it points to is replaced;
// - a device, FIFO or socket is written to directly;
// - when `seen` is given, a file whose size or modification time differs from it
//   is not replaced ("changed while being protected").
// Throws FileError; the original stays as it was then, and no temporary file is
// left behind.
WriteNotes WriteSafely(const std::string& path, const std::string& data,
                       const std::optional<struct stat>& seen = std::nullopt);

// What a walk over the paths of the command line found.
struct Walk {
  std::vector<std::string> pages;    // in a stable order, each once
  std::vector<std::string> skipped;  // symbolic links inside folders: not followed
  std::vector<std::string> errors;   // paths and folders that could not be read
};

// Every file named, and every *.html / *.htm file under each folder named. A
// path on the command line that is a symbolic link is followed; links inside
// the folders are not. An unreadable folder is reported and the walk goes on.
Walk CollectPages(const std::vector<std::string>& paths);

bool IsDirectory(const std::string& path);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_FILES_H_
