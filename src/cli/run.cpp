#include "run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "files.h"
#include "messages.h"
#include "vantoro/protector.h"

namespace vantoro::cli {
namespace {

Protector MakeProtector(const Options& options, const std::string& copyright) {
  vantoro::Options settings;
  settings.content.copyright = copyright;
  settings.content.decoy = options.decoy;
  settings.content.hide = options.hide;
  settings.content.site_key = options.site_key.value_or("");
  settings.content.nosnippet = options.nosnippet;
  settings.content.copy_notices = options.copy_notices;
  settings.content.marks = options.hide == HideMethod::kLayered && !options.no_marks &&
                           !settings.content.site_key.empty();
  settings.page.tdm_reservation = options.tdm_reservation;
  settings.charset = options.charset;
  Protector protector(std::move(settings));
  if (options.mark_id) {
    protector.set_mark_id(*options.mark_id);
  } else {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    protector.set_mark_id(static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(now).count()));
  }
  return protector;
}

std::string Protect(const Options& options, const Protector& protector, std::string page) {
  // The page is handed over: its memory becomes the pass's working text.
  switch (options.command) {
    case Command::kPage: return protector.protect_page(std::move(page));
    case Command::kContent: return protector.protect_content(page);
    case Command::kProtect:
    case Command::kStylesheet:
    case Command::kTrace: break;
  }
  return protector.protect(std::move(page));
}

// One number in [0, 1) per line; a final empty line is allowed.
std::vector<double> ReadRandomValues(const std::string& path) {
  std::string text = ReadInput(path).data;
  std::vector<double> values;
  std::size_t line_number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    ++line_number;
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    double value = -1;
    auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value,
                                     std::chars_format::fixed);
    if (line.empty() || ec != std::errc() || ptr != line.data() + line.size() || !(value >= 0) ||
        !(value < 1)) {
      constexpr std::size_t kShownBytes = 40;  // of a line that may be anything
      std::string shown = Shown(line.substr(0, kShownBytes));
      if (line.size() > kShownBytes) shown += "...";
      throw FileError(Shown(path) + ":" + std::to_string(line_number) + ": not a number in [0, 1): '" +
                      shown + "'");
    }
    values.push_back(value);
  }
  return values;
}

// False with errno set.
bool WriteStdout(const std::string& data) {
  std::size_t done = std::fwrite(data.data(), 1, data.size(), stdout);
  return done == data.size() && std::fflush(stdout) == 0;
}

std::string HardLinkNote(const std::string& path, const WriteNotes& notes) {
  return Shown(path) + ": " + Count(notes.other_names, "other name", "other names") +
         " (hard " + (notes.other_names == 1 ? "link" : "links") + ") still " +
         (notes.other_names == 1 ? "shows" : "show") + " the old page";
}

}  // namespace

