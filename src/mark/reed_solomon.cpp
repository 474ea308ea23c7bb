#include "mark/reed_solomon.h"

#include <bitset>

namespace vantoro::internal {
namespace {

constexpr unsigned kFieldPolynomial = 0x11d;

struct FieldTables {
  // exp is doubled so that log a + log b (at most 508) needs no reduction.
  std::array<std::uint8_t, 2 * kCodeLength + 2> exp{};
  std::array<std::uint8_t, 256> log{};  // log[0] is never read
};

constexpr FieldTables MakeFieldTables() {
  FieldTables tables;
  unsigned x = 1;
  for (std::size_t i = 0; i < kCodeLength; ++i) {
    tables.exp[i] = static_cast<std::uint8_t>(x);
    tables.exp[i + kCodeLength] = static_cast<std::uint8_t>(x);
    tables.log[x] = static_cast<std::uint8_t>(i);
    x <<= 1;
    if ((x & 0x100U) != 0) x ^= kFieldPolynomial;
  }
  return tables;
}

constexpr FieldTables kField = MakeFieldTables();

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
  if (a == 0 || b == 0) return 0;
  return kField.exp[static_cast<std::size_t>(kField.log[a]) + kField.log[b]];
}

constexpr std::uint8_t Inverse(std::uint8_t a) {
  if (a == 0) return 0;
  return kField.exp[kCodeLength - kField.log[a]];
}

constexpr std::uint8_t AlphaPower(std::size_t exponent) {
  return kField.exp[exponent % kCodeLength];
}

// a * alpha^exponent (exponent < 255): the inner loops multiply many values by one
// nonzero factor, so they look its logarithm up once.
constexpr std::uint8_t MulByPower(std::uint8_t a, std::size_t exponent) {
  if (a == 0) return 0;
  return kField.exp[kField.log[a] + exponent];
}

// A polynomial of degree <= 255, low coefficient first, kept on the stack: the
// decoder's polynomials never exceed the degree of the product of (x - x_i).
struct Poly {
  std::array<std::uint8_t, kCodeLength + 1> c{};
  std::size_t size = 0;  // degree + 1; 0 for the zero polynomial

  void Trim() {
    while (size > 0 && c[size - 1] == 0) --size;
  }
};

// The polynomial's value at alpha^exponent (exponent < 255), by Horner's rule.
std::uint8_t EvaluateAtPower(const std::uint8_t* coefficients, std::size_t size,
                             std::size_t exponent) {
  std::uint8_t result = 0;
  for (std::size_t i = size; i-- > 0;) result = MulByPower(result, exponent) ^ coefficients[i];
  return result;
}

// a = q * b + r with deg r < deg b; b must not be zero.
void DivMod(const Poly& a, const Poly& b, Poly& q, Poly& r) {
  r = a;
  q = Poly{};
  if (a.size < b.size) return;
  const std::uint8_t lead_inverse = Inverse(b.c[b.size - 1]);
  const std::size_t shift_count = a.size - b.size + 1;
  for (std::size_t s = shift_count; s-- > 0;) {
    const std::uint8_t factor = Mul(r.c[s + b.size - 1], lead_inverse);
    q.c[s] = factor;
    if (factor == 0) continue;
    const std::size_t log_factor = kField.log[factor];
    for (std::size_t j = 0; j < b.size; ++j) r.c[s + j] ^= MulByPower(b.c[j], log_factor);
  }
  q.size = shift_count;
  q.Trim();
  r.size = b.size - 1;
  r.Trim();
}

// acc += a * b; the caller guarantees the product fits.
void AddProduct(Poly& acc, const Poly& a, const Poly& b) {
  if (a.size == 0 || b.size == 0) return;
  for (std::size_t i = 0; i < a.size; ++i) {
    if (a.c[i] == 0) continue;
    const std::size_t log_a = kField.log[a.c[i]];
    for (std::size_t j = 0; j < b.size; ++j) acc.c[i + j] ^= MulByPower(b.c[j], log_a);
  }
  const std::size_t product_size = a.size + b.size - 1;
  if (product_size > acc.size) acc.size = product_size;
  acc.Trim();
}

}  // namespace

