#include "options.h"

#include <getopt.h>

#include <charconv>
#include <string_view>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "messages.h"

namespace vantoro::cli {
namespace {

constexpr const char* kUsage = R"(Usage: vantoro COMMAND [OPTIONS] [FILE|-]
       vantoro COMMAND --in-place [OPTIONS] PATH...
       vantoro stylesheet --site-key KEY
       vantoro trace --site-key KEY [FILE|-]

Makes the markup of web pages differ on every call while they render the same,
and hides the site's copyright notice in articles, against harvesting programs.

Commands:
  page       re-mark a whole page: random letter case of tag and attribute names,
             random whitespace and comments in tags, a watermark comment in front
  content    put a hidden copyright notice in front of every paragraph end and
             line break of an article (or page)
  protect    both, as a site does with a whole page: content, then page
  stylesheet print the stylesheet of --hide class and --hide layered
  trace      find the marks in a copied text (plain text, HTML or a browser's
             innerText, in UTF-8): print each mark id found with how many code
             symbols agree; exit 0 when one is found, 1 when none

Options:
  --copyright TEXT       the site's copyright texts: entries separated by ",",
                         parts by ":" (content, protect)
  --copyright-file PATH  the same, read from a file (a final line break is dropped)
  --decoy KIND           copyright (default), random or both (content, protect)
  --hide METHOD          how decoys hide: layered (default), class or style.
                         layered: a class hidden by the page's own <style>,
                         plus copy-visible notices (in the rendered text and in
                         what is copied, out of sight and of screen readers);
                         class: a class hidden by the site's stylesheet, which
                         every page must link (for a Content-Security-Policy
                         that forbids inline styles; needs --site-key);
                         style: an inline style on each decoy
  --site-key KEY         names the hiding classes (layered, class, stylesheet)
                         and keys the marks (layered, trace): keep it the same
                         for a site, and secret
  --copy-notices N       with layered: a copy-visible notice at the first decoy
                         and every Nth after it (default 4; 1: every decoy;
                         0: only the first)
  --mark-id ID           with layered and --site-key: the 64-bit id the marks
                         carry, decimal or 0x-hex (default: the time of the run,
                         in seconds since 1970)
  --no-marks             with layered and --site-key: no marks
  --tdm-reservation      put <meta name="tdm-reservation" content="1"> where the
                         head begins (page, protect): text and data mining
                         rights are reserved, machine-readably
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
  vantoro protect --site-key "$SITE_KEY" --mark-id 42 --copyright "Example Site" page.html
  vantoro trace --site-key "$SITE_KEY" copied.txt

Exit status: 0 on success, 1 when processing failed, 2 for usage errors,
128 + N when signal N (INT, TERM, HUP) stopped it.
)";

enum LongOnly {
  kCopyright = 256, kCopyrightFile, kDecoy, kInPlace, kRandomValues, kCharset, kHide, kSiteKey,
  kNosnippet, kForce, kCopyNotices, kMarkId, kNoMarks, kTdmReservation
};

// A decimal or 0x-hex number of 64 bits.
std::optional<std::uint64_t> ParseId(const char* text) {
  std::string_view digits(text);
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

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
      {"copy-notices", required_argument, nullptr, kCopyNotices},
      {"mark-id", required_argument, nullptr, kMarkId},
      {"no-marks", no_argument, nullptr, kNoMarks},
      {"tdm-reservation", no_argument, nullptr, kTdmReservation},
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
        options.hide_given = true;
        if (std::strcmp(optarg, "style") == 0) {
          options.hide = HideMethod::kStyle;
        } else if (std::strcmp(optarg, "class") == 0) {
          options.hide = HideMethod::kClass;
        } else if (std::strcmp(optarg, "layered") == 0) {
          options.hide = HideMethod::kLayered;
        } else {
          return {std::nullopt, UsageError("unknown hiding method '" + Shown(optarg) +
                                           "' (layered, class or style)")};
        }
        break;
      case kCopyNotices: {
        std::optional<std::uint64_t> n = ParseId(optarg);
        if (!n || *n > 1000000) {
          return {std::nullopt, UsageError("--copy-notices needs a count, not '" + Shown(optarg) + "'")};
        }
        options.copy_notices = static_cast<std::size_t>(*n);
        options.copy_notices_given = true;
        break;
      }
      case kMarkId:
        options.mark_id = ParseId(optarg);
        if (!options.mark_id) {
          return {std::nullopt, UsageError("--mark-id needs a 64-bit number (decimal or 0x-hex), not '" +
                                           Shown(optarg) + "'")};
        }
        break;
      case kNoMarks: options.no_marks = true; break;
      case kTdmReservation: options.tdm_reservation = true; break;
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
  } else if (command == "trace") {
    options.command = Command::kTrace;
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
  if (options.command == Command::kTrace) {
    if (!options.site_key || options.site_key->empty()) {
      return {std::nullopt, UsageError("trace needs --site-key KEY")};
    }
    if (options.inputs.size() > 1) return {std::nullopt, UsageError("trace reads one FILE")};
    return {std::move(options), 0};
  }
  const bool layered = options.hide == HideMethod::kLayered;
  if ((options.mark_id || options.no_marks) && !(layered && options.site_key)) {
    return {std::nullopt, UsageError("--mark-id and --no-marks need --hide layered and --site-key")};
  }
  if (options.tdm_reservation && options.command == Command::kContent) {
    return {std::nullopt, UsageError("--tdm-reservation needs 'page' or 'protect'")};
  }
  if (options.copy_notices_given && !layered) {
    return {std::nullopt, UsageError("--copy-notices needs --hide layered")};
  }
  if (options.hide == HideMethod::kClass && (!options.site_key || options.site_key->empty())) {
    return {std::nullopt, UsageError("--hide class needs --site-key KEY")};
  }
  if (options.copyright && options.copyright_file) {
    return {std::nullopt, UsageError("--copyright and --copyright-file exclude each other")};
  }
  bool uses_copyright = options.copyright || options.copyright_file ||
                        options.decoy != DecoyKind::kCopyright || options.hide_given ||
                        options.nosnippet || options.copy_notices_given || options.mark_id ||
                        options.no_marks;
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
