#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>

#include "messages.h"
#include "temporary_files.h"

namespace vantoro::cli {
namespace {

namespace fs = std::filesystem;

// "NAME: REASON", or "NAME: WHAT: REASON", with errno as the reason.
FileError Failure(const std::string& path, const char* what = nullptr) {
  std::string message = Shown(path) + ": ";
  if (what != nullptr) message += std::string(what) + ": ";
  return FileError(message + std::strerror(errno));
}

// Asks for huge pages behind a large buffer (see the engine's own hint): a
// fresh buffer of a large page otherwise faults in 4 KB at a time.
void AdviseHugePages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  auto begin = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t last = (begin + size) & ~(kHuge - 1);
  if (size >= 2 * kHuge && last > first) {
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
}

// Reads to the end; `expected` is a hint of the size (0: unknown).
std::string ReadAll(int fd, const std::string& name, std::size_t expected) {
  std::string data;
  // One more byte than the file's size, so the end is seen without growing.
  data.reserve(expected > 0 ? expected + 1 : std::size_t{1} << 16);
  AdviseHugePages(data.data(), data.capacity());
  data.resize(data.capacity());
  std::size_t size = 0;
  for (;;) {
    if (size == data.size()) data.resize(std::max<std::size_t>(data.size() * 2, 1 << 16));
    ssize_t n = read(fd, data.data() + size, data.size() - size);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Failure(name);
    }
    size += static_cast<std::size_t>(n);
  }
  data.resize(size);
  if (data.capacity() > size + size / 8 + 4096) data.shrink_to_fit();
  return data;
}

bool IsPageName(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return ext == ".html" || ext == ".htm";
}

// Follows symbolic links from `path` to what they finally name (which may not
// exist yet). Throws FileError on a loop.
std::string ResolveLinks(std::string path) {
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (hops == 40) {
      errno = ELOOP;
      throw Failure(path);
    }
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) throw Failure(path);
    target.resize(static_cast<std::size_t>(n));
    if (!target.starts_with('/')) {
      fs::path dir = fs::path(path).parent_path();
      target = (dir.empty() ? fs::path(target) : dir / target).string();
    }
    path = target;
  }
}

bool Changed(const struct stat& before, const struct stat& now) {
  return before.st_dev != now.st_dev || before.st_ino != now.st_ino ||
         before.st_size != now.st_size || before.st_mtim.tv_sec != now.st_mtim.tv_sec ||
         before.st_mtim.tv_nsec != now.st_mtim.tv_nsec;
}

// False with errno set when a write fails.
bool WriteFully(int fd, const std::string& data) {
  for (std::size_t done = 0; done < data.size();) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A device, FIFO or socket: written to as it is, never replaced.
void WriteInPlace(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw Failure(path);
  if (!WriteFully(fd, data)) {
    FileError error = Failure(path, "write error");
    close(fd);
    throw error;
  }
  if (close(fd) != 0) throw Failure(path, "write error");
}

void ReplaceAtomically(const std::string& path, const std::string& data,
                       const struct stat* existing, const std::optional<struct stat>& seen) {
  fs::path target(path);
  fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string temp = (dir / ("." + target.filename().string() + ".vantoro-XXXXXX")).string();
  int fd = CreateTemporaryFile(temp);
  if (fd < 0) throw Failure(path, "cannot create a temporary file beside it");
  auto fail = [&](const char* what) {
    FileError error = Failure(path, what);
    close(fd);
    DiscardTemporaryFile(temp);
    return error;
  };
  mode_t mode;
  if (existing != nullptr) {
    mode = existing->st_mode & 07777;
    // Owner and group first: changing them may clear set-id bits that the
    // mode then restores. Where this process may not set them (not root, not
    // the owner), the new file is its own and says so in its owner only.
    if (fchown(fd, existing->st_uid, existing->st_gid) != 0 && errno != EPERM) {
      throw fail("cannot keep owner and group");
    }
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd, mode) != 0) throw fail("cannot set permissions");
  if (!WriteFully(fd, data)) throw fail("write error");
  if (fsync(fd) != 0) throw fail("cannot flush to disk");
  if (close(fd) != 0) {
    FileError error = Failure(path, "write error");
    DiscardTemporaryFile(temp);
    throw error;
  }
  if (seen) {
    struct stat now;
    if (stat(path.c_str(), &now) != 0 || Changed(*seen, now)) {
      DiscardTemporaryFile(temp);
      throw FileError(Shown(path) + ": changed while being protected; left as it is");
    }
  }
  if (RenameTemporaryFile(temp, path) != 0) {
    FileError error = Failure(path, "cannot replace");
    DiscardTemporaryFile(temp);
    throw error;
  }
}

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

