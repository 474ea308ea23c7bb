#include "page/tag_sweep.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "html/declaration.h"
#include "html/tree_builder.h"
#include "page/gap_text.h"
#include "random/draws.h"
#include "text/ascii.h"
#include "text/byte_scanner.h"
#include "text/huge_pages.h"
#include "text/splicer.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// The writer of the rewritten text into a buffer sized for it exactly, with
// kSpare bytes of room behind `end`: copies, skips and puts in, and moves the
// anchors along.
class Writer {
 public:
  Writer(std::string_view in, char* out, char* end, std::vector<std::size_t>* anchors)
      : in_(in), start_(out), out_(out), end_(end), anchors_(anchors) {}

  void CopyTo(std::size_t end) {
    if (end == pos_) return;  // nothing, and no anchor, lies before
    if (anchors_ != nullptr) {
      std::vector<std::size_t>& anchors = *anchors_;
      for (; next_ < anchors.size() && anchors[next_] < end; ++next_) {
        anchors[next_] = static_cast<std::size_t>(out_ - start_) + (anchors[next_] - pos_);
      }
    }
    const std::size_t n = end - pos_;
    assert(out_ + n <= end_);
    // Most copies are short (the "<" of a tag, the bytes up to an attribute):
    // 32 bytes at once where the page has them to read, into the buffer's
    // spare room behind the end (kSpare). A memcpy call costs more, and its
    // branches by size are guessed wrong more often.
    if (n <= 32 && in_.size() - pos_ >= 32) {
      Copy32(out_, in_.data() + pos_);
    } else {
      std::memcpy(out_, in_.data() + pos_, n);
    }
    out_ += n;
    pos_ = end;
  }
  void SkipTo(std::size_t pos) { pos_ = pos; }
  void Skip(std::size_t n) { pos_ += n; }
  // `text` lies in a buffer that holds kSpare more bytes behind it (the rules'
  // texts, which Draw lays out so).
  void Put(std::string_view text) {
    assert(out_ + text.size() <= end_);
    if (text.size() <= 32) {
      Copy32(out_, text.data());
    } else {
      std::memcpy(out_, text.data(), text.size());
    }
    out_ += text.size();
  }
  void Gap(char fill) {
    assert(out_ + 3 <= end_);
    out_[0] = ' ';
    out_[1] = fill;
    out_[2] = ' ';
    out_ += 3;
  }
  std::size_t written() const { return static_cast<std::size_t>(out_ - start_); }

  // Room behind the end of the buffer for the last short copy's overrun.
  static constexpr std::size_t kSpare = 32;

 private:
  static void Copy32(char* to, const char* from) {
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), b);
#else
    std::memcpy(to, from, 32);
#endif
  }

  std::string_view in_;
  char* start_;  // where the text begins
  char* out_;
  [[maybe_unused]] char* end_;  // of the buffer, which the writes fill exactly (checked in debug builds)
  std::vector<std::size_t>* anchors_;
  std::size_t pos_ = 0, next_ = 0;
};

// Room for one more record. A page denser in tags than the records were
// reserved for doubles them as push_back would, but in memory advised for huge
// pages like the first reservation: on a page of tens of megabytes, faulting in
// the grown records 4 KB at a time costs more than copying them.
template <class T>
[[gnu::noinline]] void Grow(std::vector<T>& records) {
  std::vector<T> more;
  more.reserve(std::max<std::size_t>(2 * records.capacity(), 64));
  AdviseHugePages(more.data(), more.capacity() * sizeof(T));
  more.assign(records.begin(), records.end());
  records.swap(more);
}
template <class T>
inline void RoomForOneMore(std::vector<T>& records) {
  if (records.size() == records.capacity()) [[unlikely]] Grow(records);
}

// Tells the sweep of the scan's reports.
struct Reader final : MarkupVisitor {
  explicit Reader(TagSweep& sweep) : sweep_(sweep) {}
  void Visit(std::size_t lt, const TreeBuilder&, const ScannedTag& tag) override {
    sweep_.Visit(lt, tag);
  }
  TagSweep& sweep_;
};

}  // namespace

