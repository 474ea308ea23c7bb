#include "page/page_pass.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "html/declaration.h"
#include "page/tag_rewriter.h"
#include "page/tag_sweep.h"
#include "random/draws.h"
#include "text/ascii.h"
#include "vantoro/version.h"

namespace vantoro::internal {
namespace {

constexpr std::string_view kVersionText = "v" VANTORO_VERSION_SHORT "正式版";

constexpr std::string_view kWatermarkChars = "~`.,-_/\\|=+()[]{}^";
constexpr std::string_view kProductAddress = "https://vantoro.example";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Every "*" stands for the one watermark character drawn per call.
std::string Watermark(std::string_view version_text, std::string_view mark) {
  std::string joined = "\r\n<!--*本*页*面*已*经*过*Vantoro*防*采*集* ";
  joined += kProductAddress;
  joined += " *处*理*-->\r\n<!--*Vantoro*防*采*集 ";
  joined += version_text;
  joined += "*-->\r\n";
  std::string out;
  out.reserve(joined.size() + 32);
  for (char c : joined) {
    if (c == '*') {
      out += mark;
    } else {
      out += c;
    }
  }
  return out;
}

// The working buffers of the page pass, kept per thread between calls: freeing
// and faulting in page-sized buffers on every call costs more than the pass's
// own scanning. Buffers above the retained limit are released after the call.
struct PassBuffers {
  std::string text;
  TagIndex index;
  TagSweep sweep;
  std::vector<std::size_t> probes;
  std::vector<Insertion> placements;
  bool busy = false;
};

std::atomic<std::size_t> retained_limit{4 << 20};

class BorrowedBuffers {
 public:
  BorrowedBuffers() : buffers_(Cached().busy ? own_ : Cached()) { buffers_.busy = true; }
  ~BorrowedBuffers() {
    buffers_.busy = false;
    const std::size_t keep = RetainedLimit();
    if (buffers_.text.capacity() > keep) std::string().swap(buffers_.text);
    if (buffers_.index.scratch.capacity() > keep) std::string().swap(buffers_.index.scratch);
    if (buffers_.index.markup.unprotected.capacity() > keep / sizeof(std::size_t)) {
      buffers_.index.markup = MarkupIndex();
    }
    buffers_.sweep.Trim(keep);
    if (buffers_.probes.capacity() > keep / sizeof(std::size_t)) {
      std::vector<std::size_t>().swap(buffers_.probes);
    }
    if (buffers_.placements.capacity() > keep / sizeof(Insertion)) {
      std::vector<Insertion>().swap(buffers_.placements);
    }
  }
  BorrowedBuffers(const BorrowedBuffers&) = delete;
  BorrowedBuffers& operator=(const BorrowedBuffers&) = delete;
  PassBuffers* operator->() { return &buffers_; }

