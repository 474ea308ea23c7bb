#include "mark/mark_code.h"

#include <sodium.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

#include "mark/reed_solomon.h"
#include "text/utf8.h"
#include "vantoro/error.h"

namespace vantoro::internal {
namespace {

constexpr std::size_t kIdBytes = 8;
constexpr std::size_t kTagBytes = kMarkMessageBytes - kIdBytes;
constexpr std::size_t kSlots = kCodeLength / kSentenceMarkSymbols;  // 36
constexpr double kEvidenceBits = 40;
constexpr std::size_t kMaxFinds = 8;

void InitSodium() {
  static const int ready = sodium_init();
  if (ready < 0) throw std::runtime_error("the crypto library did not start");
}

bool IsSelector(long cp) { return (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xE0100 && cp <= 0xE01EF); }

int SymbolOf(long cp) {
  if (cp >= 0xFE00 && cp <= 0xFE0F) return static_cast<int>(cp - 0xFE00);
  if (cp >= 0xE0100 && cp <= 0xE01EF) return static_cast<int>(cp - 0xE0100 + 16);
  return -1;
}

// Characters copies drop or keep at will: soft hyphen, zero-width ones, BOM.
bool Skipped(long cp) {
  return cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2060 && cp <= 0x2064) ||
         cp == 0xFEFF;
}

bool IsAsciiWord(long cp) {
  return (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
}

// Punctuation, symbols and spaces outside ASCII that separate words.
bool SeparatorAbove127(long cp) {
  return (cp >= 0x80 && cp <= 0xBF) || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x2BFF) ||
         (cp >= 0x2E00 && cp <= 0x2E7F) || (cp >= 0x3000 && cp <= 0x303F) ||
         (cp >= 0xFE10 && cp <= 0xFE6F) || (cp >= 0xFF00 && cp <= 0xFF0F) ||
         (cp >= 0xFF1A && cp <= 0xFF20) || (cp >= 0xFF3B && cp <= 0xFF40) ||
         (cp >= 0xFF5B && cp <= 0xFF65) || IsSelector(cp) || cp >= 0x1F000;
}

enum class CharClass { kWord, kLoneWord, kSeparator, kSkipped };

CharClass Classify(long cp) {
  if (cp < 0) return CharClass::kSeparator;  // not UTF-8
  if (cp < 0x80) return IsAsciiWord(cp) ? CharClass::kWord : CharClass::kSeparator;
  if (Skipped(cp)) return CharClass::kSkipped;
  if (SeparatorAbove127(cp)) return CharClass::kSeparator;
  return cp >= 0x2E80 ? CharClass::kLoneWord : CharClass::kWord;
}

// The character that ends right before `end` (> 0).
DecodedChar CharBefore(std::string_view text, std::size_t end, std::size_t* start) {
  for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
    const auto byte = static_cast<unsigned char>(text[end - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    DecodedChar c = DecodeCharAt(text, end - back);
    if (c.length == back) {
      *start = end - back;
      return c;
    }
    break;
  }
  *start = end - 1;
  return {1, -1};
}

std::uint64_t SipHash(const std::array<std::uint8_t, 16>& key, std::string_view data) {
  unsigned char out[crypto_shorthash_BYTES];
  crypto_shorthash(out, reinterpret_cast<const unsigned char*>(data.data()), data.size(), key.data());
  std::uint64_t h = 0;
  for (unsigned char b : out) h = (h << 8) | b;
  return h;
}

std::array<std::uint8_t, kMarkMessageBytes> Message(const MarkKey& key, std::uint64_t id) {
  std::array<std::uint8_t, kMarkMessageBytes> message{};
  for (std::size_t i = 0; i < kIdBytes; ++i) {
    message[i] = static_cast<std::uint8_t>(id >> (8 * (kIdBytes - 1 - i)));
  }
  unsigned char mac[crypto_auth_hmacsha256_BYTES];
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, key.mac.data(), key.mac.size());
  crypto_auth_hmacsha256_update(&state, message.data(), kIdBytes);
  crypto_auth_hmacsha256_final(&state, mac);
  std::copy_n(mac, kTagBytes, message.begin() + kIdBytes);
  return message;
}

// log2 of n choose r.
double Log2Choose(std::size_t n, std::size_t r) {
  return (std::lgamma(static_cast<double>(n) + 1) - std::lgamma(static_cast<double>(r) + 1) -
          std::lgamma(static_cast<double>(n - r) + 1)) /
         std::log(2.0);
}

// `text` with the numeric character references of selectors ("&#917760;",
// "&#xFE00;", as pages in sets without them carry them) as UTF-8.
std::string WithSelectorReferencesDecoded(std::string_view text) {
  if (text.find("&#") == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "&#") == 0) {
      std::size_t j = i + 2;
      const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
      if (hex) ++j;
      long cp = 0;
      std::size_t digits = 0;
      for (; j < text.size() && digits < 8; ++j, ++digits) {
        const char c = text[j];
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        if (hex && c >= 'a' && c <= 'f') v = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') v = c - 'A' + 10;
        if (v < 0) break;
        cp = cp * (hex ? 16 : 10) + v;
      }
      if (digits > 0 && j < text.size() && text[j] == ';' && IsSelector(cp)) {
        out += SelectorFor(static_cast<std::uint8_t>(SymbolOf(cp)));
        i = j + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

MarkKey DeriveMarkKey(std::string_view site_key) {
  if (site_key.empty()) throw Error(ErrorCode::kInvalidArgument, "marks need a site key");
  InitSodium();
  unsigned char master[crypto_kdf_KEYBYTES];
  crypto_generichash(master, sizeof master, reinterpret_cast<const unsigned char*>(site_key.data()),
                     site_key.size(), nullptr, 0);
  MarkKey key{};
  static constexpr char kContext[crypto_kdf_CONTEXTBYTES] = {'v', 'a', 'n', 't', 'm', 'a', 'r', 'k'};
  crypto_kdf_derive_from_key(key.mac.data(), key.mac.size(), 1, kContext, master);
  crypto_kdf_derive_from_key(key.words.data(), key.words.size(), 2, kContext, master);
  unsigned char stream_key[crypto_stream_chacha20_KEYBYTES];
  crypto_kdf_derive_from_key(stream_key, sizeof stream_key, 3, kContext, master);
  const unsigned char nonce[crypto_stream_chacha20_NONCEBYTES] = {};
  crypto_stream_chacha20(key.masks.data(), key.masks.size(), nonce, stream_key);
  sodium_memzero(master, sizeof master);
  sodium_memzero(stream_key, sizeof stream_key);
  return key;
}

std::array<std::uint8_t, 255> MarkCodeword(const MarkKey& key, std::uint64_t id) {
  const auto message = Message(key, id);
  std::array<std::uint8_t, kCodeLength> codeword = RsEncode(message);
  for (std::size_t p = 0; p < kCodeLength; ++p) codeword[p] ^= key.masks[p];
  return codeword;
}

void AppendSelector(std::string& out, std::uint8_t symbol) {
  if (symbol < 16) {
    // U+FE00 + symbol: EF B8 80..8F
    out += '\xEF';
    out += '\xB8';
    out += static_cast<char>(0x80 + symbol);
    return;
  }
  const unsigned cp = 0xE0100u + symbol - 16u;
  out += static_cast<char>(0xF0 | (cp >> 18));
  out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (cp & 0x3F));
}

std::string SelectorFor(std::uint8_t symbol) {
  if (symbol < 16) {
    // U+FE00 + symbol: EF B8 80..8F
    return {'\xEF', '\xB8', static_cast<char>(0x80 + symbol)};
  }
  const unsigned cp = 0xE0100u + symbol - 16u;
  return {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
          static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
}

std::string MarkContext(std::string_view text, std::size_t base, std::size_t* span_start) {
  // Read backwards into one buffer, each character's bytes reversed, then
  // turned around once: no allocation per word or character.
  std::string reversed;
  reversed.reserve(48);
  std::size_t words = 0, end = base;
  bool in_word = false;
  auto add = [&](std::string_view ch) {
    for (std::size_t k = ch.size(); k-- > 0;) {
      const char b = ch[k];
      reversed += b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : b;
    }
  };
  auto finish = [&](std::size_t first_start) {
    if (span_start != nullptr) *span_start = first_start;
    std::reverse(reversed.begin(), reversed.end());
    return std::move(reversed);
  };
  while (end > 0) {
    std::size_t start = 0;
    const DecodedChar c = CharBefore(text, end, &start);
    const CharClass kind = Classify(c.code_point);
    if (kind == CharClass::kWord) {
      add(text.substr(start, c.length));
      in_word = true;
    } else if (kind != CharClass::kSkipped) {
      // A separator or a character that is a word by itself ends the word in
      // front of it: that word is whole.
      if (in_word) {
        in_word = false;
        if (++words == kContextWords) return finish(end);
        reversed += ' ';
      }
      if (kind == CharClass::kLoneWord) {
        add(text.substr(start, c.length));
        if (++words == kContextWords) return finish(start);
        reversed += ' ';
      }
    }
    end = start;
  }
  return {};  // the text starts inside the words: a copy may have cut them
}

SentenceSlot SentenceSlotFor(const MarkKey& key, std::string_view context) {
  const std::uint64_t h = SipHash(key.words, context);
  SentenceSlot slot{};
  slot.first_position = static_cast<std::size_t>((h >> 56) % kSlots) * kSentenceMarkSymbols;
  for (std::size_t r = 0; r < kSentenceMarkSymbols; ++r) {
    slot.masks[r] = static_cast<std::uint8_t>(h >> (8 * r));
  }
  return slot;
}

std::string SentenceMark(const MarkKey& key, const std::array<std::uint8_t, 255>& codeword,
                         std::string_view context, bool cjk) {
  const SentenceSlot slot = SentenceSlotFor(key, context);
  std::string mark;
  mark.reserve(4 * kSentenceMarkSymbols);
  for (std::size_t r = 0; r < kSentenceMarkSymbols; ++r) {
    const auto symbol = static_cast<std::uint8_t>(codeword[slot.first_position + r] ^ slot.masks[r]);
    if (cjk && symbol < 2) return {};
    AppendSelector(mark, symbol);
  }
  return mark;
}

std::string NoticeMark(const MarkKey& key, const std::array<std::uint8_t, 255>& codeword,
                       std::size_t start) {
  std::string mark;
  mark.reserve(4 * kNoticeMarkSymbols);
  AppendSelector(mark, static_cast<std::uint8_t>(start ^ key.masks[255]));
  for (std::size_t r = 0; r + 1 < kNoticeMarkSymbols; ++r) {
    AppendSelector(mark, codeword[(start + r) % kCodeLength]);
  }
  return mark;
}

std::size_t SentenceEndAt(std::string_view text, std::size_t i, bool utf8) {
  const char c = text[i];
  if (c == '.' || c == '!' || c == '?') return 1;
  if (!utf8 || i + 3 > text.size()) return 0;
  const std::string_view three = text.substr(i, 3);
  if (three == "\xE3\x80\x82" || three == "\xEF\xBC\x81" || three == "\xEF\xBC\x9F") return 3;
  return 0;
}

std::vector<MarkFind> TraceMarks(const MarkKey& key, std::string_view given) {
  const std::string text = WithSelectorReferencesDecoded(given);
  // Every observed (position, unmasked symbol).
  std::vector<std::pair<std::uint8_t, std::uint8_t>> seen;
  for (std::size_t i = 0; i < text.size();) {
    DecodedChar c = DecodeCharAt(text, i);
    if (!IsSelector(c.code_point)) {
      i += c.length;
      continue;
    }
    // A run of selectors.
    const std::size_t run_start = i;
    std::vector<std::uint8_t> symbols;
    while (i < text.size()) {
      DecodedChar d = DecodeCharAt(text, i);
      if (!IsSelector(d.code_point)) break;
      symbols.push_back(static_cast<std::uint8_t>(SymbolOf(d.code_point)));
      i += d.length;
    }
    if (symbols.size() == kSentenceMarkSymbols) {
      std::size_t base = 0;
      CharBefore(text, run_start, &base);
      if (run_start == 0 || SentenceEndAt(text, base, true) == 0) continue;
      const std::string context = MarkContext(text, base, nullptr);
      if (context.empty()) continue;
      const SentenceSlot slot = SentenceSlotFor(key, context);
      for (std::size_t r = 0; r < kSentenceMarkSymbols; ++r) {
        const std::size_t p = slot.first_position + r;
        seen.emplace_back(static_cast<std::uint8_t>(p),
                          static_cast<std::uint8_t>(symbols[r] ^ slot.masks[r] ^ key.masks[p]));
      }
    } else if (symbols.size() == kNoticeMarkSymbols) {
      const std::size_t start = symbols[0] ^ key.masks[255];
      if (start >= kCodeLength) continue;
      for (std::size_t r = 1; r < kNoticeMarkSymbols; ++r) {
        const std::size_t p = (start + r - 1) % kCodeLength;
        seen.emplace_back(static_cast<std::uint8_t>(p),
                          static_cast<std::uint8_t>(symbols[r] ^ key.masks[p]));
      }
    }
  }

  std::vector<MarkFind> finds;
  while (finds.size() < kMaxFinds && seen.size() >= kMarkMessageBytes) {
    // The most frequent symbol at each position; a tie leaves it out.
    std::array<std::map<std::uint8_t, std::size_t>, kCodeLength> votes;
    for (const auto& [p, v] : seen) ++votes[p][v];
    std::vector<RsPoint> points;
    for (std::size_t p = 0; p < kCodeLength; ++p) {
      std::size_t best = 0, second = 0;
      std::uint8_t value = 0;
      for (const auto& [v, n] : votes[p]) {
        if (n > best) {
          second = best;
          best = n;
          value = v;
        } else if (n > second) {
          second = n;
        }
      }
      if (best > second) points.push_back({static_cast<std::uint8_t>(p), value});
    }
    std::optional<RsDecoded> decoded = RsDecode(points, kMarkMessageBytes);
    if (!decoded) break;
    std::uint64_t id = 0;
    for (std::size_t i = 0; i < kIdBytes; ++i) id = (id << 8) | decoded->message[i];
    const auto expected = Message(key, id);
    if (!std::equal(expected.begin(), expected.end(), decoded->message.begin())) break;
    const std::size_t m = points.size(), agreeing = decoded->agreeing;
    const double evidence = 8.0 * static_cast<double>(kTagBytes) +
                            8.0 * static_cast<double>(agreeing - kMarkMessageBytes) -
                            Log2Choose(m, m - agreeing);
    if (evidence < kEvidenceBits) break;
    finds.push_back({id, agreeing, m});
    // The next id, if any, from what this one does not explain.
    std::array<std::uint8_t, kCodeLength> plain = RsEncode(expected);
    std::erase_if(seen, [&](const auto& o) { return plain[o.first] == o.second; });
  }
  return finds;
}

}  // namespace vantoro::internal