bool TagSweep::Applies(std::string_view text, std::span<const TagRule> rules,
                       std::span<const std::string_view> common_attributes,
                       const TagDraws& draws) {
  if (!draws.fresh_gaps || HasNul(text) || text.size() > std::numeric_limits<std::uint32_t>::max() ||
      rules.size() > std::numeric_limits<std::uint8_t>::max()) {
    return false;
  }
  std::array<std::size_t, 256> first_bytes{};
  for (std::size_t r = 0; r < rules.size(); ++r) {
    const TagRule& rule = rules[r];
    if (rule.name.empty() ||
        ++first_bytes[static_cast<unsigned char>(AsciiLower(rule.name[0]))] > kSameFirstByte ||
        Unsettling(rule, common_attributes) ||
        common_attributes.size() + rule.attributes.size() > 64) {
      return false;
    }
    for (std::size_t s = 0; s < r; ++s) {
      if (EqualsIgnoringCase(rules[s].name, rule.name)) return false;
    }
  }
  return true;
}

void TagSweep::Plan(std::string_view text, std::span<const TagRule> rules,
                    std::span<const std::string_view> common_attributes, const TagDraws& draws,
                    std::vector<std::size_t>& probes) {
  Begin(text, rules, common_attributes, probes);
  Reader visitor(*this);
  ScanMarkup(text, RegionSet::kPage, false, visitor);
  Draw(common_attributes, draws);
}

void TagSweep::Begin(std::string_view text, std::span<const TagRule> rules,
                     std::span<const std::string_view> common_attributes,
                     std::vector<std::size_t>& probes) {
  text_ = text;
  reached_ = false;
  rules_ = rules;
  probes_ = &probes;
  probes.clear();
  texts_.clear();
  tags_.clear();
  spaces_.clear();
  fills_.clear();
  first_fill_.clear();
  // An empty page, or no attributes, leaves every rule without a draw; the
  // declarations still count.
  rewriting_ = !text.empty() && !common_attributes.empty();

  states_.resize(rules.size());
  rule_by_id_.clear();
  for (auto& same : by_first_) same.count = 0;
  for (std::size_t r = 0; r < rules.size(); ++r) {
    RuleState& state = states_[r];
    state.attributes.assign(common_attributes.begin(), common_attributes.end());
    state.attributes.insert(state.attributes.end(), rules[r].attributes.begin(),
                            rules[r].attributes.end());
    state.name.resize(state.attributes.size());
    for (std::size_t k = 0; k < state.attributes.size(); ++k) {
      std::size_t first = 0;
      while (!EqualsIgnoringCase(state.attributes[first], state.attributes[k])) ++first;
      state.name[k] = static_cast<std::uint8_t>(first);
    }
    state.resume.assign(state.attributes.size(), 0);
    state.by_first.fill(0);
    for (std::size_t k = 0; k < state.attributes.size(); ++k) {
      if (state.name[k] != k) continue;  // names repeated: their first stands for them
      char first = state.attributes[k].empty() ? '=' : AsciiLower(state.attributes[k][0]);
      state.by_first[static_cast<unsigned char>(first)] |= std::uint64_t{1} << k;
    }
    state.lead_index = rules[r].lead_comment ? state.attributes.size() - 1 : state.attributes.size();
    state.gap_runs = 0;
    // A name the scan knows is found by its id; the others by their first byte.
    if (const std::uint16_t id = TreeBuilder::Lookup(rules[r].name); id != 0) {
      if (rule_by_id_.size() <= id) rule_by_id_.resize(id + 1u, kNoRule);
      rule_by_id_[id] = static_cast<std::uint8_t>(r);
    } else {
      FirstByte& same = by_first_[static_cast<unsigned char>(AsciiLower(rules[r].name[0]))];
      same.rules[same.count++] = static_cast<std::uint8_t>(r);
    }
  }

  // Real pages hold a rule's tag every hundred bytes or so; denser ones grow.
  std::size_t most = text.size() / 64;
  if (tags_.capacity() < most) {
    tags_ = std::vector<Tag>();
    tags_.reserve(most);
    AdviseHugePages(tags_.data(), tags_.capacity() * sizeof(Tag));
  }
}