std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) { return Mul(a, b); }
std::uint8_t GfInverse(std::uint8_t a) { return Inverse(a); }
std::uint8_t GfAlphaPower(std::size_t exponent) { return AlphaPower(exponent); }

std::array<std::uint8_t, kCodeLength> RsEncode(std::span<const std::uint8_t> message) {
  std::array<std::uint8_t, kCodeLength> codeword{};
  for (std::size_t p = 0; p < kCodeLength; ++p) {
    codeword[p] = EvaluateAtPower(message.data(), message.size(), p);
  }
  return codeword;
}

// Gao's decoding: g0 = prod (x - x_i), g1 the interpolation of all points; the
// extended Euclidean algorithm on (g0, g1), stopped at the first remainder of
// degree < (m + k) / 2, leaves r = u g0 + v g1 with the message as r / v when the
// points are close enough to a codeword. The result is then checked against every
// point, so nothing farther than the bound is ever returned.
std::optional<RsDecoded> RsDecode(std::span<const RsPoint> points, std::size_t k) {
  const std::size_t m = points.size();
  if (k == 0 || k >= kCodeLength || m < k) return std::nullopt;
  std::bitset<256> seen;
  for (const RsPoint& point : points) {
    if (point.position >= kCodeLength || seen.test(point.position)) return std::nullopt;
    seen.set(point.position);
  }

  // x_i = alpha^position, so a point's position is the logarithm of its x.
  // g0 = prod (x + x_i); in characteristic 2, minus is plus.
  Poly g0;
  g0.c[0] = 1;
  g0.size = 1;
  for (const RsPoint& point : points) {
    for (std::size_t j = g0.size; j > 0; --j) {
      g0.c[j] = g0.c[j - 1] ^ MulByPower(g0.c[j], point.position);
    }
    g0.c[0] = MulByPower(g0.c[0], point.position);
    ++g0.size;
  }

  // Lagrange: g1 = sum y_i h_i / h_i(x_i) with h_i = g0 / (x - x_i).
  Poly g1;
  g1.size = m;
  Poly h;
  h.size = m;
  for (std::size_t i = 0; i < m; ++i) {
    if (points[i].value == 0) continue;
    const std::size_t log_x = points[i].position;
    // Synthetic division; the remainder is zero because x_i is a root of g0.
    h.c[m - 1] = g0.c[m];
    for (std::size_t j = m - 1; j > 0; --j) h.c[j - 1] = g0.c[j] ^ MulByPower(h.c[j], log_x);
    // h_i(x_i) is the product of x_i - x_j over j != i: nonzero, as the x are distinct.
    const std::uint8_t scale =
        Mul(points[i].value, Inverse(EvaluateAtPower(h.c.data(), m, log_x)));
    const std::size_t log_scale = kField.log[scale];
    for (std::size_t j = 0; j < m; ++j) g1.c[j] ^= MulByPower(h.c[j], log_scale);
  }
  g1.Trim();

  // Invariant r = u g0 + v g1; only v is needed. Stop once 2 deg r < m + k.
  Poly r0 = g0;
  Poly r1 = g1;
  Poly v0;
  Poly v1;
  v1.c[0] = 1;
  v1.size = 1;
  Poly quotient;
  Poly remainder;
  while (2 * r1.size >= m + k + 2) {
    DivMod(r0, r1, quotient, remainder);
    Poly v_next = v0;
    AddProduct(v_next, quotient, v1);
    r0 = r1;
    r1 = remainder;
    v0 = v1;
    v1 = v_next;
  }

  Poly message;
  DivMod(r1, v1, message, remainder);
  if (remainder.size != 0 || message.size > k) return std::nullopt;

  RsDecoded decoded;
  decoded.message.assign(message.c.begin(),
                         message.c.begin() + static_cast<std::ptrdiff_t>(k));
  decoded.agrees.resize(m);
  for (std::size_t i = 0; i < m; ++i) {
    const bool agrees =
        EvaluateAtPower(decoded.message.data(), k, points[i].position) == points[i].value;
    decoded.agrees[i] = agrees;
    if (agrees) ++decoded.agreeing;
  }
  const std::size_t errors = m - decoded.agreeing;
  if (2 * errors > m - k) return std::nullopt;
  return decoded;
}

}  // namespace vantoro::internal
