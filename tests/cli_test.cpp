// End-to-end tests of the vantoro command: they run the built binary.
#include <gtest/gtest.h>
#include <iconv.h>

#include "cli_support.h"

namespace {

using namespace vantoro::testing;

// Values for "x</p>y" with the copyright "note": a "." before it, a span, lower
// case style text, one letter "z" in the first run.
constexpr const char* kNoteDraws =
    "0.75\n0.2272\n0.25\n0.1666\n0.25\n0.25\n0.25\n0.25\n0.25\n0.25\n0.25\n0.25\n0.25\n0.25\n"
    "0.25\n0.25\n0.25\n0.0882\n0.4903\n0.0294\n";

TEST_F(Cli, HelpAndVersion) {
  Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: vantoro COMMAND"), std::string::npos);
  EXPECT_NE(help.out.find("--random-values"), std::string::npos);
  EXPECT_NE(help.out.find("--force"), std::string::npos);
  Result version = Run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "vantoro 2.0.0\nCopyright (C) 2026 the Vantoro developers. All rights reserved.\n");
  EXPECT_EQ(Run("-V").out, version.out);
  EXPECT_EQ(Run("-h").out, help.out);
}

// Messages in the form of the GNU tools, with the reason and without raw bytes.
TEST_F(Cli, MessagesSayWhatAndWhy) {
  struct Case {
    const char* args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"-xz page f", 2, "vantoro: invalid option -- 'x'\nTry 'vantoro --help' for more information.\n"},
      {"page --copy=x", 2,
       "vantoro: option '--copy=x' is ambiguous; possibilities: '--copyright' '--copyright-file' "
       "'--copy-notices'\n"},
      {"--help=x", 2, "vantoro: option '--help' doesn't allow an argument\n"},
      {"page --bogus", 2, "vantoro: unrecognized option '--bogus'\n"},
      {"page -o", 2, "vantoro: option requires an argument -- 'o'\n"},
      {"page missing.html", 1, "vantoro: missing.html: No such file or directory\n"},
      {"page \"$(printf 'bad\\001\\377.html')\"", 1, "vantoro: bad\\x01\\xFF.html: No such file or directory\n"},
      {"content", 2, "vantoro: 'content' needs --copyright TEXT or --copyright-file PATH"},
      {"protect --copyright ''", 2, "'protect' needs --copyright TEXT"},
      // the engine's own judgement, as every interface gives it
      {"protect --copyright ,:", 2,
       "vantoro: copyright decoys need a copyright text (or random decoys, or empty notices "
       "asked for)\n"},
      {"content --copyright-file -", 2,
       "vantoro: --copyright-file - and the page cannot both come from standard input\n"},
      {"page --charset ''", 2, "vantoro: empty character set name\n"},
      {"page --charset UTF-7", 2, "does not keep ASCII as ASCII"},
      {"page --charset EBCDIC-US", 2, "does not keep ASCII as ASCII"},
      {"page --charset UTF-32", 2, "does not keep ASCII as ASCII"},
      {"page --force x.html", 2, "vantoro: --force needs --in-place\n"},
  };
  for (const Case& c : cases) {
    Result r = RunShell(Tool(c.args), "<p>x</p>");
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_TRUE(r.out.empty()) << c.args;
  }
  // Random decoys need no copyright text.
  EXPECT_EQ(Run("content --decoy random", "<p>x</p>").status, 0);
  // An empty copyright file is no copyright text.
  Put(dir_ / "empty.txt", "\n");
  EXPECT_EQ(Run("protect --copyright-file empty.txt", "<p>x</p>").status, 2);
  // A line of a values file that is not a number is shown escaped and cut short.
  Put(dir_ / "values.txt", "0.5\n\x1b[31m\xff" + std::string(100, 'z') + "\n");
  Result bad = Run("page --random-values values.txt", "<p>x</p>");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("values.txt:2: not a number in [0, 1): '\\x1B[31m\\xFFzzz"), std::string::npos)
      << bad.err;
  EXPECT_EQ(bad.err.find('\x1b'), std::string::npos);
  EXPECT_NE(bad.err.find("zzz...'"), std::string::npos) << bad.err;
}