 private:
  static PassBuffers& Cached() {
    thread_local PassBuffers cached;
    return cached;
  }
  PassBuffers own_;  // when the cached ones are in use further up this thread
  PassBuffers& buffers_;
};

}  // namespace

std::string_view DefaultVersionText() { return kVersionText; }

bool StartsWithWatermark(std::string_view page) {
  if (page.starts_with(kByteOrderMark)) page.remove_prefix(kByteOrderMark.size());
  auto skip_space = [&] {
    while (!page.empty() && (page[0] == ' ' || page[0] == '\t' || page[0] == '\r' ||
                             page[0] == '\n' || page[0] == '\f')) {
      page.remove_prefix(1);
    }
  };
  auto skip_declaration = [&](std::string_view start) {
    if (!MatchesAt(page, 0, start)) return;
    std::size_t gt = page.find('>');
    if (gt != std::string_view::npos) page.remove_prefix(gt + 1);
  };
  skip_space();
  skip_declaration("<?xml");
  skip_space();
  skip_declaration("<!DOCTYPE");
  skip_space();
  // "<!--" and the mark, then the first comment holds the mark around "Vantoro"
  // and around the address.
  if (!page.starts_with("<!--") || page.size() < 5 ||
      kWatermarkChars.find(page[4]) == std::string_view::npos) {
    return false;
  }
  std::string_view comment = page.substr(0, page.find("-->"));
  const char mark = page[4];
  std::string name = std::string(1, mark) + "Vantoro" + mark;
  std::string address = " " + std::string(kProductAddress) + " " + mark;
  return comment.find(name) != std::string_view::npos &&
         comment.find(address) != std::string_view::npos;
}

namespace {

std::string Watermark(const PageSettings& settings) {
  std::string mark = RandomChars(1, kWatermarkChars);
  std::string watermark = Watermark(settings.version_text, mark);
  return settings.encoder != nullptr ? Encoded(*settings.encoder, watermark) : watermark;
}

// What goes first: a byte order mark only works as the very first bytes.
std::string_view Prefix(bool bom) { return bom ? kByteOrderMark : std::string_view(); }

constexpr TagDraws kDraws{true, std::nullopt, CaseMode::kRandom, kZeroToSixteen};

// The rules one after the other, each over the whole text: for texts the sweep
// does not apply to.
void RulesOneByOne(BorrowedBuffers& buffers, std::string_view prefix, const PageSettings& settings,
                   std::string& out) {
  std::string& text = buffers->text;
  TagIndex& index = buffers->index;  // carried from rule to rule
  index.stale = true;
  for (const TagRule& rule : TagTable()) {
    text = RewriteTag(std::move(text), rule, settings.common_attributes, kDraws, &index);
  }
  if (index.stale || index.has_nul) ScanMarkup(text, RegionSet::kPage, false, index.markup);
  std::string watermark = Watermark(settings);
  // The watermark is two whole comments: no declaration in it, no region left
  // open, so the unprotected tags of the text stay what they are.
  JoinWithDeclarationFirst(prefix, watermark, text, index.markup, out);
}

bool SweepApplies(std::string_view text, const PageSettings& settings) {
  return TagSweep::Applies(text, TagTable(), settings.common_attributes, kDraws);
}

// The rest of the pass over `text` once the sweep is planned: the watermark's
// draw, then one write of the page with what goes in front of it.
void WriteSwept(BorrowedBuffers& buffers, std::string_view text, bool bom,
                const PageSettings& settings, std::string& out) {
  std::string_view prefix = Prefix(bom);
  TagSweep& sweep = buffers->sweep;
  std::vector<std::size_t>& probes = buffers->probes;
  std::string watermark = Watermark(settings);
  // The join is laid out on the page as it came, which holds as long as no rule
  // edits inside a declaration (only malformed pages have tags there:
  // "<!DOCTYPE <a ...>"); else the text is written first and joined after.
  bool plain = std::none_of(probes.begin(), probes.end(), [&](std::size_t lt) {
    return sweep.EditsWithin(lt, FindByte(text, '>', lt + 1));
  });
  if (plain) {
    JoinLayout layout = LayOutJoin(prefix, watermark, text, probes);
    sweep.Write(out, layout.front, layout.kept, nullptr);
    return;
  }
  // Rules may put comments inside a declaration's span: room for a few.
  std::size_t room = prefix.size() + watermark.size() + DeclarationRoom(text, probes) + 4 + 256;
  const std::pair<std::size_t, std::size_t> whole[] = {{0, text.size()}};
  sweep.Write(out, std::string(room, '\0'), whole, &probes);
  if (!JoinWithDeclarationFirstInPlace(prefix, watermark, out, room, probes)) {
    std::string joined;
    JoinWithDeclarationFirst(prefix, watermark, std::string_view(out).substr(room), probes,
                             joined);
    out.swap(joined);
  }
}

// The pass over `text`, the page without its byte order mark, in one sweep (see
// SweepApplies). The page is only read: it needs no copy.
void Swept(BorrowedBuffers& buffers, std::string_view text, bool bom, const PageSettings& settings,
           std::string& out) {
  buffers->sweep.Plan(text, TagTable(), settings.common_attributes, kDraws, buffers->probes);
  WriteSwept(buffers, text, bom, settings, out);
}

}  // namespace

bool PagePassWith(std::string_view page, InsertingPass& insertions, const PageSettings& settings,
                  std::string& out) {
  // The pass works on the page behind its byte order mark; the scan steps over
  // the mark itself, so the other pass reads the same page with it.
  const bool bom = page.starts_with(kByteOrderMark);
  const std::size_t skip = bom ? kByteOrderMark.size() : 0;
  if (!SweepApplies(page.substr(skip), settings)) return false;
  BorrowedBuffers buffers;
  TagSweep& sweep = buffers->sweep;
  sweep.Begin(page.substr(skip), TagTable(), settings.common_attributes, buffers->probes);
  struct Both final : MarkupVisitor {
    Both(InsertingPass& insertions, TagSweep& sweep, std::size_t skip)
        : insertions_(insertions), sweep_(sweep), skip_(skip) {}
    void Visit(std::size_t lt, const TreeBuilder& tree, const ScannedTag& tag) override {
      insertions_.Visit(lt, tree, tag);
      sweep_.Visit(lt, tag, skip_);
    }
    InsertingPass& insertions_;
    TagSweep& sweep_;
    std::size_t skip_;
  } both(insertions, sweep, skip);
  ScanMarkup(page, RegionSet::kPage, false, both);
  // The other pass draws first, as it would running first.
  insertions.Draw();
  std::string& written = buffers->text;
  insertions.Write(written);
  const std::string_view text = std::string_view(written).substr(skip);
  if (!SweepApplies(text, settings)) {
    written.erase(0, skip);
    RulesOneByOne(buffers, Prefix(bom), settings, out);
    return true;
  }
  std::vector<Insertion>& placements = buffers->placements;
  insertions.Placements(placements);
  for (Insertion& placement : placements) placement.at -= skip;
  if (sweep.Insert(text, insertions.pieces(), placements)) {
    sweep.Draw(settings.common_attributes, kDraws);
    WriteSwept(buffers, text, bom, settings, out);
  } else {
    Swept(buffers, text, bom, settings, out);
  }
  return true;
}

void PagePass(std::string_view page, const PageSettings& settings, std::string& out) {
  // A byte order mark only works as the very first bytes: keep it there.
  bool bom = page.starts_with(kByteOrderMark);
  if (bom) page.remove_prefix(kByteOrderMark.size());
  BorrowedBuffers buffers;
  if (SweepApplies(page, settings)) return Swept(buffers, page, bom, settings, out);
  buffers->text.assign(page);
  RulesOneByOne(buffers, Prefix(bom), settings, out);
}

std::string PagePass(std::string_view page, const PageSettings& settings) {
  std::string out;
  PagePass(page, settings, out);
  return out;
}

std::string PagePass(std::string&& page, const PageSettings& settings) {
  bool bom = page.starts_with(kByteOrderMark);
  std::string_view text = page;
  if (bom) text.remove_prefix(kByteOrderMark.size());
  BorrowedBuffers buffers;
  std::string out;
  if (SweepApplies(text, settings)) {
    Swept(buffers, text, bom, settings, out);
    return out;
  }
  if (bom) page.erase(0, kByteOrderMark.size());
  buffers->text = std::move(page);
  RulesOneByOne(buffers, Prefix(bom), settings, out);
  return out;
}

void SetRetainedLimit(std::size_t bytes) { retained_limit.store(bytes, std::memory_order_relaxed); }

std::size_t RetainedLimit() { return retained_limit.load(std::memory_order_relaxed); }

std::size_t PagePassRetainedBytes() {
  BorrowedBuffers buffers;
  const MarkupIndex& markup = buffers->index.markup;
  return buffers->text.capacity() + buffers->index.scratch.capacity() +
         (markup.unprotected.capacity() + markup.in_tag.capacity() + buffers->probes.capacity()) *
             sizeof(std::size_t) +
         buffers->placements.capacity() * sizeof(Insertion) +
         buffers->sweep.RecordBytes();
}

std::string PagePassRuleByRule(std::string_view page, const PageSettings& settings) {
  bool bom = page.starts_with(kByteOrderMark);
  if (bom) page.remove_prefix(kByteOrderMark.size());
  BorrowedBuffers buffers;
  buffers->text.assign(page);
  std::string out;
  RulesOneByOne(buffers, Prefix(bom), settings, out);
  return out;
}

}  // namespace vantoro::internal
