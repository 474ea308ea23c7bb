#include "run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "files.h"
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
  settings.charset = options.charset;
  return Protector(std::move(settings));
}

std::string Protect(const Options& options, const Protector& protector, std::string page) {
  // The page is handed over: its memory becomes the pass's working text.
  switch (options.command) {
    case Command::kPage: return protector.protect_page(std::move(page));
    case Command::kContent: return protector.protect_content(page);
    case Command::kProtect:
    case Command::kStylesheet: break;
  }
  return protector.protect(std::move(page));
}

// One number in [0, 1) per line; a final empty line is allowed.
std::vector<double> ReadRandomValues(const std::string& path) {
  std::string text = ReadInput(path);
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
      throw FileError(path + ":" + std::to_string(line_number) + ": not a number in [0, 1): '" +
                      std::string(line) + "'");
    }
    values.push_back(value);
  }
  return values;
}

bool WriteStdout(const std::string& data) {
  std::size_t done = std::fwrite(data.data(), 1, data.size(), stdout);
  return done == data.size() && std::fflush(stdout) == 0;
}

}  // namespace

int RunSingle(const Options& options, const std::string& copyright) {
  std::string name = options.inputs.empty() || options.inputs[0] == "-" ? "standard input"
                                                                         : options.inputs[0];
  try {
    Protector protector = MakeProtector(options, copyright);
    std::optional<ScriptedRandomSource> scripted;
    std::optional<ScopedRandomSource> use;
    if (options.random_values) {
      scripted.emplace(ReadRandomValues(*options.random_values));
      use.emplace(*scripted);
    }
    std::string page = ReadInput(options.inputs.empty() ? "-" : options.inputs[0]);
    std::string result;
    try {
      result = Protect(options, protector, std::move(page));
    } catch (const Error& error) {
      if (error.code() == ErrorCode::kReplayExhausted) {
        std::cerr << "vantoro: " << *options.random_values << ": random values ran out after "
                  << scripted->used() << " draws\n";
      } else {
        std::cerr << "vantoro: " << name << ": " << error.what() << "\n";
      }
      return 1;
    }
    if (options.output) {
      WriteAtomically(*options.output, result);
    } else if (!WriteStdout(result)) {
      std::cerr << "vantoro: standard output: cannot write\n";
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
  std::vector<std::string> failures;
  std::vector<std::string> files = CollectPages(options.inputs, failures);
  const std::size_t not_found = failures.size();
  const auto started = std::chrono::steady_clock::now();
  std::atomic<std::size_t> next{0}, done{0}, bytes{0};
  std::mutex mutex;

  auto work = [&] {
    const Protector protector = MakeProtector(options, copyright);  // one per worker thread
    for (std::size_t i; (i = next++) < files.size(); ++done) {
      const std::string& file = files[i];
      try {
        std::string page = ReadInput(file);
        bytes += page.size();
        WriteAtomically(file, Protect(options, protector, std::move(page)));
      } catch (const Error& error) {
        std::lock_guard lock(mutex);
        failures.push_back(file + ": " + error.what());
      } catch (const std::bad_alloc&) {
        std::lock_guard lock(mutex);
        failures.push_back(file + ": out of memory");
      } catch (const std::exception& error) {
        std::lock_guard lock(mutex);
        failures.push_back(error.what());
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

  std::fprintf(stderr, "vantoro: %zu of %zu files processed (%.1f MB) in %.2f s\n",
               files.size() + not_found - failures.size(), files.size() + not_found,
               static_cast<double>(bytes.load()) / 1e6, seconds());
  if (failures.empty()) return 0;
  std::sort(failures.begin(), failures.end());
  std::fprintf(stderr, "vantoro: %zu files failed and were left as they were:\n", failures.size());
  for (const std::string& failure : failures) std::fprintf(stderr, "vantoro: %s\n", failure.c_str());
  return 1;
}

}  // namespace vantoro::cli