TEST_F(Cli, UsageErrors) {
  fs::create_directories(dir_ / "site");
  for (const char* args :
       {"", "frobnicate", "page --bogus", "page a.html b.html", "page --copyright x",
        "protect --in-place --random-values v.txt site", "content --decoy odd",
        "page --charset NO-SUCH-SET", "page site", "protect --in-place", "page -o",
        "page --charset UTF-16", "content --hide class", "content --hide odd --site-key k",
        "page --hide class --site-key k", "stylesheet", "stylesheet --site-key k a.html"}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(r.out.empty()) << args;
    EXPECT_NE(r.err.find("vantoro: "), std::string::npos) << args;
  }
  EXPECT_NE(Run("page --bogus").err.find("Try 'vantoro --help'"), std::string::npos);
}

TEST_F(Cli, LayeredByDefaultMarksWithAKeyAndTraceFindsThem) {
  const std::string page =
      "<html><head><title>t</title></head><body><p>Some words of prose end here. More words "
      "of prose follow them. Then the third sentence of it ends.</p><p>x</p></body></html>";
  Put(dir_ / "a.html", page);
  // The default: the page's own stylesheet, class-hidden and copy-visible notices.
  Result plain = Run("protect --copyright Note a.html");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("display:none!important}"), std::string::npos);
  EXPECT_NE(plain.out.find("aria-hidden='true'"), std::string::npos);
  EXPECT_EQ(plain.out.find("style='"), std::string::npos);
  // With a key, marks carrying the id; trace finds it with the key alone.
  Result marked = Run("protect --copyright Note --site-key s3cret --mark-id 0x2a a.html -o m.html");
  EXPECT_EQ(marked.status, 0) << marked.err;
  Result found = Run("trace --site-key s3cret m.html");
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_TRUE(found.out.starts_with("mark 0x000000000000002a (42): ")) << found.out;
  Result piped = Run("trace --site-key s3cret", Slurp(dir_ / "m.html"));
  EXPECT_EQ(piped.out, found.out);
  Result other = Run("trace --site-key other m.html");
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.out, "");
  EXPECT_EQ(Run("trace --site-key s3cret a.html").status, 1);
  EXPECT_EQ(Run("protect --copyright Note --site-key s3cret --no-marks a.html").out.find("\xF3\xA0"),
            std::string::npos);
  // The reservation, only where asked.
  EXPECT_NE(Run("page --tdm-reservation a.html").out.find("\"tdm-reservation\" content=\"1\">"),
            std::string::npos);
  EXPECT_EQ(Run("page a.html").out.find("tdm-reservation"), std::string::npos);
  // Options that make no sense together, and bad values, are usage errors.
  for (const char* args :
       {"trace m.html", "trace --site-key k a.html m.html", "trace --site-key '' m.html",
        "protect --copyright N --mark-id 5 a.html", "protect --copyright N --site-key k --mark-id x a.html",
        "protect --copyright N --site-key k --mark-id 0x1ffffffffffffffff a.html",
        "protect --copyright N --hide style --site-key k --mark-id 5 a.html",
        "protect --copyright N --hide class --site-key k --copy-notices 2 a.html",
        "protect --copyright N --copy-notices -1 a.html", "content --tdm-reservation --copyright N a.html",
        "protect --copyright N --hide odd a.html"}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("vantoro: "), std::string::npos) << args;
  }
}

TEST_F(Cli, HidingByClassAndItsStylesheet) {
  Result sheet = Run("stylesheet --site-key example.org");
  EXPECT_EQ(sheet.status, 0) << sheet.err;
  // Pinned whole in the library's tests: the hiding rule, then the copy-visible one.
  EXPECT_NE(sheet.out.find("\n.wcsoju,.sgcbzsudn{position:absolute!important;"), std::string::npos);
  EXPECT_TRUE(sheet.out.starts_with(".jprdfwdvv,.gjgfjkws,.lzbavqqbd,.bcphlnh{display:none!important}\n"));
  Put(dir_ / "a.html", "<p>x</p>");
  // The content pass alone: the page pass would re-case the span's attributes.
  Result r = Run("content --hide class --site-key example.org --nosnippet --copyright Note a.html");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" data-nosnippet class='"), std::string::npos) << r.out;
  bool named = false;
  for (const char* name : {"jprdfwdvv", "gjgfjkws", "lzbavqqbd", "bcphlnh"}) {
    named |= r.out.find(name) != std::string::npos;
  }
  EXPECT_TRUE(named) << r.out;
}

