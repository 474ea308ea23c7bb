// End-to-end tests of what the vantoro command does to the files it touches:
// special files, links, owners, unreadable folders, failed writes, signals,
// pages changed underneath it, pages protected before.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <chrono>
#include <iterator>
#include <optional>
#include <thread>

#include "cli_support.h"

namespace {

using namespace vantoro::testing;

constexpr const char* kPage = "<html><body><p>one</p><br><p>two</p></body></html>\n";

bool HasWatermark(const std::string& text) { return text.find("v2.0正式版") != std::string::npos; }

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

// Temporary files of the tool left anywhere under `root`.
std::vector<std::string> Leftovers(const fs::path& root) {
  std::vector<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename().string().find(".vantoro-") != std::string::npos) {
      left.push_back(entry.path().string());
    }
  }
  return left;
}

// How to run a command without the power to ignore permissions: as it is when
// not root, through setpriv as "nobody" when root. None when root cannot drop it.
std::optional<std::string> Unprivileged() {
  if (geteuid() != 0) return "";
  std::string drop = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (!Succeeds(drop + "true")) return std::nullopt;
  return drop;
}

// A page of about `bytes` bytes made of real-looking markup.
std::string LargePage(std::size_t bytes) {
  std::string unit =
      "<div class=\"post\"><p>Some text, <a href=\"/x\">a link</a> and more.</p>"
      "<table><tr><td>cell</td></tr></table><img src=\"a.png\" width=\"10\"><br></div>\n";
  std::string page;
  page.reserve(bytes + unit.size());
  while (page.size() < bytes) page += unit;
  return page;
}

// Paragraphs "<p>TAG line 0</p>", "<p>TAG line 1</p>", ... one a line: text that
// every pass keeps, in order.
std::string Lines(const std::string& tag, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += "<p>" + tag + " line " + std::to_string(i) + "</p>\n";
  return text;
}

// Whether `text` holds the n lines of `tag` in order, each once, and no others.
bool HasTheLines(const std::string& text, const std::string& tag, std::size_t n) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    at = text.find(tag + " line " + std::to_string(i) + "<", at);
    if (at == std::string::npos) return false;
  }
  return Occurrences(text, " line ") == n;
}

TEST_F(Cli, OutputThroughALinkReplacesItsTargetAndKeepsTheLink) {
  Put(dir_ / "real.html", "old");
  fs::create_symlink("real.html", dir_ / "link.html");
  Result r = Run("page -o link.html", kPage);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.html"));
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "real.html")));

  // A link to a device: the device is written to, and the link stays.
  fs::create_symlink("/dev/null", dir_ / "null");
  r = Run("page -o null", kPage);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "null"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(Leftovers(dir_).empty());

  // A dangling link: the file it names is created.
  fs::create_symlink("made.html", dir_ / "dangling.html");
  r = Run("page -o dangling.html", kPage);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.html"));
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "made.html")));
}

TEST_F(Cli, OutputIntoAFifoReachesItsReader) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  // The reader opens the FIFO first; a tool that replaced the FIFO would leave
  // it waiting until the timeout.
  Result r = RunShell("timeout 20 cat fifo > got & " + Tool("page -o fifo") +
                          "; status=$?; wait; exit $status",
                      kPage);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "got")));
}

TEST_F(Cli, ReplacingKeepsModeOwnerAndGroup) {
  Put(dir_ / "page.html", kPage);
  ASSERT_EQ(chmod((dir_ / "page.html").c_str(), 0640), 0);
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown((dir_ / "page.html").c_str(), 33, 34), 0);
  }
  Result r = Run("page --in-place page.html");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st;
  ASSERT_EQ(stat((dir_ / "page.html").c_str(), &st), 0);
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "page.html")));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (!root) GTEST_SKIP() << "owner and group: only root can give a file to another user";
  EXPECT_EQ(st.st_uid, 33u);
  EXPECT_EQ(st.st_gid, 34u);
}