void TagSweep::Draw(std::span<const std::string_view> common_attributes, const TagDraws& draws) {
  if (!rewriting_) return;
  // The draws, rule after rule: the rule's texts, then one filler per gap run
  // from left to right.
  std::span<const TagRule> rules = rules_;
  for (std::size_t r = 0; r < rules.size(); ++r) {
    texts_.push_back(DrawRuleTexts(rules[r], common_attributes, draws));
    first_fill_.push_back(fills_.size());
    AppendRandomChars(fills_, static_cast<std::int64_t>(states_[r].gap_runs), kGapFiller);
  }
  // What Write puts in, in one buffer with room to read behind its last text.
  std::size_t total = Writer::kSpare;
  for (const RuleTexts& texts : texts_) {
    total += texts.name.output.size() + texts.lead.size() + texts.tail.size();
    for (const RecasedName& attribute : texts.attributes) total += attribute.output.size();
  }
  output_bytes_.clear();
  output_bytes_.reserve(total);  // never grown below: the views stay valid
  outputs_.clear();
  attribute_outputs_.clear();
  auto add = [&](std::string_view text) {
    std::string_view view(output_bytes_.data() + output_bytes_.size(), text.size());
    output_bytes_.append(text);
    return view;
  };
  for (const RuleTexts& texts : texts_) {
    Outputs outputs;
    outputs.name = add(texts.name.output);
    outputs.lead = add(texts.lead);
    outputs.tail = add(texts.tail);
    outputs.first_attribute = attribute_outputs_.size();
    for (const RecasedName& attribute : texts.attributes) {
      attribute_outputs_.push_back(add(attribute.output));
    }
    outputs_.push_back(outputs);
  }
  output_bytes_.append(Writer::kSpare, '\0');
}

// A tag of rule `r`: an opening tag is matched, a closing one recorded.
[[gnu::always_inline]] inline void TagSweep::Take(std::size_t lt, std::uint8_t r, bool close,
                                                  const ScannedTag& scanned, std::size_t skip) {
  if (!close) {
    MatchOpenTag(lt, r, scanned, skip);
  } else if (rules_[r].paired) {
    RoomForOneMore(tags_);
    tags_.push_back({static_cast<std::uint32_t>(lt), 0, r, kClose});
    ++states_[r].gap_runs;
  }
}

// A "<" between tags: a declaration, or a tag of a rule ("<NAME" and a
// name-ending byte, or "</NAME>").
void TagSweep::Visit(std::size_t lt, const ScannedTag& scanned, std::size_t skip) {
  lt -= skip;
  std::string_view text = text_;
  if (lt + 2 >= text.size()) return;
  if (text[lt + 1] == '!') {
    if (OpensDeclaration(text, lt)) probes_->push_back(lt);
    return;
  }
  if (!rewriting_) return;
  const bool close = text[lt + 1] == '/';
  const std::size_t name = lt + 1 + (close ? 1 : 0);
  if (scanned.id != 0) {
    // A name the scan knows is the name of at most one rule, found by its id.
    const std::uint8_t r = scanned.id < rule_by_id_.size() ? rule_by_id_[scanned.id] : kNoRule;
    if (r == kNoRule) return;
    const std::size_t after = name + rules_[r].name.size();
    if (after >= text.size() || (close && text[after] != '>')) return;
    return Take(lt, r, close, scanned, skip);
  }
  // Other names, against the rules without an id that begin alike.
  const FirstByte& same = by_first_[static_cast<unsigned char>(AsciiLower(text[name]))];
  for (std::uint8_t r : std::span(same.rules.data(), same.count)) {
    const std::size_t after = name + rules_[r].name.size();
    // The byte behind the name first: it rules out most names of the same letter.
    if (after >= text.size() || (close ? text[after] != '>' : !EndsTagName(text[after])) ||
        !MatchesAt(text, name, rules_[r].name)) {
      continue;
    }
    return Take(lt, r, close, scanned, skip);
  }
}

