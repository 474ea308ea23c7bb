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

constexpr std::optional<Range> kRange = kZeroToSixteen;
constexpr CaseMode kMode = CaseMode::kRandom;

}  // namespace

DecoyPlan::DecoyPlan(std::string_view article, const ContentSettings& settings)
    : article_(article),
      settings_(settings),
      also_(settings.also),
      euro_(settings.encoder != nullptr ? Encoded(*settings.encoder, kCode128)
                                        : std::string(kCode128)),
      copy_visible_(!settings.copy_visible.class_names.empty() &&
                    settings.decoy != DecoyContent::kRandomText) {
  // A decoy between tags is complete markup: the line breaks of the paragraph
  // sweep's result are those of the article, moved, unless a decoy's text holds
  // a "<" (only copyright texts can).
  one_scan_ = euro_.find('<') == std::string::npos;
  if (settings.decoy != DecoyContent::kRandomText) {
    for (const CopyrightEntry& entry : settings.copyright) {
      for (const std::string& part : entry) one_scan_ &= part.find('<') == std::string::npos;
    }
  }
}

std::string DecoyPlan::PlainDecoy() {
  switch (settings_.decoy) {
    case DecoyContent::kRandomText:
      return RandomTextDecoy(kRange, kMode, euro_, settings_.hiding, RandomAlphabet::kText);
    case DecoyContent::kBoth: {
      // The whitespace between the two texts goes inside the first element: outside,
      // a browser would show it (inside <pre>, as a blank line).
      std::string both =
          RandomTextDecoy(kRange, kMode, euro_, settings_.hiding, RandomAlphabet::kText);
      std::string space = RandomChars(1, kWhitespace);
      std::string notice = CopyrightDecoy(settings_.copyright, kRange, kMode, settings_.hiding);
      if (!both.empty()) {
        both.insert(both.rfind('<'), space);  // the text holds no "<": before the end tag
      } else if (!notice.empty()) {
        notice.insert(notice.find('>') + 1, space);  // the attribute holds no ">"
      }
      return both + notice;
    }
    case DecoyContent::kCopyright: break;
  }
  return CopyrightDecoy(settings_.copyright, kRange, kMode, settings_.hiding);
}

void DecoyPlan::AppendDecoy(std::string& out) {
  if (settings_.decoy == DecoyContent::kCopyright) {
    AppendCopyrightDecoy(out, settings_.copyright, kRange, kMode, settings_.hiding);
  } else {
    out += PlainDecoy();
  }
  const std::size_t k = drawn_++;
  if (copy_visible_ && (k == 0 || (settings_.copy_every > 0 && k % settings_.copy_every == 0))) {
    AppendCopyrightDecoy(out, settings_.copyright, kRange, kMode, settings_.copy_visible);
  }
}

// The markers where a decoy may go, as the scan meets them: between tags (a
// decoy inside another tag would end it and show the rest as text), where the
// tree builder keeps the decoy in place and builds the page around it as
// before.
void DecoyPlan::Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag& tag) {
  if (also_ != nullptr) also_->Visit(lt, tree, tag);
  std::string_view text = article_;
  // "</p" or "<br", any case, told by two bytes.
  if (lt + 2 >= text.size()) return;
  const bool paragraph_end = text[lt + 1] == '/' && AsciiLower(text[lt + 2]) == 'p';
  const bool line_break = AsciiLower(text[lt + 1]) == 'b' && AsciiLower(text[lt + 2]) == 'r';
  if (!paragraph_end && !line_break) return;
  const std::size_t name = lt + (paragraph_end ? 2 : 1);
  std::size_t end = name;
  while (end < text.size() && !EndsTagName(text[end])) ++end;
  if (!tree.DecoyFits(text.substr(name, end - name), paragraph_end,
                      tree.frameset_ok() && FramesetFollows(lt))) {
    return;
  }
  (paragraph_end ? paragraph_ends_ : line_breaks_).push_back(lt);
}

// Looked for once, and only on a page where it could matter.
bool DecoyPlan::FramesetFollows(std::size_t lt) {
  if (!looked_) {
    looked_ = true;
    for (std::size_t at = FindIgnoringCase(article_, "<frameset", 0);
         at != std::string_view::npos; at = FindIgnoringCase(article_, "<frameset", at + 1)) {
      last_frameset_ = at;
    }
  }
  return last_frameset_ != std::string_view::npos && last_frameset_ > lt;
}

void DecoyPlan::Draw() {
  pieces_.clear();
  decoy_ends_.clear();
  decoy_ends_.reserve(paragraph_ends_.size() + line_breaks_.size());
  for (std::size_t k = 0; k < paragraph_ends_.size() + line_breaks_.size(); ++k) {
    AppendDecoy(pieces_);
    decoy_ends_.push_back(pieces_.size());
  }
  // The other pass's insertions behind them, so that all that goes in is in one text.
  if (settings_.also_inserts != nullptr) {
    for (const auto& insert : *settings_.also_inserts) pieces_ += insert.second;
  }
}

