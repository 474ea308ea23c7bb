#include "temporary_files.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace vantoro::cli {
namespace {

// The registry and the rename share one lock, so the watcher sees every file
// either before its rename (and removes it) or after (and leaves the page).
struct Registry {
  std::mutex mutex;
  std::vector<std::string> files;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: the watcher may outlive main
  return *registry;
}

struct Watcher {
  std::thread thread;
  int signals = -1;
  int stop[2] = {-1, -1};
};

Watcher& TheWatcher() {
  static Watcher watcher;
  return watcher;
}

void Watch(int signals, int stop) {
  pollfd fds[2] = {{signals, POLLIN, 0}, {stop, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info;
    if (read(signals, &info, sizeof info) != sizeof info) continue;
    Registry& registry = TheRegistry();
    registry.mutex.lock();  // held until the end: no rename after this point
    for (const std::string& file : registry.files) unlink(file.c_str());
    _exit(128 + static_cast<int>(info.ssi_signo));
  }
}

}  // namespace

void RemoveTemporaryFilesOnSignals() {
  Watcher& watcher = TheWatcher();
  if (watcher.thread.joinable()) return;
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  watcher.signals = signalfd(-1, &set, SFD_CLOEXEC);
  if (watcher.signals < 0 || pipe2(watcher.stop, O_CLOEXEC) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // without a watcher, the defaults
    return;
  }
  watcher.thread = std::thread(Watch, watcher.signals, watcher.stop[0]);
}

void StopWatchingSignals() {
  Watcher& watcher = TheWatcher();
  if (!watcher.thread.joinable()) return;
  char byte = 0;
  while (write(watcher.stop[1], &byte, 1) < 0 && errno == EINTR) {
  }
  watcher.thread.join();
  close(watcher.signals);
  close(watcher.stop[0]);
  close(watcher.stop[1]);
}

int CreateTemporaryFile(std::string& path) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0) registry.files.push_back(path);
  return fd;
}

int RenameTemporaryFile(const std::string& temp, const std::string& target) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  int result = rename(temp.c_str(), target.c_str());
  if (result == 0) std::erase(registry.files, temp);
  return result;
}

void DiscardTemporaryFile(const std::string& temp) {
  int saved = errno;
  Registry& registry = TheRegistry();
  {
    std::lock_guard lock(registry.mutex);
    unlink(temp.c_str());
    std::erase(registry.files, temp);
  }
  errno = saved;
}

}  // namespace vantoro::cli