TEST_F(Cli, EverySubcommandFromStdinAndFiles) {
  Put(dir_ / "a.html", "<!DOCTYPE html>\n<p>x<br>y</p>");
  Result page = Run("page a.html");
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_TRUE(page.out.starts_with("<!DOCTYPE html>\r\n\r\n<!--")) << page.out;
  EXPECT_EQ(Run("page -", "<p>x</p>").status, 0);
  Result content = Run("content --copyright 'Site:Rights'", "<p>x<br>y</p>");
  EXPECT_EQ(content.status, 0);
  EXPECT_EQ(content.out.find("<!--"), std::string::npos) << "no watermark from content";
  EXPECT_NE(content.out.find("Site"), std::string::npos);
  Result protect = Run("protect --copyright 'Site:Rights' a.html");
  EXPECT_EQ(protect.status, 0);
  EXPECT_NE(protect.out.find("Rights"), std::string::npos);
  EXPECT_NE(protect.out.find("v2.0正式版"), std::string::npos);
  Result empty = Run("page");
  EXPECT_EQ(empty.status, 0);
  EXPECT_TRUE(empty.out.starts_with("\r\n<!--") && empty.out.ends_with("-->\r\n"));
}

TEST_F(Cli, RandomValuesReproduceAnOutputExactly) {
  Put(dir_ / "draws.txt", kNoteDraws);
  Result r = Run("content --hide style --copyright note --random-values draws.txt", "x</p>y");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "x<span style='z;display:none;;'>.note</span></p>y");

  std::string many;
  for (int i = 0; i < 3000; ++i) many += "0." + std::to_string((i * 7919) % 10000) + "\n";
  Put(dir_ / "many.txt", many);
  Put(dir_ / "page.html", "<html><body><div class=a id=b><a href=x>l</a><br></div></body></html>");
  Result first = Run("protect --copyright c --random-values many.txt page.html");
  Result second = Run("protect --copyright c --random-values many.txt page.html");
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, second.out);
}

TEST_F(Cli, RunningOutOfValuesWritesNothing) {
  Put(dir_ / "few.txt", "0.5\n0.5\n");
  Result r = Run("page --random-values few.txt -o out.html", "<p>x</p>");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("ran out"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "out.html"));
  Put(dir_ / "bad.txt", "0.5\nnope\n");
  Result bad = Run("page --random-values bad.txt", "<p>x</p>");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.txt:2"), std::string::npos) << bad.err;
}

TEST_F(Cli, OutputFileAndWriteErrors) {
  Result r = Run("page -o out.html", "<p>x</p>");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Slurp(dir_ / "out.html").starts_with("\r\n<!--"));
  Result unwritable = Run("page -o no/such/dir/out.html", "<p>x</p>");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("vantoro: no/such/dir/out.html: cannot create a temporary file "
                                "beside it: No such file or directory"),
            std::string::npos)
      << unwritable.err;
  Put(dir_ / "page.html", "old");
  Result below_a_file = Run("page -o page.html/out.html", "<p>x</p>");
  EXPECT_EQ(below_a_file.status, 1);
  EXPECT_NE(below_a_file.err.find("vantoro: page.html/out.html: Not a directory"), std::string::npos)
      << below_a_file.err;
  fs::create_symlink("loop.html", dir_ / "loop.html");
  Result loop = Run("page -o loop.html", "<p>x</p>");
  EXPECT_EQ(loop.status, 1);
  EXPECT_NE(loop.err.find("vantoro: loop.html: Too many levels of symbolic links"), std::string::npos)
      << loop.err;
  EXPECT_EQ(Slurp(dir_ / "page.html"), "old");
}

TEST_F(Cli, CopyrightFileDropsTheFinalLineBreak) {
  Put(dir_ / "notice.txt", "note\n");
  Put(dir_ / "draws.txt", kNoteDraws);
  Result r = Run("content --hide style --copyright-file notice.txt --random-values draws.txt", "x</p>y");
  EXPECT_EQ(r.out, "x<span style='z;display:none;;'>.note</span></p>y");
}

