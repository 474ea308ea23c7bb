// Each of the two sweeps finds every marker of the text it starts from, left to
// right, once: text it inserts is not searched again, so it ends whatever the
// copyright texts hold and runs in linear time. The line-break sweep sees the
// paragraph sweep's decoys as ordinary text. When the decoys cannot change what
// a second scan would find, the article is scanned once and the output written
// once; otherwise the two sweeps run one after the other.
#include "content/content_pass.h"

#include "content/decoys.h"
#include "html/protected_regions.h"
#include "html/tree_builder.h"
#include "random/draws.h"
#include "text/ascii.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kWhitespace = "\t\n ";

using Inserts = std::vector<std::pair<std::size_t, std::string>>;

// Another pass's insertions, written into `out` as the copy of `text` reaches
// them; `pos` is how far the copy stands.
class Inserter {
 public:
  Inserter(std::string_view text, std::string& out, const Inserts& inserts, std::size_t& pos)
      : text_(text), out_(out), next_(inserts.begin()), end_(inserts.end()), pos_(pos) {}
  // Those up to `end`, the one at `end` included.
  void Until(std::size_t end) {
    for (; next_ != end_ && next_->first <= end; ++next_) {
      out_.append(text_, pos_, next_->first - pos_);
      out_ += next_->second;
      pos_ = next_->first;
    }
  }

 private:
  std::string_view text_;
  std::string& out_;
  Inserts::const_iterator next_, end_;
  std::size_t& pos_;
};

}  // namespace

