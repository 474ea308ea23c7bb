// Replayed outputs: every pass, under several option sets, on the fuzz seed
// corpora and on generated pages, with the same draws from a seeded source. The
// digests are those of the outputs before the passes were made faster: any
// change of a byte, of the number of draws or of their order shows here.
//
// VANTORO_REPLAY_DUMP=DIR writes every output to DIR (and runs on the saved real
// pages too), so that two builds can be compared byte for byte with diff -r.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "vantoro/protector.h"
#include "vantoro/random.h"

namespace vantoro {
namespace {

// Values from splitmix64: the same sequence for the same seed, however many are
// drawn.
class SeededSource final : public RandomSource {
 public:
  explicit SeededSource(std::uint64_t seed) : state_(seed) {}
  void Reseed() override {}
  double Draw() override {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_;
};

std::uint64_t Fnv(std::string_view bytes, std::uint64_t hash = 0xCBF29CE484222325ull) {
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return hash;
}

struct Input {
  std::string name;
  std::string page;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Input> FilesIn(const std::filesystem::path& dir, std::string_view prefix) {
  std::vector<Input> inputs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.is_regular_file()) {
      inputs.push_back({std::string(prefix) + entry.path().filename().string(), ReadFile(entry.path())});
    }
  }
  std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.name < b.name; });
  return inputs;
}

// Pages the seed corpora do not hold: long runs of tags, attributes, quotes and
// comments, where a scan that jumps between structural bytes could go wrong.
std::vector<Input> GeneratedInputs() {
  std::vector<Input> inputs;
  std::string tags;
  for (int i = 0; i < 300; ++i) {
    tags += "<a href=\"/x" + std::to_string(i) + "\" class='c' title=t" + std::to_string(i % 7) +
            (i % 3 == 0 ? " / " : " ") + "data-x = \"<p>\">link</a>";
    tags += i % 5 == 0 ? "<br>\n" : "</p><p>";
    tags += std::string(static_cast<std::size_t>(i % 70), i % 2 == 0 ? ' ' : 'y');
    if (i % 11 == 0) tags += "<!-- c -- <p> --><!x><?y><img src=i.png alt='a\"b'>";
    if (i % 13 == 0) tags += "<script>if (a<b) x='</p>';<!--<script></script>--></script>";
    if (i % 17 == 0) tags += "<svg><p/><![CDATA[<br>]]></svg><textarea></p></textarea>";
  }
  inputs.push_back({"generated-tags", "<!DOCTYPE html><html><head><title>t</title></head><body><p>" + tags});
  std::string attributes = "<div";
  for (int i = 0; i < 2000; ++i) {
    attributes += i % 4 == 0 ? "\t" : " ";
    attributes += "a" + std::to_string(i) + (i % 3 == 0 ? "='>'" : i % 3 == 1 ? "=\"v\"" : "=v/");
  }
  inputs.push_back({"generated-attributes", attributes + "><p>text.</p></div>"});
  inputs.push_back({"generated-unclosed", "<p>a<br>b<a href='x>" + std::string(5000, '-') + "<br>"});
  return inputs;
}

struct Setting {
  const char* name;
  Options options;
  int pass;  // 0 page, 1 content, 2 protect
};

std::vector<Setting> Settings() {
  std::vector<Setting> settings;
  Options plain;
  plain.content.copyright = "Example Site:All rights reserved,(c) 2026 Example";
  settings.push_back({"page", plain, 0});
  settings.push_back({"content", plain, 1});
  settings.push_back({"protect", plain, 2});
  Options both = plain;
  both.content.decoy = DecoyKind::kBoth;
  settings.push_back({"content-both", both, 1});
  Options layered = plain;
  layered.content.hide = HideMethod::kLayered;
  layered.content.site_key = "replay-site-key";
  layered.content.marks = true;
  layered.page.tdm_reservation = true;
  settings.push_back({"protect-layered", layered, 2});
  Options classes = plain;
  classes.content.hide = HideMethod::kClass;
  classes.content.site_key = "replay-site-key";
  classes.content.stylesheet_link = "/v.css";
  classes.content.decoy = DecoyKind::kRandomText;
  settings.push_back({"protect-class", classes, 2});
  return settings;
}

// Runs one setting over one input with the seed; the output, or the error.
std::string Replay(const Setting& setting, const std::string& page, std::uint64_t seed) {
  SeededSource source(seed);
  ScopedRandomSource use(source);
  Protector protector(setting.options);
  protector.set_mark_id(0x0123456789ABCDEFull);
  try {
    switch (setting.pass) {
      case 0: return protector.protect_page(page);
      case 1: return protector.protect_content(page);
      default: return protector.protect(page);
    }
  } catch (const Error& error) {
    return "error " + std::to_string(static_cast<int>(error.code()));
  }
}

std::uint64_t DigestOf(const std::vector<Input>& inputs, const char* dump_as) {
  const char* dump = std::getenv("VANTORO_REPLAY_DUMP");
  std::uint64_t digest = 0xCBF29CE484222325ull;
  for (const Setting& setting : Settings()) {
    std::uint64_t seed = 1;
    for (const Input& input : inputs) {
      std::string out = Replay(setting, input.page, seed++);
      digest = Fnv(out, Fnv(setting.name, digest));
      if (dump != nullptr) {
        std::filesystem::path dir = std::filesystem::path(dump) / dump_as / setting.name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / input.name, std::ios::binary) << out;
      }
    }
  }
  return digest;
}

const std::filesystem::path kFuzzCorpus = VANTORO_FUZZ_CORPUS;

TEST(Replay, SeedCorporaGiveTheBytesTheyGaveBefore) {
  std::vector<Input> inputs;
  for (const char* target : {"rndstr", "rndcontent", "rndtag", "marks"}) {
    for (Input& input : FilesIn(kFuzzCorpus / target, std::string(target) + "-")) {
      inputs.push_back(std::move(input));
    }
  }
  ASSERT_GE(inputs.size(), 40u);
  EXPECT_EQ(DigestOf(inputs, "seeds"), 1694808190581396789u);
}

TEST(Replay, GeneratedPagesGiveTheBytesTheyGaveBefore) {
  EXPECT_EQ(DigestOf(GeneratedInputs(), "generated"), 18132921187369270349u);
}

// Only when dumping: the saved real pages are outside the project and may change.
TEST(Replay, SavedPagesDumped) {
  if (std::getenv("VANTORO_REPLAY_DUMP") == nullptr) GTEST_SKIP() << "VANTORO_REPLAY_DUMP not set";
  std::vector<Input> pages = FilesIn(VANTORO_TEST_CORPUS, "");
  if (pages.empty()) GTEST_SKIP() << "no saved pages in " << VANTORO_TEST_CORPUS;
  DigestOf(pages, "saved");
}

}  // namespace
}  // namespace vantoro