ReadFile ReadInput(const std::string& path) {
  if (path == "-") return {ReadAll(STDIN_FILENO, "standard input", 0), std::nullopt};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw Failure(path);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    FileError error = Failure(path);
    close(fd);
    throw error;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    throw Failure(path);
  }
  try {
    ReadFile file{ReadAll(fd, path, S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0),
                  st};
    close(fd);
    return file;
  } catch (...) {
    close(fd);
    throw;
  }
}

WriteNotes WriteSafely(const std::string& path, const std::string& data,
                       const std::optional<struct stat>& seen) {
  std::string target = ResolveLinks(path);
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) {
    if (errno != ENOENT) throw Failure(path);
    if (seen) {
      throw FileError(Shown(path) + ": changed while being protected (it is gone)");
    }
    ReplaceAtomically(target, data, nullptr, std::nullopt);
    return {};
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    throw Failure(path);
  }
  if (!S_ISREG(st.st_mode)) {
    WriteInPlace(target, data);
    return {};
  }
  ReplaceAtomically(target, data, &st, seen);
  return {st.st_nlink > 1 ? st.st_nlink - 1 : 0};
}

Walk CollectPages(const std::vector<std::string>& paths) {
  Walk walk;
  std::vector<std::string> pages;
  // Folders are read one by one, entries sorted, so the order is stable.
  auto walk_folder = [&](const std::string& root) {
    std::vector<std::string> folders = {root};
    while (!folders.empty()) {
      std::string folder = std::move(folders.back());
      folders.pop_back();
      DIR* dir = opendir(folder.c_str());
      if (dir == nullptr) {
        walk.errors.push_back(Failure(folder).what());
        continue;
      }
      std::vector<std::string> names;
      errno = 0;
      while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
        errno = 0;
      }
      if (errno != 0) walk.errors.push_back(Failure(folder).what());
      closedir(dir);
      std::sort(names.begin(), names.end());
      std::vector<std::string> below;
      for (const std::string& name : names) {
        std::string path = folder.ends_with('/') ? folder + name : folder + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
          walk.errors.push_back(Failure(path).what());
        } else if (S_ISDIR(st.st_mode)) {
          below.push_back(path);
        } else if (S_ISLNK(st.st_mode)) {
          // Not followed: it could lead out of the site, or round in a loop.
          if (IsPageName(name) || IsDirectory(path)) walk.skipped.push_back(path);
        } else if (S_ISREG(st.st_mode) && IsPageName(name)) {
          pages.push_back(path);
        }
      }
      folders.insert(folders.end(), below.rbegin(), below.rend());
    }
  };
  for (const std::string& path : paths) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      walk.errors.push_back(Failure(path).what());
    } else if (S_ISDIR(st.st_mode)) {
      walk_folder(path);
    } else {
      pages.push_back(path);
    }
  }
  // A page named twice (itself and through its folder) is processed once.
  std::set<std::pair<dev_t, ino_t>> seen;
  for (std::string& page : pages) {
    struct stat st;
    if (stat(page.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second) continue;
    walk.pages.push_back(std::move(page));
  }
  return walk;
}

}  // namespace vantoro::cli