TEST_F(Cli, HardLinksAreSplitWithAWarning) {
  Put(dir_ / "a.html", kPage);
  fs::create_hard_link(dir_ / "a.html", dir_ / "b.html");
  Result r = Run("page --in-place a.html");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("a.html: 1 other name (hard link) still shows the old page"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "a.html")));
  EXPECT_EQ(Slurp(dir_ / "b.html"), kPage);
}

TEST_F(Cli, WalkSkipsLinksInsideFoldersAndFollowsNamedOnes) {
  fs::create_directories(dir_ / "site/sub");
  fs::create_directories(dir_ / "elsewhere");
  Put(dir_ / "site/a.html", kPage);
  Put(dir_ / "site/sub/b.html", kPage);
  Put(dir_ / "elsewhere/c.html", kPage);
  fs::create_symlink("../elsewhere/c.html", dir_ / "site/link.html");
  fs::create_directory_symlink("../elsewhere", dir_ / "site/folder");
  fs::create_symlink("loop.html", dir_ / "site/loop.html");
  fs::create_symlink("nothing.html", dir_ / "site/dangling.html");
  fs::create_directory_symlink("site", dir_ / "named");

  Result r = Run("page --in-place named");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vantoro: 2 files: 2 protected"), std::string::npos) << r.err;
  for (const char* link : {"link.html", "folder", "loop.html", "dangling.html"}) {
    EXPECT_NE(r.err.find(std::string("named/") + link + ": skipped"), std::string::npos)
        << link << "\n" << r.err;
    EXPECT_TRUE(fs::is_symlink(dir_ / "site" / link)) << link;
  }
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "site/a.html")));
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "site/sub/b.html")));
  EXPECT_EQ(Slurp(dir_ / "elsewhere/c.html"), kPage);
  EXPECT_FALSE(fs::exists(dir_ / "site/nothing.html"));
}

TEST_F(Cli, APageNamedTwiceIsProtectedOnce) {
  fs::create_directories(dir_ / "site");
  Put(dir_ / "site/a.html", kPage);
  Put(dir_ / "site/b.html", kPage);
  Result r = Run("page --in-place site site/a.html ./site/a.html");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("vantoro: 2 files: 2 protected ("), std::string::npos) << r.err;
  for (const char* page : {"site/a.html", "site/b.html"}) {
    EXPECT_EQ(Occurrences(Slurp(dir_ / page), "v2.0正式版"), 1u) << page;
  }
}

TEST_F(Cli, PagesOfEverySizeInTurnEachKeepTheirOwnText) {
  // Small pages after large ones (some above what a worker keeps between
  // pages), empty ones, large after small: every result holds all of its own
  // page and nothing of another's.
  const std::size_t lines[] = {200000, 3, 0, 12000, 1, 200000, 5, 40, 12000, 0, 2, 200000, 7};
  const std::size_t pages = std::size(lines);
  fs::create_directories(dir_ / "site");
  auto name = [](std::size_t k) { return "p" + std::to_string(k / 10) + std::to_string(k % 10); };
  for (std::size_t k = 0; k < pages; ++k) Put(dir_ / "site" / (name(k) + ".html"), Lines(name(k), lines[k]));
  for (const char* command : {"page", "protect --copyright Site"}) {
    SCOPED_TRACE(command);
    Result r = Run(std::string(command) + " --in-place --force site");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("vantoro: 13 files: 13 protected ("), std::string::npos) << r.err;
    for (std::size_t k = 0; k < pages; ++k) {
      std::string text = Slurp(dir_ / "site" / (name(k) + ".html"));
      EXPECT_TRUE(HasWatermark(text)) << name(k);
      EXPECT_TRUE(HasTheLines(text, name(k), lines[k])) << name(k);
      EXPECT_EQ(text.find('\0'), std::string::npos) << name(k);
      EXPECT_TRUE(lines[k] == 0 || text.ends_with('\n')) << name(k);
    }
  }
}