int RunSingle(const Options& options, const std::string& copyright) {
  std::string name = options.inputs.empty() || options.inputs[0] == "-" ? "standard input"
                                                                         : Shown(options.inputs[0]);
  try {
    Protector protector = MakeProtector(options, copyright);
    std::optional<ScriptedRandomSource> scripted;
    std::optional<ScopedRandomSource> use;
    if (options.random_values) {
      scripted.emplace(ReadRandomValues(*options.random_values));
      use.emplace(*scripted);
    }
    std::string page = ReadInput(options.inputs.empty() ? "-" : options.inputs[0]).data;
    std::string result;
    try {
      result = Protect(options, protector, std::move(page));
    } catch (const Error& error) {
      if (error.code() == ErrorCode::kReplayExhausted) {
        std::cerr << "vantoro: " << Shown(*options.random_values) << ": random values ran out after "
                  << scripted->used() << " draws\n";
      } else {
        std::cerr << "vantoro: " << name << ": " << error.what() << "\n";
      }
      return 1;
    }
    if (options.output) {
      WriteNotes notes = WriteSafely(*options.output, result);
      if (notes.other_names > 0) {
        std::cerr << "vantoro: warning: " << HardLinkNote(*options.output, notes) << "\n";
      }
    } else if (!WriteStdout(result)) {
      std::cerr << "vantoro: write error: " << std::strerror(errno) << "\n";
      return 1;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "vantoro: " << name << ": out of memory\n";
  } catch (const std::exception& error) {
    std::cerr << "vantoro: " << error.what() << "\n";
  }
  return 1;
}

int RunInPlace(const Options& options, const std::string& copyright) {
  Walk walk = CollectPages(options.inputs);
  const std::vector<std::string>& files = walk.pages;
  const auto started = std::chrono::steady_clock::now();
  std::atomic<std::size_t> next{0}, done{0}, bytes{0}, already{0};
  std::vector<std::string> failures, warnings;
  std::mutex mutex;
  auto note = [&](std::vector<std::string>& list, std::string line) {
    std::lock_guard lock(mutex);
    list.push_back(std::move(line));
  };

  auto work = [&] {
    const Protector protector = MakeProtector(options, copyright);  // one per worker thread
    for (std::size_t i; (i = next++) < files.size(); ++done) {
      const std::string& file = files[i];
      try {
        ReadFile page = ReadInput(file);
        bytes += page.data.size();
        if (!options.force && IsProtected(page.data)) {
          ++already;
          continue;
        }
        WriteNotes notes = WriteSafely(file, Protect(options, protector, std::move(page.data)), page.seen);
        if (notes.other_names > 0) note(warnings, HardLinkNote(file, notes));
      } catch (const Error& error) {
        note(failures, Shown(file) + ": " + error.what());
      } catch (const std::bad_alloc&) {
        note(failures, Shown(file) + ": out of memory");
      } catch (const std::exception& error) {
        note(failures, error.what());
      }
    }
  };
  auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };

  // A progress line on a terminal only.
  std::mutex progress_mutex;
  std::condition_variable finished_signal;
  bool finished = false;
  std::thread progress;
  if (isatty(STDERR_FILENO)) {
    progress = std::thread([&] {
      std::unique_lock lock(progress_mutex);
      while (!finished_signal.wait_for(lock, std::chrono::milliseconds(200), [&] { return finished; })) {
        std::fprintf(stderr, "\rvantoro: %zu/%zu files, %.1f MB/s ", done.load(), files.size(),
                     static_cast<double>(bytes.load()) / 1e6 / std::max(seconds(), 1e-3));
      }
      std::fprintf(stderr, "\r\033[K");
    });
  }

  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (std::size_t k = 0; k < std::min<std::size_t>(cores, files.size()); ++k) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  if (progress.joinable()) {
    {
      std::lock_guard lock(progress_mutex);
      finished = true;
    }
    finished_signal.notify_one();
    progress.join();
  }

  std::size_t protected_count = files.size() - failures.size() - already;
  std::string summary = Count(files.size(), "file", "files") + ": " +
                        std::to_string(protected_count) + " protected";
  if (already > 0) {
    summary += ", " + std::to_string(already.load()) +
               " already protected and skipped (--force protects them again)";
  }
  if (!failures.empty()) summary += ", " + std::to_string(failures.size()) + " failed";
  std::fprintf(stderr, "vantoro: %s (%.1f MB in %.2f s)\n", summary.c_str(),
               static_cast<double>(bytes.load()) / 1e6, seconds());
  for (const std::string& link : walk.skipped) {
    std::fprintf(stderr, "vantoro: %s: skipped: a symbolic link inside a folder is not followed\n",
                 Shown(link).c_str());
  }
  std::sort(warnings.begin(), warnings.end());
  for (const std::string& warning : warnings) std::fprintf(stderr, "vantoro: warning: %s\n", warning.c_str());
  for (const std::string& error : walk.errors) std::fprintf(stderr, "vantoro: %s\n", error.c_str());
  if (!failures.empty()) {
    std::sort(failures.begin(), failures.end());
    std::fprintf(stderr, "vantoro: %s, left as %s:\n",
                 (Count(failures.size(), "file", "files") + " failed").c_str(),
                 failures.size() == 1 ? "it was" : "they were");
    for (const std::string& failure : failures) std::fprintf(stderr, "vantoro: %s\n", failure.c_str());
  }
  return failures.empty() && walk.errors.empty() ? 0 : 1;
}

}  // namespace vantoro::cli
