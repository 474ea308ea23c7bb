// A Reed-Solomon code over GF(256) of length 255, read as evaluations: a message
// of k bytes is a polynomial of degree < k, and position p of its codeword holds
// the polynomial's value at alpha^p. A mark spread over a text survives when only
// some of its positions are found, and some of those are wrong: any k correct
// points give the message back, and each two extra points mend one wrong point.
#ifndef VANTORO_MARK_REED_SOLOMON_H_
#define VANTORO_MARK_REED_SOLOMON_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vantoro::internal {

// GF(256) with the polynomial x^8+x^4+x^3+x^2+1 (0x11d), generator alpha = 2.
inline constexpr std::size_t kCodeLength = 255;  // codeword positions 0..254

// The field's products, inverses and powers of alpha, from the same tables the
// code uses.
std::uint8_t GfMul(std::uint8_t a, std::uint8_t b);
std::uint8_t GfInverse(std::uint8_t a);        // a != 0; 0 gives 0
std::uint8_t GfAlphaPower(std::size_t exponent);  // alpha^exponent, any exponent

// The codeword of `message` (k = message.size(), 1 <= k <= 254): position p holds
// P(alpha^p), where P(x) = message[0] + message[1] x + ... + message[k-1] x^(k-1).
std::array<std::uint8_t, kCodeLength> RsEncode(std::span<const std::uint8_t> message);

struct RsPoint {
  std::uint8_t position;  // < 255; positions in one call are distinct
  std::uint8_t value;
};

struct RsDecoded {
  std::vector<std::uint8_t> message;  // k coefficients
  std::vector<bool> agrees;           // per input point: its value is the codeword's
  std::size_t agreeing = 0;           // how many agree
};

// The message of degree < k whose codeword agrees with all but e of `points`,
// where 2e <= points.size() - k (Gao's decoding, then a check of every point).
// nullopt when k is outside 1..254, when points.size() < k, when positions repeat
// or are >= 255, or when no codeword is that close. O(m^2) field operations for
// m points.
std::optional<RsDecoded> RsDecode(std::span<const RsPoint> points, std::size_t k);

}  // namespace vantoro::internal

#endif  // VANTORO_MARK_REED_SOLOMON_H_
