// The tag rules of the page pass in one sweep. Rewriting rule after rule copies
// the whole page once per rule and stage; the sweep finds every rule's tags in
// one scan, lets the rules draw in their order and record their edits, and
// writes the page once. With the same draws the bytes are those of RewriteTag
// applied rule after rule.
//
// Why the sweep may look at every tag in the page as it came: a rule edits only
// its own tags (from the "<" to the first ">" byte), puts comments in front of
// them or behind its closing tags, and keeps how the page tokenizes when its
// names hold only letters, digits, "-" and "_". No candidate of another rule
// stands inside those spans, so each rule's matches read the same bytes as they
// would after the rules before it. One read reaches further: a tag whose
// attribute value opens with the tag's own ">" matches up to the next ">", and a
// comment an earlier rule put in front of a tag there ends that match sooner. It
// only decides which of the rule's own later tags the match covers, and none of
// them can stand between that comment and the ">" (they would be inside the
// commented tag). Covered by tests/tag_sweep_test.cpp, which compares the sweep
// with the rules one by one.
#ifndef VANTORO_PAGE_TAG_SWEEP_H_
#define VANTORO_PAGE_TAG_SWEEP_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/insertion.h"
#include "html/protected_regions.h"
#include "page/tag_rewriter.h"
#include "page/tag_rule.h"

namespace vantoro::internal {

class TagSweep {
 public:
  // Whether the sweep can stand in for the rules on `text`: no NUL bytes (the
  // rules work on an escaped copy then), plain names, no two rules of the same
  // name, at most 64 attributes per rule and 7 rules per first letter, fresh
  // gaps.
  static bool Applies(std::string_view text, std::span<const TagRule> rules,
                      std::span<const std::string_view> common_attributes,
                      const TagDraws& draws);

  // Scans `text`, finds and matches the rules' tags as the scan meets them,
  // then draws for every rule in order, as RewriteTag would. Matching needs no
  // draw: only the names are drawn, and case does not change a match. The "<"
  // that may open a declaration go into `probes` (see DeclarationProbes).
  // `text` and the rules must stay alive and unchanged until Write.
  void Plan(std::string_view text, std::span<const TagRule> rules,
            std::span<const std::string_view> common_attributes, const TagDraws& draws,
            std::vector<std::size_t>& probes);

  // Plan in steps, for a caller that scans `text` itself (with another pass)
  // and may put complete markup into it before the draws: Begin, Visit for
  // every "<" the scan reports between tags, then Insert (when markup goes
  // in), then Draw.
  void Begin(std::string_view text, std::span<const TagRule> rules,
             std::span<const std::string_view> common_attributes,
             std::vector<std::size_t>& probes);
  // `lt` and `tag` as the scan reported them (ScanMarkup), on a page that
  // holds `skip` bytes in front of the text.
  void Visit(std::size_t lt, const ScannedTag& tag, std::size_t skip = 0);
  void Draw(std::span<const std::string_view> common_attributes, const TagDraws& draws);

  // Makes the plan that of `text`: the text begun with and the pieces put in
  // as `insertions` say (in order of position; at one position, in the order
  // given), with nothing else changed but the case of letters in tag names.
  // Each piece must be complete markup that reads the same wherever it goes
  // (text, or elements that switch no raw text), put in between tags: in text,
  // or in front of a "<" the scan reported. Only the pieces are scanned; the
  // records of the text begun with move along. False when the plan cannot be
  // carried over: a match that looked past its tag's ">" (a piece may hold
  // the ">" it ends at), NUL bytes or a declaration in the pieces, a text of
  // 4 GB. The caller then plans `text` afresh.
  bool Insert(std::string_view text, std::string_view pieces,
              std::span<const Insertion> insertions);

  // Writes `front` and then the rewritten text's `kept` ranges (sorted, not
  // overlapping, in positions of the text) into `out` (its bytes replaced; its
  // capacity is reused). No edit may lie outside the kept ranges but text put in
  // at the end of one. `anchors`, when given: sorted positions in the text of
  // bytes no edit removes, moved to where they stand in the text written behind
  // `front`; text put in at such a position goes in front of it.
  void Write(std::string& out, std::string_view front,
             std::span<const std::pair<std::size_t, std::size_t>> kept,
             std::vector<std::size_t>* anchors) const;