template <class Put>
void DecoyPlan::InOrder(Put&& put) const {
  std::size_t p = 0, b = 0;
  while (p < paragraph_ends_.size() || b < line_breaks_.size()) {
    bool paragraph = b == line_breaks_.size() ||
                     (p < paragraph_ends_.size() && paragraph_ends_[p] < line_breaks_[b]);
    std::size_t lt = paragraph ? paragraph_ends_[p] : line_breaks_[b];
    std::size_t k = paragraph ? p++ : paragraph_ends_.size() + b++;
    put(lt, k, paragraph);
  }
}

void DecoyPlan::Placements(std::vector<Insertion>& out) const {
  static const Inserts kNoInserts;
  const Inserts& inserts =
      settings_.also_inserts != nullptr ? *settings_.also_inserts : kNoInserts;
  out.clear();
  out.reserve(decoy_ends_.size() + inserts.size());
  // As Write puts them in: another pass's insertion in front of a decoy at the
  // same position.
  auto next = inserts.begin();
  std::size_t from = decoy_ends_.empty() ? 0 : decoy_ends_.back();
  auto inserts_until = [&](std::size_t end) {
    for (; next != inserts.end() && next->first <= end; ++next) {
      out.push_back({next->first, from, from + next->second.size()});
      from += next->second.size();
    }
  };
  InOrder([&](std::size_t lt, std::size_t k, bool) {
    inserts_until(lt);
    out.push_back({lt, k == 0 ? 0 : decoy_ends_[k - 1], decoy_ends_[k]});
  });
  inserts_until(article_.size());
}

void DecoyPlan::Write(std::string& out) {
  static const Inserts kNoInserts;
  const Inserts& inserts =
      settings_.also_inserts != nullptr ? *settings_.also_inserts : kNoInserts;
  std::string_view article = article_;
  out.clear();
  out.reserve(article.size() + pieces_.size());
  std::size_t pos = 0;
  Inserter insert(article, out, inserts, pos);
  InOrder([&](std::size_t lt, std::size_t k, bool paragraph) {
    std::size_t from = k == 0 ? 0 : decoy_ends_[k - 1];
    insert.Until(lt);
    out.append(article, pos, lt - pos);
    out.append(pieces_, from, decoy_ends_[k] - from);
    out += paragraph ? "</p" : "<br";  // the marker's letters come out in lower case
    pos = lt + 3;
  });
  insert.Until(article.size());
  out.append(article, pos);
}

void ContentPass(std::string_view article, const ContentSettings& settings, std::string& out) {
  DecoyPlan plan(article, settings);
  ScanMarkup(article, RegionSet::kContent, false, plan);
  if (plan.OneScan()) {
    // Both sweeps at once: the markers of the article, taken as the scan meets
    // them, the decoys drawn in the order the two sweeps draw them, then the
    // output written once.
    plan.Draw();
    plan.Write(out);
    return;
  }
  plan.TwoSweeps(out);
}

// One sweep after the other: the paragraph ends' decoys, then a scan of that
// text for its line breaks, and theirs.
void DecoyPlan::TwoSweeps(std::string& out) {
  static const Inserts kNoInserts;
  const Inserts& inserts =
      settings_.also_inserts != nullptr ? *settings_.also_inserts : kNoInserts;
  // A decoy in front of each of these markers, and the insertions (those of the
  // first sweep's text, given for it).
  auto sweep = [&](std::string_view text, const std::vector<std::size_t>& at,
                   std::string_view marker, const Inserts& also) {
    std::string swept;
    swept.reserve(text.size() + text.size() / 4);
    std::size_t pos = 0;
    Inserter insert(text, swept, also, pos);
    for (std::size_t lt : at) {
      insert.Until(lt);
      swept.append(text, pos, lt - pos);
      AppendDecoy(swept);
      swept += marker;  // the marker's letters come out in lower case
      pos = lt + marker.size();
    }
    insert.Until(text.size());
    swept.append(text, pos);
    return swept;
  };
  std::string paragraphs = sweep(article_, paragraph_ends_, "</p", inserts);
  DecoyPlan second(paragraphs, settings_);
  second.also_ = nullptr;  // told of the article's scan only
  ScanMarkup(paragraphs, RegionSet::kContent, false, second);
  out = sweep(paragraphs, second.line_breaks_, "<br", kNoInserts);
}

std::string ContentPass(std::string_view article, const ContentSettings& settings) {
  std::string out;
  ContentPass(article, settings, out);
  return out;
}

}  // namespace vantoro::internal