TEST_F(Cli, ALargePageFromStandardInputIsReadWhole) {
  // Standard input gives no size beforehand: it is read in growing steps.
  const std::string page = Lines("in", 60000);
  for (const char* command : {"page", "protect --copyright Site"}) {
    Result r = Run(command, page);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(HasTheLines(r.out, "in", 60000)) << command;
    EXPECT_TRUE(r.out.ends_with('\n') && r.out.find('\0') == std::string::npos) << command;
  }
}

TEST_F(Cli, AnUnreadableFolderIsReportedAndTheWalkGoesOn) {
  std::optional<std::string> as = Unprivileged();
  if (!as) GTEST_SKIP() << "root, and no setpriv to run as another user";
  for (const char* folder : {"site/a", "site/b", "site/c"}) fs::create_directories(dir_ / folder);
  for (const char* page : {"site/a/1.html", "site/b/2.html", "site/c/3.html"}) Put(dir_ / page, kPage);
  std::system(("chmod -R a+rwX '" + dir_.string() + "'").c_str());
  ASSERT_EQ(chmod((dir_ / "site/b").c_str(), 0), 0);
  Result r = RunShell(*as + Tool("page --in-place site"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("vantoro: 2 files: 2 protected"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vantoro: site/b: Permission denied"), std::string::npos) << r.err;
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "site/a/1.html")));
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "site/c/3.html")));
}