  // Whether a tag the rules edit starts in (from, to].
  bool EditsWithin(std::size_t from, std::size_t to) const;

  // The memory the records hold, and freeing it when it is more than `bytes`
  // (what a large page left): a thread keeps the records between calls.
  std::size_t RecordBytes() const;
  void Trim(std::size_t bytes);

 private:
  enum Flags : std::uint8_t {
    kClose = 1,      // "</NAME>"
    kLead = 2,       // the rule's lead comment goes in front
    kSkipSpace = 4,  // the space behind the name becomes the name's gap
  };
  // A tag the rules edit: its name is re-cased and a gap follows it. Positions
  // take 32 bits (Applies): on tag-dense pages these records take as much
  // memory as the page.
  struct Tag {
    std::uint32_t lt;
    std::uint16_t space_count;  // its attributes, next in spaces_
    std::uint8_t rule;
    std::uint8_t flags;
  };
  // A matched attribute: the space in front of its name becomes a gap, or joins
  // the name's gap when it follows the name at once.
  struct Space {
    std::uint32_t pos;
    std::uint8_t attribute;
    bool joined;
  };
  // An attribute the tag offers: a space outside quoted values, followed by
  // "NAME=" and a value that can open; the match would run to `end`.
  struct Offer {
    std::size_t space;
    std::size_t end;
    std::uint8_t name;  // the first attribute of the rule with that name
    bool taken;
  };
  struct RuleState {
    std::vector<std::string_view> attributes;  // the common ones, then the rule's own
    std::vector<std::uint8_t> name;            // per attribute: the first of equal name
    std::array<std::uint64_t, 256> by_first;   // per first byte: those firsts that begin so
    std::vector<std::size_t> resume;           // per attribute: tags before it are covered
    std::size_t lead_index;
    std::size_t gap_runs = 0;
  };

  void Take(std::size_t lt, std::uint8_t rule, bool close, const ScannedTag& scanned,
            std::size_t skip);
  void MatchOpenTag(std::size_t lt, std::uint8_t rule, const ScannedTag& scanned, std::size_t skip);

  std::string_view text_;
  std::span<const TagRule> rules_;
  bool rewriting_ = false;
  std::vector<std::size_t>* probes_ = nullptr;
  bool reached_ = false;  // a match looked past its tag's ">"
  // The rules whose name the scan does not know, by its first byte (in lower case).
  static constexpr std::size_t kSameFirstByte = 7;
  struct FirstByte {
    std::uint8_t count;
    std::array<std::uint8_t, kSameFirstByte> rules;
  };
  std::array<FirstByte, 256> by_first_{};
  std::vector<RuleState> states_;
  // Per id of the scan: the rule of that name, or kNoRule.
  static constexpr std::uint8_t kNoRule = 0xFF;
  std::vector<std::uint8_t> rule_by_id_;
  std::vector<RuleTexts> texts_;
  // The texts Write puts in, per rule, as views into output_bytes_.
  struct Outputs {
    std::string_view name, lead, tail;
    std::size_t first_attribute;  // in attribute_outputs_
  };
  std::string output_bytes_;
  std::vector<Outputs> outputs_;
  std::vector<std::string_view> attribute_outputs_;
  std::vector<Tag> tags_;  // in page order
  std::vector<Space> spaces_;
  std::vector<Offer> offers_;           // of the tag at work
  std::string fills_;                   // every rule's gap fillers, rule after rule
  std::vector<std::size_t> first_fill_;  // per rule
  // Insert's work: the pieces' declarations (none expected), the merged records.
  std::vector<std::size_t> piece_probes_;
  std::vector<Tag> merged_tags_;
  std::vector<Space> merged_spaces_;
};

}  // namespace vantoro::internal

#endif  // VANTORO_PAGE_TAG_SWEEP_H_