// Each attribute of the rule in turn, as the attribute pattern matches it: the
// last " ATTR=" before the tag's first ">" that is outside quoted values and not
// taken by an earlier attribute; a tag that an attribute's previous match runs
// over is left to the other attributes. Then the literal forms "<N>" and "<N ".
void TagSweep::MatchOpenTag(std::size_t lt, std::uint8_t rule, const ScannedTag& scanned,
                            std::size_t skip) {
  std::string_view text = text_;
  RuleState& state = states_[rule];
  std::size_t body = lt + 1 + rules_[rule].name.size();
  std::uint8_t flags = 0;
  std::size_t first_space = spaces_.size();
  std::size_t gt = text[body] == '>' ? npos : FindByte(text, '>', body);
  if (gt != npos) {
    offers_.clear();
    // What the space offers, if a name begins behind it (not inside a value:
    // "r= href=y": "href=y" is r's).
    auto offer_at = [&](std::size_t space, auto&& starts_name) {
      // Only the attributes whose name can begin here (the first of equal names).
      std::uint64_t names = state.by_first[static_cast<unsigned char>(AsciiLower(text[space + 1]))];
      for (; names != 0; names &= names - 1) {
        auto k = static_cast<std::size_t>(std::countr_zero(names));
        std::string_view attribute = state.attributes[k];
        std::size_t equals = space + 1 + attribute.size();
        if (equals >= gt || text[equals] != '=' || !MatchesAt(text, space + 1, attribute)) {
          continue;
        }
        std::size_t value = equals + 1;  // at most gt
        if (!starts_name(space + 1) || text[value] == '\n') break;
        std::size_t end = gt;
        if (value == gt) {  // the tag's own ">" opens the value
          // Whether it matches, and how far, depends on the text behind the
          // tag: also when no ">" follows, as markup put in behind may bring one.
          reached_ = true;
          end = FindByte(text, '>', gt + 1);
          if (end == npos) break;
        }
        offers_.push_back({space, end, static_cast<std::uint8_t>(k), false});
        break;  // one name per space
      }
    };
    if (scanned.all_behind_spaces) {
      // Where the scan's reading stood behind a space between attributes.
      for (std::size_t behind : scanned.behind_spaces) {
        const std::size_t space = behind - skip - 1;
        if (space >= gt) break;
        if (text[space] == ' ') offer_at(space, [](std::size_t) { return true; });
      }
    } else {
      // A tag of very many attributes is read again, as far as needed.
      std::optional<TagReader> reader;
      ByteScanner spaces(text, ' ');
      for (std::size_t space = spaces.Next(body); space < gt; space = spaces.Next(space + 1)) {
        offer_at(space, [&](std::size_t name) {
          // The name holds only letters, digits, "-" and "_", and a name-ending
          // byte follows it: it ends at `body`.
          if (!reader) reader.emplace(text, TagReader::AfterName{body}, false);
          return reader->StartsName(name);
        });
      }
    }
    for (std::size_t k = 0; k < state.attributes.size(); ++k) {
      if (lt < state.resume[k]) continue;
      auto offer = std::find_if(offers_.rbegin(), offers_.rend(), [&](const Offer& o) {
        return o.name == state.name[k] && !o.taken;
      });
      if (offer == offers_.rend()) {
        state.resume[k] = gt;  // any later tag before this ">" offers a subset
        continue;
      }
      offer->taken = true;
      state.resume[k] = offer->end + 1;
      // In the order of the page: a tag offers few attributes.
      Space taken{static_cast<std::uint32_t>(offer->space), static_cast<std::uint8_t>(k),
                  offer->space == body};
      auto at = std::upper_bound(
          spaces_.begin() + static_cast<std::ptrdiff_t>(first_space), spaces_.end(), taken,
          [](const Space& a, const Space& b) { return a.pos < b.pos; });
      if (spaces_.size() == spaces_.capacity()) {
        const auto index = at - spaces_.begin();
        RoomForOneMore(spaces_);
        at = spaces_.begin() + index;
      }
      spaces_.insert(at, taken);
      if (k == state.lead_index) flags |= kLead;
    }
  }
  std::size_t count = spaces_.size() - first_space;
  if (count == 0) {
    if (text[body] == ' ') {
      flags |= kSkipSpace;
    } else if (text[body] != '>') {
      return;  // no match and no literal form: the tag stays as it is
    }
  }
  RoomForOneMore(tags_);
  tags_.push_back({static_cast<std::uint32_t>(lt), static_cast<std::uint16_t>(count), rule, flags});
  state.gap_runs += 1 + count;
  if (count != 0 && spaces_[first_space].joined) --state.gap_runs;
}