void ContentPass(std::string_view article, const ContentSettings& settings, std::string& out) {
  constexpr std::optional<Range> kRange = kZeroToSixteen;
  constexpr CaseMode kMode = CaseMode::kRandom;
  // Encoded once, not per decoy.
  const std::string euro =
      settings.encoder != nullptr ? Encoded(*settings.encoder, kCode128) : std::string(kCode128);
  std::size_t drawn = 0;
  const bool copy_visible = !settings.copy_visible.class_names.empty() &&
                            settings.decoy != DecoyContent::kRandomText;
  auto plain_decoy = [&] {
    switch (settings.decoy) {
      case DecoyContent::kRandomText:
        return RandomTextDecoy(kRange, kMode, euro, settings.hiding, RandomAlphabet::kText);
      case DecoyContent::kBoth: {
        // The whitespace between the two texts goes inside the first element: outside,
        // a browser would show it (inside <pre>, as a blank line).
        std::string both = RandomTextDecoy(kRange, kMode, euro, settings.hiding, RandomAlphabet::kText);
        std::string space = RandomChars(1, kWhitespace);
        std::string notice = CopyrightDecoy(settings.copyright, kRange, kMode, settings.hiding);
        if (!both.empty()) {
          both.insert(both.rfind('<'), space);  // the text holds no "<": before the end tag
        } else if (!notice.empty()) {
          notice.insert(notice.find('>') + 1, space);  // the attribute holds no ">"
        }
        return both + notice;
      }
      case DecoyContent::kCopyright: break;
    }
    return CopyrightDecoy(settings.copyright, kRange, kMode, settings.hiding);
  };
  auto decoy = [&] {
    std::string d = plain_decoy();
    const std::size_t k = drawn++;
    if (copy_visible && (k == 0 || (settings.copy_every > 0 && k % settings.copy_every == 0))) {
      d += CopyrightDecoy(settings.copyright, kRange, kMode, settings.copy_visible);
    }
    return d;
  };
  // The markers of `text` where a decoy may go, as the scan meets them: between
  // tags (a decoy inside another tag would end it and show the rest as text),
  // where the tree builder keeps the decoy in place and builds the page
  // around it as before.
  struct Markers final : MarkupVisitor {
    Markers(std::string_view text, MarkupVisitor* also) : text_(text), also_(also) {}
    void Visit(std::size_t lt, const TreeBuilder& tree) override {
      if (also_ != nullptr) also_->Visit(lt, tree);
      const bool paragraph_end = MatchesAt(text_, lt, "</p");
      if (!paragraph_end && !MatchesAt(text_, lt, "<br")) return;
      const std::size_t name = lt + (paragraph_end ? 2 : 1);
      std::size_t end = name;
      while (end < text_.size() && !EndsTagName(text_[end])) ++end;
      if (!tree.DecoyFits(text_.substr(name, end - name), paragraph_end,
                          tree.frameset_ok() && FramesetFollows(lt))) {
        return;
      }
      (paragraph_end ? paragraph_ends : line_breaks).push_back(lt);
    }
    // Looked for once, and only on a page where it could matter.
    bool FramesetFollows(std::size_t lt) {
      if (!looked_) {
        looked_ = true;
        for (std::size_t at = FindIgnoringCase(text_, "<frameset", 0); at != std::string_view::npos;
             at = FindIgnoringCase(text_, "<frameset", at + 1)) {
          last_frameset_ = at;
        }
      }
      return last_frameset_ != std::string_view::npos && last_frameset_ > lt;
    }
    std::string_view text_;
    MarkupVisitor* also_;
    bool looked_ = false;
    std::size_t last_frameset_ = std::string_view::npos;
    std::vector<std::size_t> paragraph_ends, line_breaks;
  };
  static const Inserts kNoInserts;
  const Inserts& inserts = settings.also_inserts != nullptr ? *settings.also_inserts : kNoInserts;
  // One sweep: a decoy in front of each of these markers, and the insertions
  // (those of the first sweep's text, given for it).
  auto sweep = [&](std::string_view text, const std::vector<std::size_t>& at,
                   std::string_view marker, const Inserts& also) {
    std::string swept;
    swept.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    Inserter insert(text, swept, also, pos);
    for (std::size_t lt : at) {
      insert.Until(lt);
      swept.append(text, pos, lt - pos);
      swept += decoy();
      swept += marker;  // the marker's letters come out in lower case
      pos = lt + marker.size();
    }
    insert.Until(text.size());
    swept.append(text, pos);
    return swept;
  };
  // A decoy between tags is complete markup: the line breaks of the paragraph
  // sweep's result are those of the article, moved, unless a decoy's text holds
  // a "<" (only copyright texts can).
  bool decoys_plain = euro.find('<') == std::string::npos;
  if (settings.decoy != DecoyContent::kRandomText) {
    for (const CopyrightEntry& entry : settings.copyright) {
      for (const std::string& part : entry) decoys_plain &= part.find('<') == std::string::npos;
    }
  }
  if (!decoys_plain) {
    Markers first(article, settings.also);
    ScanMarkup(article, RegionSet::kContent, false, first);
    std::string paragraphs = sweep(article, first.paragraph_ends, "</p", inserts);
    Markers second(paragraphs, nullptr);
    ScanMarkup(paragraphs, RegionSet::kContent, false, second);
    out = sweep(paragraphs, second.line_breaks, "<br", kNoInserts);
    return;
  }

  // Both sweeps at once: the markers of the article, taken as the scan meets
  // them, the decoys drawn in the order the two sweeps draw them (every
  // paragraph end, then every line break), then the output written once, at its
  // exact size.
  Markers markers(article, settings.also);
  ScanMarkup(article, RegionSet::kContent, false, markers);
  const std::vector<std::size_t>& paragraph_ends = markers.paragraph_ends;
  const std::vector<std::size_t>& line_breaks = markers.line_breaks;
  std::string decoys;
  std::vector<std::size_t> decoy_ends;
  decoy_ends.reserve(paragraph_ends.size() + line_breaks.size());
  for (std::size_t k = 0; k < paragraph_ends.size() + line_breaks.size(); ++k) {
    decoys += decoy();
    decoy_ends.push_back(decoys.size());
  }

  std::size_t inserted = 0;
  for (const auto& insert : inserts) inserted += insert.second.size();
  out.clear();
  out.reserve(article.size() + decoys.size() + inserted);
  std::size_t pos = 0, p = 0, b = 0;
  Inserter insert(article, out, inserts, pos);
  while (p < paragraph_ends.size() || b < line_breaks.size()) {
    bool paragraph = b == line_breaks.size() ||
                     (p < paragraph_ends.size() && paragraph_ends[p] < line_breaks[b]);
    std::size_t lt = paragraph ? paragraph_ends[p] : line_breaks[b];
    std::size_t k = paragraph ? p++ : paragraph_ends.size() + b++;
    std::size_t from = k == 0 ? 0 : decoy_ends[k - 1];
    insert.Until(lt);
    out.append(article, pos, lt - pos);
    out.append(decoys, from, decoy_ends[k] - from);
    out += paragraph ? "</p" : "<br";  // the marker's letters come out in lower case
    pos = lt + 3;
  }
  insert.Until(article.size());
  out.append(article, pos);
}

std::string ContentPass(std::string_view article, const ContentSettings& settings) {
  std::string out;
  ContentPass(article, settings, out);
  return out;
}

}  // namespace vantoro::internal
