// Running the built vantoro command in a temporary folder, for the end-to-end
// tests.
#ifndef VANTORO_TESTS_CLI_SUPPORT_H_
#define VANTORO_TESTS_CLI_SUPPORT_H_

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

namespace vantoro::testing {

namespace fs = std::filesystem;

struct Result {
  int status;  // the exit status; 1000 + N when signal N ended it
  std::string out, err;
};

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void Put(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

inline int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 1000 + WTERMSIG(raw);
  return -1;
}

// Whether a shell command succeeds (for probes).
inline bool Succeeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vantoro-cli-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::system(("chmod -R u+rwx '" + dir_.string() + "' 2>/dev/null").c_str());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::system(("chmod -R u+rwx '" + dir_.string() + "' 2>/dev/null").c_str());
    fs::remove_all(dir_);
  }

  // The command line that runs `vantoro ARGS`, under $VANTORO_CLI_WRAPPER when
  // set (valgrind, say).
  static std::string Tool(const std::string& args) {
    const char* wrapper = std::getenv("VANTORO_CLI_WRAPPER");
    return std::string(wrapper != nullptr ? wrapper : "") + " '" VANTORO_CLI "' " + args;
  }

  // Runs `vantoro ARGS` in the temporary folder with `input` on stdin.
  Result Run(const std::string& args, const std::string& input = "") {
    return RunShell(Tool(args), input);
  }

  // Runs a shell command line in the temporary folder with `input` on stdin.
  Result RunShell(const std::string& command, const std::string& input = "") {
    Put(dir_ / ".stdin", input);
    std::string line = "cd '" + dir_.string() + "' && { " + command +
                       "; } < .stdin > .stdout 2> .stderr";
    int raw = std::system(line.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return {status, Slurp(dir_ / ".stdout"), Slurp(dir_ / ".stderr")};
  }

  // Starts `vantoro ARGS` in the temporary folder (stdout and stderr to files)
  // and returns its process id; Wait collects it.
  pid_t Start(const std::string& args) {
    std::string line = "cd '" + dir_.string() + "' && exec " + Tool(args) +
                       " < /dev/null > .stdout 2> .stderr";
    const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      return -1;
    }
    return pid;
  }
  Result Wait(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return {StatusOf(raw), Slurp(dir_ / ".stdout"), Slurp(dir_ / ".stderr")};
  }

  fs::path dir_;
};

}  // namespace vantoro::testing

#endif  // VANTORO_TESTS_CLI_SUPPORT_H_