bool TagSweep::Insert(std::string_view text, std::string_view pieces,
                      std::span<const Insertion> insertions) {
  if (reached_ || HasNul(pieces) || text.size() > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  // The pieces' records, behind the text's, in positions of the pieces. No
  // match of the text reached past its tag: what the text's tags covered ends
  // in front of every piece.
  for (RuleState& state : states_) std::fill(state.resume.begin(), state.resume.end(), 0);
  const std::size_t text_tags = tags_.size(), text_spaces = spaces_.size();
  std::vector<std::size_t>* probes = probes_;
  piece_probes_.clear();
  probes_ = &piece_probes_;
  text_ = pieces;
  Reader visitor(*this);
  ScanMarkup(pieces, RegionSet::kPage, false, visitor);
  text_ = text;
  probes_ = probes;
  if (reached_ || !piece_probes_.empty()) return false;

  // Every record where it stands in `text`: a byte of the text begun with
  // moves by the pieces put in front of it, a piece's byte to where its piece
  // goes. A tag's spaces lie in front of its ">", so in the same stretch.
  merged_tags_.clear();
  merged_spaces_.clear();
  merged_tags_.reserve(tags_.size());
  merged_spaces_.reserve(spaces_.size());
  auto add = [&](std::size_t t, std::size_t s, std::int64_t move) {
    Tag tag = tags_[t];
    tag.lt = static_cast<std::uint32_t>(static_cast<std::int64_t>(tag.lt) + move);
    merged_tags_.push_back(tag);
    for (std::size_t k = s; k < s + tag.space_count; ++k) {
      Space space = spaces_[k];
      space.pos = static_cast<std::uint32_t>(static_cast<std::int64_t>(space.pos) + move);
      merged_spaces_.push_back(space);
    }
    return s + tag.space_count;
  };
  // The pieces' tags in order of their position in the pieces, and where each
  // one's spaces begin.
  std::span<const Tag> piece_tags(tags_.data() + text_tags, tags_.size() - text_tags);
  std::vector<std::size_t>& first_space = piece_probes_;  // empty: reused
  first_space.resize(piece_tags.size());
  for (std::size_t t = 0, s = text_spaces; t < piece_tags.size(); ++t) {
    first_space[t] = s;
    s += piece_tags[t].space_count;
  }
  std::size_t t = 0, s = 0;
  std::int64_t moved = 0;  // the pieces' bytes put in so far
  for (const Insertion& insertion : insertions) {
    for (; t < text_tags && tags_[t].lt < insertion.at; ++t) s = add(t, s, moved);
    auto first = std::lower_bound(piece_tags.begin(), piece_tags.end(), insertion.from,
                                  [](const Tag& tag, std::size_t pos) { return tag.lt < pos; });
    const std::int64_t move = static_cast<std::int64_t>(insertion.at) + moved -
                              static_cast<std::int64_t>(insertion.from);
    for (auto tag = first; tag != piece_tags.end() && tag->lt < insertion.to; ++tag) {
      const auto p = static_cast<std::size_t>(tag - piece_tags.begin());
      add(text_tags + p, first_space[p], move);
    }
    moved += static_cast<std::int64_t>(insertion.to - insertion.from);
  }
  for (; t < text_tags; ++t) s = add(t, s, moved);
  piece_probes_.clear();
  tags_.swap(merged_tags_);
  spaces_.swap(merged_spaces_);

  // The declarations, all of the text begun with, move alike.
  std::size_t next = 0;
  moved = 0;
  for (std::size_t& probe : *probes_) {
    for (; next < insertions.size() && insertions[next].at <= probe; ++next) {
      moved += static_cast<std::int64_t>(insertions[next].to - insertions[next].from);
    }
    probe = static_cast<std::size_t>(static_cast<std::int64_t>(probe) + moved);
  }
  return true;
}

bool TagSweep::EditsWithin(std::size_t from, std::size_t to) const {
  auto after = std::upper_bound(tags_.begin(), tags_.end(), from,
                                [](std::size_t pos, const Tag& tag) { return pos < tag.lt; });
  return after != tags_.end() && after->lt <= to;
}

void TagSweep::Write(std::string& out, std::string_view front,
                     std::span<const std::pair<std::size_t, std::size_t>> kept,
                     std::vector<std::size_t>* anchors) const {
  std::string_view text = text_;
  // The exact size first: one buffer, never grown. Casing keeps a name's length.
  std::size_t size = front.size();
  for (const auto& range : kept) size += range.second - range.first;
  std::size_t first_space = 0;
  for (const Tag& tag : tags_) {
    const RuleTexts& texts = texts_[tag.rule];
    size += 3;
    if ((tag.flags & kClose) != 0) size += texts.tail.size();
    if ((tag.flags & kLead) != 0) size += texts.lead.size();
    if ((tag.flags & kSkipSpace) != 0) size -= 1;
    for (std::size_t s = first_space; s < first_space + tag.space_count; ++s) {
      if (spaces_[s].joined) {
        size -= 1;  // the space joins the name's gap
      } else {
        size += 2;  // " f " for " "
      }
    }
    first_space += tag.space_count;
  }
  // A buffer written before keeps its bytes: only what it grows by is zeroed
  // first.
  if (out.capacity() < size + Writer::kSpare) {
    out.clear();
    ReserveExactly(out, size + Writer::kSpare);
  }
  out.resize(size + Writer::kSpare);
  if (!front.empty()) std::memcpy(out.data(), front.data(), front.size());
  Writer w(text, out.data() + front.size(), out.data() + size, anchors);
  w.SkipTo(kept.empty() ? text.size() : kept.front().first);
  auto range = kept.begin();
  // Leaves out what lies between kept ranges, up to `pos`.
  auto keep_to = [&](std::size_t pos) {
    for (; range != kept.end() && range->second < pos; ++range) {
      w.CopyTo(range->second);
      if (range + 1 != kept.end()) w.SkipTo((range + 1)->first);
    }
  };
  std::vector<std::size_t> next_fill = first_fill_;  // per rule
  first_space = 0;
  for (const Tag& tag : tags_) {
    keep_to(tag.lt);
    const RuleTexts& texts = texts_[tag.rule];
    const Outputs& outputs = outputs_[tag.rule];
    std::size_t& fill = next_fill[tag.rule];
    std::size_t n = texts.name.pattern.size();
    if ((tag.flags & kClose) != 0) {
      w.CopyTo(tag.lt + 2);
      w.Put(outputs.name);
      w.Skip(n);
      w.Gap(fills_[fill++]);
      w.CopyTo(tag.lt + 3 + n);
      w.Put(outputs.tail);
      continue;
    }
    w.CopyTo(tag.lt);
    if ((tag.flags & kLead) != 0) w.Put(outputs.lead);
    w.CopyTo(tag.lt + 1);
    w.Put(outputs.name);
    w.Skip(n);
    w.Gap(fills_[fill++]);
    if ((tag.flags & kSkipSpace) != 0) w.Skip(1);
    for (std::size_t s = first_space; s < first_space + tag.space_count; ++s) {
      const Space& space = spaces_[s];
      w.CopyTo(space.pos);
      if (!space.joined) w.Gap(fills_[fill++]);
      w.Skip(1);
      w.Put(attribute_outputs_[outputs.first_attribute + space.attribute]);
      w.Skip(texts.attributes[space.attribute].pattern.size());
    }
    first_space += tag.space_count;
  }
  keep_to(text.size() + 1);
  assert(front.size() + w.written() == size);
  out.resize(size);
}

std::size_t TagSweep::RecordBytes() const {
  return (tags_.capacity() + merged_tags_.capacity()) * sizeof(Tag) +
         (spaces_.capacity() + merged_spaces_.capacity()) * sizeof(Space) + fills_.capacity() +
         offers_.capacity() * sizeof(Offer) + piece_probes_.capacity() * sizeof(std::size_t);
}

void TagSweep::Trim(std::size_t bytes) {
  if (RecordBytes() <= bytes) return;
  std::vector<Tag>().swap(tags_);
  std::vector<Space>().swap(spaces_);
  std::string().swap(fills_);
  std::vector<Offer>().swap(offers_);
  std::vector<Tag>().swap(merged_tags_);
  std::vector<Space>().swap(merged_spaces_);
  std::vector<std::size_t>().swap(piece_probes_);
}

}  // namespace vantoro::internal
