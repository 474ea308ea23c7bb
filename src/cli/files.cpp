#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vantoro::cli {
namespace {

namespace fs = std::filesystem;

FileError Failure(const std::string& path, const std::string& what) {
  return FileError(path + ": " + what + ": " + std::strerror(errno));
}

std::string ReadAll(int fd, const std::string& name) {
  std::string data;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return data;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure(name, "cannot read");
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
}

bool IsPage(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return ext == ".html" || ext == ".htm";
}

}  // namespace

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

std::string ReadInput(const std::string& path) {
  if (path == "-") return ReadAll(STDIN_FILENO, "standard input");
  if (IsDirectory(path)) {
    errno = EISDIR;
    throw Failure(path, "cannot read (use --in-place for directories)");
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(path, "cannot open");
  try {
    std::string data = ReadAll(fd, path);
    close(fd);
    return data;
  } catch (...) {
    close(fd);
    throw;
  }
}

void WriteAtomically(const std::string& path, const std::string& data) {
  fs::path target(path);
  fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string name = ".";
  name += target.filename().string();
  name += ".vantoro-XXXXXX";
  std::string temp = (dir / name).string();
  int fd = mkstemp(temp.data());
  if (fd < 0) throw Failure(path, "cannot create a temporary file beside it");
  auto fail = [&](const char* what) {
    int saved = errno;
    close(fd);
    unlink(temp.c_str());
    errno = saved;
    throw Failure(path, what);
  };
  // Keep the permissions of the file replaced; a new file gets the usual ones.
  struct stat existing;
  mode_t mode;
  if (stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd, mode) != 0) fail("cannot set permissions");
  for (std::size_t done = 0; done < data.size();) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot write");
    }
    done += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) fail("cannot flush to disk");
  if (close(fd) != 0) {
    unlink(temp.c_str());
    throw Failure(path, "cannot write");
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    throw Failure(path, "cannot replace");
  }
}

std::vector<std::string> CollectPages(const std::vector<std::string>& paths,
                                      std::vector<std::string>& failures) {
  std::vector<std::string> pages;
  for (const std::string& path : paths) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
      failures.push_back(path + ": cannot open: No such file or directory");
      continue;
    }
    if (!fs::is_directory(status)) {
      pages.push_back(path);
      continue;
    }
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_regular_file(error) && IsPage(it->path())) found.push_back(it->path().string());
    }
    if (error) failures.push_back(path + ": cannot list: " + error.message());
    std::sort(found.begin(), found.end());
    pages.insert(pages.end(), found.begin(), found.end());
  }
  // A page named twice (itself and through its folder) is processed once.
  std::vector<std::string> unique;
  std::vector<fs::path> seen;
  for (const std::string& page : pages) {
    std::error_code error;
    fs::path key = fs::weakly_canonical(page, error);
    if (error) key = page;
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    unique.push_back(page);
  }
  return unique;
}

}  // namespace vantoro::cli