TEST_F(Cli, InPlaceOverATree) {
  fs::create_directories(dir_ / "site/sub");
  Put(dir_ / "site/a.html", "<p>one</p>");
  Put(dir_ / "site/sub/b.HTM", "<p>two</p>");
  Put(dir_ / "site/notes.txt", "<p>not a page</p>");
  fs::permissions(dir_ / "site/a.html", fs::perms::owner_read | fs::perms::owner_write |
                                            fs::perms::group_read);
  Result r = Run("protect --in-place --copyright 'Site:Rights' site missing.html");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("vantoro: missing.html: No such file or directory"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("vantoro: 2 files: 2 protected"), std::string::npos) << r.err;
  for (const char* page : {"site/a.html", "site/sub/b.HTM"}) {
    std::string text = Slurp(dir_ / page);
    EXPECT_NE(text.find("v2.0正式版"), std::string::npos) << page;
    EXPECT_NE(text.find("Rights"), std::string::npos) << page;
  }
  EXPECT_EQ(Slurp(dir_ / "site/notes.txt"), "<p>not a page</p>");
  EXPECT_EQ(fs::status(dir_ / "site/a.html").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  for (const auto& entry : fs::recursive_directory_iterator(dir_ / "site")) {
    EXPECT_EQ(entry.path().filename().string().find(".vantoro-"), std::string::npos)
        << "temporary file left: " << entry.path();
  }
}

std::string FromGbk(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  std::string out(bytes.size() * 3, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size(), out_left = out.size();
  char* dest = out.data();
  std::size_t done = iconv(cd, &in, &in_left, &dest, &out_left);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) return "<not GBK>";
  out.resize(out.size() - out_left);
  return out;
}

TEST_F(Cli, CharsetConvertsOnlyInsertedText) {
  const std::string gbk_page = "\xC4\xE3\xBA\xC3";  // "你好" in GBK
  Result r = Run("page --charset gbk", gbk_page);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.ends_with(gbk_page)) << "the page's bytes pass through";
  std::string decoded = FromGbk(r.out);
  EXPECT_NE(decoded.find("本"), std::string::npos) << decoded;
  EXPECT_NE(decoded.find("v2.0正式版"), std::string::npos) << decoded;
  EXPECT_TRUE(decoded.ends_with("你好"));

  // The euro sign of a random-text decoy, where Latin-1 has none: a reference.
  std::string draws = "0.1\n0.05\n";
  for (int i = 0; i < 13; ++i) draws += "0.25\n";
  draws += "0.01\n0.01\n0.999\n";
  Put(dir_ / "draws.txt", draws);
  Result latin = Run("content --hide style --decoy random --charset ISO-8859-1 --random-values draws.txt",
                      "x</p>");
  EXPECT_EQ(latin.out, "x<span style=';display:none;;'>&#8364;</span></p>") << latin.err;
}

// By default each page's own declaration decides, in a whole site too.
TEST_F(Cli, EachPageInItsOwnDeclaredCharset) {
  const std::string notice = "\xE7\x89\x88\xE6\x9D\x83";  // "版权" in UTF-8
  const std::string gbk_notice = "\xB0\xE6\xC8\xA8";        // and in GBK
  const std::string gbk = "<html><head><meta charset=\"gbk\"></head><p>\xC4\xE3\xBA\xC3</p>";
  const std::string utf8 = "<html><head><meta charset=\"utf-8\"></head><p>x</p>";
  Result r = Run("protect --copyright " + notice, gbk);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(gbk_notice), std::string::npos);
  EXPECT_EQ(r.out.find(notice), std::string::npos);
  EXPECT_NE(FromGbk(r.out).find("v2.0正式版"), std::string::npos);

  fs::create_directory(dir_ / "site");
  Put(dir_ / "site" / "gbk.html", gbk);
  Put(dir_ / "site" / "utf8.html", utf8);
  r = Run("protect --in-place --copyright " + notice + " site");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Slurp(dir_ / "site" / "gbk.html").find(gbk_notice), std::string::npos);
  EXPECT_NE(Slurp(dir_ / "site" / "utf8.html").find(notice), std::string::npos);
  // an explicit set is the caller's word
  r = Run("protect --charset UTF-8 --copyright " + notice, gbk);
  EXPECT_NE(r.out.find(notice), std::string::npos);
  // a page no browser reads as ASCII markup fails alone
  r = Run("page", std::string("\xFF\xFE<\0p\0>\0", 8));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("UTF-16LE, which cannot be protected"), std::string::npos) << r.err;
}

}  // namespace
