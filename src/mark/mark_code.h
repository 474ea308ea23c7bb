// Marks in visible text: a 64-bit id, authenticated with the site's key, spread
// over a page's sentences and notices as invisible variation selectors.
//
// The id and a 4-byte truncated HMAC-SHA-256 of it (12 bytes) are the message
// of a Reed-Solomon code of 255 byte symbols (src/mark/reed_solomon.h); any 12
// symbols give the message back, and more correct errors. Each symbol is carried
// by one selector (U+FE00..FE0F for bytes 0..15, U+E0100..E01EF for 16..255),
// masked by a key stream so that a text marked under another key reads as noise.
// Two kinds of mark, told apart by their length:
// - a sentence mark, seven selectors right behind a sentence's final ".", "!"
//   or "?" (or, in UTF-8 pages, the CJK full stop, exclamation and question
//   marks): they hold the symbols at 7j to 7j+6, where j (0..35) and the masks
//   come from a keyed hash of the three words in front of the mark, so that
//   any two marked sentences of a fragment, in any order, decode without sync
//   marks;
// - a notice mark, sixteen selectors at the end of a decoy's notice: a masked
//   start position, then the fifteen symbols from it on.
// A copy is traced by collecting the symbols of every mark, taking the most
// frequent value at each position, decoding, and checking the tag; a find is
// reported only when the evidence (tag bits plus agreeing surplus symbols, less
// the ways the disagreeing ones could have been chosen) reaches 40 bits, so an
// unmarked or foreign text passes for marked far less often than once in 2^32.
#ifndef VANTORO_MARK_MARK_CODE_H_
#define VANTORO_MARK_MARK_CODE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantoro::internal {

inline constexpr std::size_t kMarkMessageBytes = 12;  // id (8) and tag (4)
inline constexpr std::size_t kSentenceMarkSymbols = 7;
inline constexpr std::size_t kNoticeMarkSymbols = 16;  // start and 15 symbols
inline constexpr std::size_t kContextWords = 3;

// The keys derived from a site key.
struct MarkKey {
  std::array<std::uint8_t, 32> mac;     // the tag's HMAC key
  std::array<std::uint8_t, 16> words;   // SipHash key of the sentence contexts
  std::array<std::uint8_t, 256> masks;  // per position, and the notice start's last
};

// Throws Error (kInvalidArgument) for an empty key.
MarkKey DeriveMarkKey(std::string_view site_key);

// The masked symbols of `id` at every position: what the selectors carry before
// a sentence's own mask.
std::array<std::uint8_t, 255> MarkCodeword(const MarkKey& key, std::uint64_t id);

// The selector that carries byte `symbol`, in UTF-8.
std::string SelectorFor(std::uint8_t symbol);
void AppendSelector(std::string& out, std::uint8_t symbol);

// The context of a mark whose base character (the punctuation) starts at
// `base`: the last three words in front of it, ASCII letters in lower case,
// joined by spaces; `span_start`, when given, receives where the first of them
// starts. Empty when a word may be cut: fewer than three, or the first runs to
// the start of `text`. A word is a run of ASCII letters and digits and of other
// characters that are not punctuation, spaces or selectors; each CJK character
// (U+2E80 on) is a word of its own; soft hyphens and zero-width characters are
// skipped, as copies lose them.
std::string MarkContext(std::string_view text, std::size_t base, std::size_t* span_start);

struct SentenceSlot {
  std::size_t first_position;  // 7j
  std::array<std::uint8_t, kSentenceMarkSymbols> masks;
};
SentenceSlot SentenceSlotFor(const MarkKey& key, std::string_view context);

// The bytes of a sentence mark for `context`, or nothing where `cjk` (a CJK
// full stop as base) and a symbol would be selector 1 or 2, which select
// registered glyph variants of those marks.
std::string SentenceMark(const MarkKey& key, const std::array<std::uint8_t, 255>& codeword,
                         std::string_view context, bool cjk);

// The bytes of a notice mark that starts at `start` (0..254).
std::string NoticeMark(const MarkKey& key, const std::array<std::uint8_t, 255>& codeword,
                       std::size_t start);

// Whether `c` ends a sentence where a mark may follow: ".", "!", "?", and (in
// UTF-8) U+3002, U+FF01, U+FF1F. Returns the base's length in bytes, or 0.
std::size_t SentenceEndAt(std::string_view text, std::size_t i, bool utf8);

struct MarkFind {
  std::uint64_t id;
  std::size_t agreeing;  // positions whose symbol the id's codeword has
  std::size_t seen;      // positions with a symbol
};

// Every id marked into `text` under `key` (UTF-8; selectors written as numeric
// character references count too), most evidence first.
std::vector<MarkFind> TraceMarks(const MarkKey& key, std::string_view text);

}  // namespace vantoro::internal

#endif  // VANTORO_MARK_MARK_CODE_H_