TEST_F(Cli, FailedWritesLeaveThePageAndNoTemporaryFile) {
  Put(dir_ / "big.html", LargePage(64 * 1024));
  Put(dir_ / "out.html", "original");
  // A file size limit: the write fails half way (SIGXFSZ ignored, so the tool
  // sees EFBIG).
  const std::string limited = "trap '' XFSZ; ulimit -f 16; ";
  Result r = RunShell(limited + Tool("page -o out.html big.html"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("vantoro: out.html: write error: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir_ / "out.html"), "original");
  r = RunShell(limited + Tool("page --in-place big.html"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 file failed, left as it was"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir_ / "big.html"), LargePage(64 * 1024));
  EXPECT_TRUE(Leftovers(dir_).empty());

  // Standard output that cannot be written says why.
  r = RunShell(Tool("page big.html") + " > /dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("vantoro: write error: No space left on device"), std::string::npos) << r.err;

  // A folder the tool may not write in: no temporary file, the page intact.
  std::optional<std::string> as = Unprivileged();
  if (!as) GTEST_SKIP() << "root, and no setpriv to run as another user";
  fs::create_directories(dir_ / "locked");
  Put(dir_ / "locked/page.html", kPage);
  std::system(("chmod a+rwx '" + dir_.string() + "' && chmod 0555 '" + (dir_ / "locked").string() +
               "' && chmod 0666 '" + (dir_ / "locked/page.html").string() + "'").c_str());
  r = RunShell(*as + Tool("page --in-place locked"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("locked/page.html: cannot create a temporary file beside it: Permission denied"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Slurp(dir_ / "locked/page.html"), kPage);
}

TEST_F(Cli, AFullFilesystemLeavesThePageIntact) {
  // A small filesystem of its own, in a user and mount namespace: no privilege
  // needed where the kernel allows them.
  fs::create_directories(dir_ / "small");
  if (!Succeeds("unshare -rm sh -c 'mount -t tmpfs -o size=64k none " + (dir_ / "small").string() + "'")) {
    GTEST_SKIP() << "cannot mount a small filesystem here (no user namespaces)";
  }
  std::string page = LargePage(40 * 1024);
  Put(dir_ / "page.html", page);
  Put(dir_ / "full.sh", "mount -t tmpfs -o size=64k none small && cp page.html small/ &&\n" +
                            Tool("page --in-place small/page.html") +
                            "\nstatus=$?\ncmp -s page.html small/page.html && ls -a small > listing\n"
                            "exit $status\n");
  Result r = RunShell("unshare -rm sh full.sh");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  // The copy inside was left as it was, and only it is there.
  EXPECT_EQ(Slurp(dir_ / "listing"), ".\n..\npage.html\n");
}

// Waits until a temporary file of the tool is created in `folder` (watched from
// before the tool starts), up to a generous time for sanitizer builds.
bool AwaitTemporaryFile(int watch) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  alignas(inotify_event) char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd = {watch, POLLIN, 0};
    if (poll(&fd, 1, 1000) <= 0) continue;
    ssize_t n = read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      auto* event = reinterpret_cast<inotify_event*>(buffer + at);
      if (event->len > 0 && std::string(event->name).find(".vantoro-") != std::string::npos) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return false;
}

TEST_F(Cli, SignalsRemoveTemporaryFilesAndEndWith128PlusTheSignal) {
  const std::string page = LargePage(2 << 20);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    fs::remove_all(dir_ / "site");
    fs::create_directories(dir_ / "site");
    for (int k = 0; k < 12; ++k) Put(dir_ / "site" / ("p" + std::to_string(k) + ".html"), page);
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, (dir_ / "site").c_str(), IN_CREATE), 0);
    pid_t pid = Start("protect --in-place --copyright Site site");
    ASSERT_GT(pid, 0);
    // In the middle: the moment a temporary file is created.
    bool seen = AwaitTemporaryFile(watch);
    close(watch);
    kill(pid, signal);
    Result r = Wait(pid);
    ASSERT_TRUE(seen) << "no temporary file ever appeared";
    EXPECT_EQ(r.status, 128 + signal) << r.err;
    EXPECT_TRUE(Leftovers(dir_ / "site").empty());
    int replaced = 0;
    for (int k = 0; k < 12; ++k) {
      std::string text = Slurp(dir_ / "site" / ("p" + std::to_string(k) + ".html"));
      if (text == page) continue;
      ++replaced;
      EXPECT_TRUE(HasWatermark(text)) << "a page half written";
      EXPECT_EQ(Occurrences(text, "a link"), Occurrences(page, "a link")) << "a page half written";
    }
    EXPECT_LT(replaced, 12) << "the signal came after the work";
  }
}

TEST_F(Cli, APageChangedMeanwhileIsNotReplaced) {
  const std::string page = LargePage(8 << 20);
  Put(dir_ / "page.html", page);
  pid_t pid = Start("protect --in-place --copyright Site page.html");
  ASSERT_GT(pid, 0);
  // Once the tool has read the whole page, another writer appends to it.
  const std::string io = "/proc/" + std::to_string(pid) + "/io";
  auto read_so_far = [&]() -> std::size_t {
    std::ifstream in(io);
    std::string key;
    std::size_t value = 0;
    while (in >> key >> value) {
      if (key == "rchar:") return value;
    }
    return 0;
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (read_so_far() < page.size() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  { std::ofstream(dir_ / "page.html", std::ios::binary | std::ios::app) << "<p>added</p>"; }
  Result r = Wait(pid);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("page.html: changed while being protected"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(dir_ / "page.html"), page + "<p>added</p>");
  EXPECT_TRUE(Leftovers(dir_).empty());
}

TEST_F(Cli, PagesProtectedBeforeAreSkippedUnlessForced) {
  fs::create_directories(dir_ / "site");
  Put(dir_ / "site/a.html", kPage);
  Put(dir_ / "site/b.html", kPage);
  ASSERT_EQ(Run("protect --in-place --copyright Site site/a.html").status, 0);
  const std::string once = Slurp(dir_ / "site/a.html");
  Result r = Run("protect --in-place --copyright Site site");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 files: 1 protected, 1 already protected and skipped"), std::string::npos)
      << r.err;
  EXPECT_EQ(Slurp(dir_ / "site/a.html"), once);
  EXPECT_TRUE(HasWatermark(Slurp(dir_ / "site/b.html")));

  // In another character set too.
  Put(dir_ / "gbk.html", kPage);
  ASSERT_EQ(Run("page --in-place --charset GBK gbk.html").status, 0);
  r = Run("page --in-place --charset GBK gbk.html");
  EXPECT_NE(r.err.find("1 already protected"), std::string::npos) << r.err;

  r = Run("protect --in-place --force --copyright Site site/a.html");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Slurp(dir_ / "site/a.html"), once);
}

}  // namespace
