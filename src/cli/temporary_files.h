// Temporary files of work in progress, and the signals that must not leave them
// behind.
#ifndef VANTORO_CLI_TEMPORARY_FILES_H_
#define VANTORO_CLI_TEMPORARY_FILES_H_

#include <string>

namespace vantoro::cli {

// From now on SIGINT, SIGTERM and SIGHUP remove every temporary file still
// registered and end the tool with 128 + the signal's number. Call it before
// starting threads: they inherit the blocked signals that a watcher thread
// waits for. A second call does nothing.
void RemoveTemporaryFilesOnSignals();
// Stops the watcher (before returning from main).
void StopWatchingSignals();

// Creates a file from the mkstemp template `path` (its name is filled in) and
// registers it. Returns the descriptor, or -1 with errno set.
int CreateTemporaryFile(std::string& path);
// Renames the registered file `temp` over `target` and forgets it. Returns what
// rename returns, errno included; a failed rename leaves it registered.
int RenameTemporaryFile(const std::string& temp, const std::string& target);
// Removes the registered file `temp` and forgets it; errno is kept.
void DiscardTemporaryFile(const std::string& temp);

}  // namespace vantoro::cli

#endif  // VANTORO_CLI_TEMPORARY_FILES_H_
