#include "options.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "messages.h"

namespace vantoro::cli {
namespace {

constexpr const char* kUsage = R"(Usage: vantoro COMMAND [OPTIONS] [FILE|-]
       vantoro COMMAND --in-place [OPTIONS] PATH...
       vantoro stylesheet --site-key KEY

Makes the markup of web pages differ on every call while they render the same,
and hides the site's copyright notice in articles, against harvesting programs.

Commands:
  page       re-mark a whole page: random letter case of tag and attribute names,
             random whitespace and comments in tags, a watermark comment in front
  content    put a hidden copyright notice in front of every paragraph end and
             line break of an article (or page)
  protect    both, as a site does with a whole page: content, then page
  stylesheet print the stylesheet that hides the decoys of --hide class

Options:
  --copyright TEXT       the site's copyright texts: entries separated by ",",
                         parts by ":" (content, protect)
  --copyright-file PATH  the same, read from a file (a final line break is dropped)
  --decoy KIND           copyright (default), random or both (content, protect)
  --hide METHOD          how decoys hide: style (default; an inline style) or
                         class (a class hidden by the site's stylesheet, for
                         pages sent with a Content-Security-Policy that forbids
                         inline styles; needs --site-key)
  --site-key KEY         names the hiding classes of --hide class and stylesheet;
                         keep it the same for a site
  --nosnippet            mark each decoy data-nosnippet (search engines keep it
                         out of result snippets)
  --in-place             replace each FILE, and every *.html/*.htm file under each
                         directory, atomically; files are processed in parallel;
                         symbolic links inside directories are not followed
  --force                with --in-place, protect pages that already carry the
                         watermark again (they are skipped otherwise)
  --random-values PATH   take every random draw from PATH, one number in [0, 1)
                         per line, to reproduce an output exactly
  --charset NAME         the pages' character set; only the text the tool inserts
                         is converted. Default auto: each page's own, from its
                         byte order mark or <meta> declaration, else UTF-8
  -o, --output PATH      write the result to PATH instead of stdout: a file is
                         replaced atomically (a link's target, for a link), a
                         device or FIFO written to
  -h, --help             show this help
  -V, --version          show the version

Without FILE, or with "-", the page is read from standard input.

Examples:
  vantoro page index.html > index.protected.html
  vantoro protect --copyright "Example Site:All rights reserved" article.html -o out.html
  vantoro protect --in-place --copyright "Example Site:All rights reserved" public_html/
  vantoro page --charset GBK gbk-page.html
  vantoro page --random-values draws.txt index.html
  vantoro protect --hide class --site-key example.org --copyright "Example Site" page.html
  vantoro stylesheet --site-key example.org > public_html/vantoro.css

Exit status: 0 on success, 1 when processing failed, 2 for usage errors,
128 + N when signal N (INT, TERM, HUP) stopped it.
)";

enum LongOnly {
  kCopyright = 256, kCopyrightFile, kDecoy, kInPlace, kRandomValues, kCharset, kHide, kSiteKey,
  kNosnippet, kForce
};

constexpr const char* kTryHelp = "Try 'vantoro --help' for more information.\n";

constexpr const char* kLicence =
    "Copyright (C) 2026 the Vantoro developers. All rights reserved.\n";

}  // namespace

int UsageError(const std::string& message) {
  std::cerr << "vantoro: " << message << "\n" << kTryHelp;
  return 2;
}

namespace {

}  // namespace

ParseResult ParseCommandLine(int argc, char** argv) {
  static const option kOptions[] = {
      {"copyright", required_argument, nullptr, kCopyright},
      {"copyright-file", required_argument, nullptr, kCopyrightFile},
      {"decoy", required_argument, nullptr, kDecoy},
      {"in-place", no_argument, nullptr, kInPlace},
      {"random-values", required_argument, nullptr, kRandomValues},
      {"charset", required_argument, nullptr, kCharset},
      {"hide", required_argument, nullptr, kHide},
      {"site-key", required_argument, nullptr, kSiteKey},
      {"nosnippet", no_argument, nullptr, kNosnippet},
      {"force", no_argument, nullptr, kForce},
      {"output", required_argument, nullptr, 'o'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  Options options;
  // getopt words its own messages the GNU way, after argv[0].
  char program[] = "vantoro";
  char* invoked = argc > 0 ? argv[0] : nullptr;
  if (argc > 0) argv[0] = program;
  struct Restore {
    char** argv;
    char* invoked;
    ~Restore() {
      if (invoked != nullptr) argv[0] = invoked;
    }
  } restore{argv, invoked};
  opterr = 1;
  optind = 1;
  for (;;) {
    int index = 0;
    int c = getopt_long(argc, argv, "o:hV", kOptions, &index);
    if (c == -1) break;
    switch (c) {
      case 'h': std::cout << kUsage; return {std::nullopt, 0};
      case 'V': std::cout << "vantoro " << Version() << "\n" << kLicence; return {std::nullopt, 0};
      case 'o': options.output = optarg; break;
      case kCopyright: options.copyright = optarg; break;
      case kCopyrightFile: options.copyright_file = optarg; break;
      case kInPlace: options.in_place = true; break;
      case kRandomValues: options.random_values = optarg; break;
      case kCharset: options.charset = optarg; break;
      case kSiteKey: options.site_key = optarg; break;
      case kNosnippet: options.nosnippet = true; break;
      case kForce: options.force = true; break;
      case kHide:
        if (std::strcmp(optarg, "style") == 0) {
          options.hide = HideMethod::kStyle;
        } else if (std::strcmp(optarg, "class") == 0) {
          options.hide = HideMethod::kClass;
        } else {
          return {std::nullopt,
                  UsageError("unknown hiding method '" + Shown(optarg) + "' (style or class)")};
        }
        break;
      case kDecoy:
        if (std::strcmp(optarg, "copyright") == 0) {
          options.decoy = DecoyKind::kCopyright;
        } else if (std::strcmp(optarg, "random") == 0) {
          options.decoy = DecoyKind::kRandomText;
        } else if (std::strcmp(optarg, "both") == 0) {
          options.decoy = DecoyKind::kBoth;
        } else {
          return {std::nullopt,
                  UsageError("unknown decoy kind '" + Shown(optarg) +
                             "' (copyright, random or both)")};
        }
        break;
      default:  // getopt said what is wrong
        std::cerr << kTryHelp;
        return {std::nullopt, 2};
    }
  }
  if (optind >= argc) return {std::nullopt, UsageError("missing command (page, content or protect)")};
  std::string command = argv[optind++];
  if (command == "page") {
    options.command = Command::kPage;
  } else if (command == "content") {
    options.command = Command::kContent;
  } else if (command == "protect") {
    options.command = Command::kProtect;
  } else if (command == "stylesheet") {
    options.command = Command::kStylesheet;
  } else {
    return {std::nullopt, UsageError("unknown command '" + Shown(command) + "'")};
  }
  for (; optind < argc; ++optind) options.inputs.emplace_back(argv[optind]);

  if (options.command == Command::kStylesheet) {
    if (!options.site_key || options.site_key->empty()) {
      return {std::nullopt, UsageError("stylesheet needs --site-key KEY")};
    }
    if (!options.inputs.empty()) return {std::nullopt, UsageError("stylesheet reads no FILE")};
    return {std::move(options), 0};
  }
  if (options.hide == HideMethod::kClass && (!options.site_key || options.site_key->empty())) {
    return {std::nullopt, UsageError("--hide class needs --site-key KEY")};
  }
  if (options.copyright && options.copyright_file) {
    return {std::nullopt, UsageError("--copyright and --copyright-file exclude each other")};
  }
  bool uses_copyright = options.copyright || options.copyright_file ||
                        options.decoy != DecoyKind::kCopyright ||
                        options.hide != HideMethod::kStyle || options.nosnippet;
  if (options.command == Command::kPage && uses_copyright) {
    return {std::nullopt,
            UsageError("copyright, decoy and hiding options need 'content' or 'protect'")};
  }
  // Copyright decoys without a text would change nothing but letter case.
  if (options.command != Command::kPage && options.decoy != DecoyKind::kRandomText &&
      !options.copyright_file && (!options.copyright || options.copyright->empty())) {
    return {std::nullopt, UsageError("'" + std::string(command) +
                                     "' needs --copyright TEXT or --copyright-file PATH "
                                     "(or --decoy random)")};
  }
  if (options.force && !options.in_place) {
    return {std::nullopt, UsageError("--force needs --in-place")};
  }
  bool page_from_stdin = !options.in_place && (options.inputs.empty() || options.inputs[0] == "-");
  if (options.copyright_file && *options.copyright_file == "-" && page_from_stdin) {
    return {std::nullopt,
            UsageError("--copyright-file - and the page cannot both come from standard input")};
  }
  if (options.in_place) {
    if (options.inputs.empty()) return {std::nullopt, UsageError("--in-place needs at least one PATH")};
    if (options.output) return {std::nullopt, UsageError("--in-place and --output exclude each other")};
    if (options.random_values) {
      return {std::nullopt, UsageError("--random-values cannot be combined with --in-place")};
    }
    for (const std::string& input : options.inputs) {
      if (input == "-") return {std::nullopt, UsageError("--in-place cannot read standard input")};
    }
  } else if (options.inputs.size() > 1) {
    return {std::nullopt, UsageError("one FILE at a time; use --in-place for several")};
  }
  return {std::move(options), 0};
}

}  // namespace vantoro::cli
