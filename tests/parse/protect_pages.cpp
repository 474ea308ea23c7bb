// Protects many pages in one process, for the parse comparison (parse_equal.py):
// starting a process per page would cost more than protecting it.
//
// Requests on stdin, answers on stdout, binary-safe:
//   request: "PASS DECOY HIDE SEED LENGTH\n" then LENGTH bytes of page
//            PASS page|content|protect, DECOY copyright|random|both,
//            HIDE style|class (class hides with site key "k1"), SEED unsigned
//   answer:  "ok LENGTH\n" then LENGTH bytes, or "error MESSAGE\n"
// Every random draw comes from std::mt19937_64 seeded with SEED, so an answer is
// reproduced exactly from (page, pass, decoy, hide, seed).
//
// Exit status 0 at the end of the input; 2 when a header cannot be read, since
// the framing of everything after it is lost.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vantoro/protector.h"
#include "vantoro/random.h"

namespace {

constexpr std::string_view kCopyright = "Example Site:All rights reserved";
constexpr std::string_view kSiteKey = "k1";
// A header longer than this is no header: better to stop than to read a page
// as one.
constexpr std::size_t kMaxHeader = 256;

// Reseed does nothing: the seed alone must decide every draw.
class SeededSource final : public vantoro::RandomSource {
 public:
  explicit SeededSource(std::uint64_t seed) : engine_(seed) {}
  void Reseed() override {}
  // The top 53 bits as a fraction: exactly uniform in [0, 1), never 1.
  double Draw() override { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 engine_;
};

enum class Pass { kPage, kContent, kProtect };

struct Request {
  Pass pass = Pass::kPage;
  vantoro::DecoyKind decoy = vantoro::DecoyKind::kCopyright;
  vantoro::HideMethod hide = vantoro::HideMethod::kStyle;
  std::uint64_t seed = 0;
};

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The message of an answer is one line.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

void Answer(std::string_view head, std::string_view body = {}) {
  std::fwrite(head.data(), 1, head.size(), stdout);
  std::fwrite(body.data(), 1, body.size(), stdout);
  // The caller waits for each answer before it sends the next request.
  std::fflush(stdout);
}

void AnswerError(std::string_view message) { Answer("error " + OneLine(message) + "\n"); }

// Reads up to and without the "\n"; false at the end of the input or for an
// overlong line.
bool ReadHeader(std::string& line, bool& at_end) {
  line.clear();
  at_end = false;
  for (;;) {
    int c = std::getc(stdin);
    if (c == EOF) {
      at_end = line.empty();
      return false;
    }
    if (c == '\n') return true;
    if (line.size() == kMaxHeader) return false;
    line.push_back(static_cast<char>(c));
  }
}

// The protectors, one per decoy kind and hiding method, made when first asked for.
vantoro::Protector& ProtectorFor(const Request& request) {
  static std::map<std::pair<int, int>, vantoro::Protector> protectors;
  auto key = std::make_pair(static_cast<int>(request.decoy), static_cast<int>(request.hide));
  auto found = protectors.find(key);
  if (found != protectors.end()) return found->second;
  vantoro::Options options;
  options.content.copyright = std::string(kCopyright);
  options.content.decoy = request.decoy;
  options.content.hide = request.hide;
  if (request.hide == vantoro::HideMethod::kClass) options.content.site_key = std::string(kSiteKey);
  return protectors.emplace(key, vantoro::Protector(std::move(options))).first->second;
}

// The message of a bad field, or empty when all are good.
std::string ParseRequest(const std::vector<std::string_view>& fields, Request& request) {
  static const std::array<std::pair<std::string_view, Pass>, 3> passes = {
      {{"page", Pass::kPage}, {"content", Pass::kContent}, {"protect", Pass::kProtect}}};
  static const std::array<std::pair<std::string_view, vantoro::DecoyKind>, 3> decoys = {
      {{"copyright", vantoro::DecoyKind::kCopyright},
       {"random", vantoro::DecoyKind::kRandomText},
       {"both", vantoro::DecoyKind::kBoth}}};
  static const std::array<std::pair<std::string_view, vantoro::HideMethod>, 2> hides = {
      {{"style", vantoro::HideMethod::kStyle}, {"class", vantoro::HideMethod::kClass}}};
  auto pick = [](const auto& table, std::string_view name, auto& value) {
    for (const auto& [known, v] : table) {
      if (known == name) {
        value = v;
        return true;
      }
    }
    return false;
  };
  if (!pick(passes, fields[0], request.pass)) return "unknown pass: " + std::string(fields[0]);
  if (!pick(decoys, fields[1], request.decoy)) return "unknown decoy: " + std::string(fields[1]);
  if (!pick(hides, fields[2], request.hide)) return "unknown hiding: " + std::string(fields[2]);
  if (!ParseNumber(fields[3], request.seed)) return "bad seed: " + std::string(fields[3]);
  return {};
}

std::string Protect(const Request& request, std::string_view page) {
  const vantoro::Protector& protector = ProtectorFor(request);
  SeededSource source(request.seed);
  vantoro::ScopedRandomSource use(source);
  switch (request.pass) {
    case Pass::kPage:
      return protector.protect_page(page);
    case Pass::kContent:
      return protector.protect_content(page);
    case Pass::kProtect:
      return protector.protect(page);
  }
  return {};
}

}  // namespace

int main() {
  std::string header;
  std::string page;
  for (;;) {
    bool at_end = false;
    if (!ReadHeader(header, at_end)) {
      if (at_end) return 0;
      AnswerError("unreadable request header");
      return 2;
    }
    std::vector<std::string_view> fields = Split(header);
    std::size_t length = 0;
    if (fields.size() != 5 || !ParseNumber(fields[4], length)) {
      AnswerError("request header is not \"PASS DECOY HIDE SEED LENGTH\": " + header);
      return 2;
    }
    page.resize(length);
    if (std::fread(page.data(), 1, length, stdin) != length) {
      AnswerError("the input ended inside a page");
      return 2;
    }
    Request request;
    if (std::string bad = ParseRequest(fields, request); !bad.empty()) {
      AnswerError(bad);
      continue;
    }
    try {
      std::string out = Protect(request, page);
      Answer("ok " + std::to_string(out.size()) + "\n", out);
    } catch (const std::exception& e) {
      AnswerError(e.what());
    }
  }
}
