// The GF(256) code of the marks: the field against a slow shift-and-reduce
// product, encoding against direct evaluation, and decoding from partial,
// shuffled and corrupted points, checked by re-encoding what comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "mark/reed_solomon.h"

namespace vantoro::internal {
namespace {

// Carry-less product reduced by 0x11d, one bit at a time: shares nothing with
// the tables under test.
std::uint8_t SlowMul(std::uint8_t a, std::uint8_t b) {
  unsigned x = a;
  unsigned result = 0;
  for (unsigned y = b; y != 0; y >>= 1) {
    if ((y & 1U) != 0) result ^= x;
    x <<= 1;
    if ((x & 0x100U) != 0) x ^= 0x11dU;
  }
  return static_cast<std::uint8_t>(result);
}

std::uint8_t SlowPower(std::uint8_t base, std::size_t exponent) {
  std::uint8_t result = 1;
  for (std::size_t i = 0; i < exponent; ++i) result = SlowMul(result, base);
  return result;
}

std::uint8_t SlowEvaluate(const std::vector<std::uint8_t>& message, std::uint8_t x) {
  std::uint8_t result = 0;
  std::uint8_t power = 1;
  for (const std::uint8_t coefficient : message) {
    result ^= SlowMul(coefficient, power);
    power = SlowMul(power, x);
  }
  return result;
}

std::uint8_t RandomByte(std::mt19937& rng) {
  return static_cast<std::uint8_t>(std::uniform_int_distribution<unsigned>(0, 255)(rng));
}

std::uint8_t RandomNonzeroByte(std::mt19937& rng) {
  return static_cast<std::uint8_t>(std::uniform_int_distribution<unsigned>(1, 255)(rng));
}

std::vector<std::uint8_t> RandomMessage(std::mt19937& rng, std::size_t k) {
  std::vector<std::uint8_t> message(k);
  for (auto& coefficient : message) coefficient = RandomByte(rng);
  return message;
}

// m distinct positions in random order.
std::vector<std::uint8_t> RandomPositions(std::mt19937& rng, std::size_t m) {
  std::vector<std::uint8_t> all(kCodeLength);
  std::iota(all.begin(), all.end(), std::uint8_t{0});
  std::shuffle(all.begin(), all.end(), rng);
  all.resize(m);
  return all;
}

std::vector<RsPoint> PointsOf(const std::array<std::uint8_t, kCodeLength>& codeword,
                              const std::vector<std::uint8_t>& positions) {
  std::vector<RsPoint> points;
  for (const std::uint8_t p : positions) points.push_back({p, codeword[p]});
  return points;
}

// Flips the values of `count` distinct points, chosen at random, to a different
// value; returns which points were flipped.
std::vector<bool> Corrupt(std::mt19937& rng, std::vector<RsPoint>& points, std::size_t count) {
  std::vector<std::size_t> order(points.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<bool> corrupted(points.size(), false);
  for (std::size_t i = 0; i < count; ++i) {
    points[order[i]].value ^= RandomNonzeroByte(rng);
    corrupted[order[i]] = true;
  }
  return corrupted;
}

// Whatever the decoder returns must be a real codeword within the bound, and
// its report of agreement must match the points.
void ExpectConsistentAndWithinBound(const std::vector<RsPoint>& points, std::size_t k,
                                    const RsDecoded& decoded) {
  ASSERT_EQ(decoded.message.size(), k);
  ASSERT_EQ(decoded.agrees.size(), points.size());
  const auto codeword = RsEncode(decoded.message);
  std::size_t agreeing = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const bool agrees = codeword[points[i].position] == points[i].value;
    EXPECT_EQ(decoded.agrees[i], agrees) << "point " << i;
    if (agrees) ++agreeing;
  }
  EXPECT_EQ(decoded.agreeing, agreeing);
  EXPECT_LE(2 * (points.size() - agreeing), points.size() - k);
}

TEST(ReedSolomonField, AlphaHasOrder255) {
  std::set<std::uint8_t> powers;
  for (std::size_t i = 0; i < kCodeLength; ++i) {
    const std::uint8_t power = GfAlphaPower(i);
    EXPECT_EQ(power, SlowPower(2, i)) << "alpha^" << i;
    EXPECT_NE(power, 0);
    if (i > 0) {
      EXPECT_NE(power, 1) << "alpha^" << i;
    }
    powers.insert(power);
  }
  EXPECT_EQ(powers.size(), kCodeLength);
  EXPECT_EQ(SlowPower(2, kCodeLength), 1);
  EXPECT_EQ(GfAlphaPower(kCodeLength), 1);
  EXPECT_EQ(GfAlphaPower(kCodeLength + 7), GfAlphaPower(7));
}

TEST(ReedSolomonField, MultiplyMatchesShiftAndReduceForAllPairs) {
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      const auto x = static_cast<std::uint8_t>(a);
      const auto y = static_cast<std::uint8_t>(b);
      ASSERT_EQ(GfMul(x, y), SlowMul(x, y)) << a << " * " << b;
    }
  }
}

TEST(ReedSolomonField, EveryNonzeroElementHasItsInverse) {
  for (unsigned a = 1; a < 256; ++a) {
    const auto x = static_cast<std::uint8_t>(a);
    const std::uint8_t inverse = GfInverse(x);
    EXPECT_EQ(SlowMul(x, inverse), 1) << a;
    EXPECT_EQ(GfInverse(inverse), x) << a;
  }
  EXPECT_EQ(GfInverse(0), 0);
}

TEST(RsEncode, PositionHoldsTheMessagePolynomialAtAlphaPower) {
  std::mt19937 rng(11);
  for (const std::size_t k : {1U, 2U, 12U, 100U, 254U}) {
    const auto message = RandomMessage(rng, k);
    const auto codeword = RsEncode(message);
    for (std::size_t p = 0; p < kCodeLength; ++p) {
      ASSERT_EQ(codeword[p], SlowEvaluate(message, SlowPower(2, p))) << "k " << k << " p " << p;
    }
  }
}

TEST(RsEncode, ConstantAndLinearMessages) {
  const std::vector<std::uint8_t> constant = {0x5a};
  for (const std::uint8_t value : RsEncode(constant)) EXPECT_EQ(value, 0x5a);
  const std::vector<std::uint8_t> identity = {0, 1};
  const auto codeword = RsEncode(identity);
  for (std::size_t p = 0; p < kCodeLength; ++p) EXPECT_EQ(codeword[p], GfAlphaPower(p));
}

TEST(RsDecode, AnyKPositionsInAnyOrderGiveTheMessage) {
  std::mt19937 rng(12);
  for (const std::size_t k : {1U, 8U, 12U, 254U}) {
    for (int trial = 0; trial < 20; ++trial) {
      const auto message = RandomMessage(rng, k);
      const auto points = PointsOf(RsEncode(message), RandomPositions(rng, k));
      const auto decoded = RsDecode(points, k);
      ASSERT_TRUE(decoded.has_value()) << "k " << k << " trial " << trial;
      EXPECT_EQ(decoded->message, message);
      EXPECT_EQ(decoded->agreeing, k);
      EXPECT_EQ(decoded->agrees, std::vector<bool>(k, true));
    }
  }
}

TEST(RsDecode, AllPositionsOfTheCodeword) {
  std::mt19937 rng(13);
  std::vector<std::uint8_t> every(kCodeLength);
  std::iota(every.begin(), every.end(), std::uint8_t{0});
  for (const std::size_t k : {1U, 12U, 200U}) {
    const auto message = RandomMessage(rng, k);
    const auto decoded = RsDecode(PointsOf(RsEncode(message), every), k);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->message, message);
    EXPECT_EQ(decoded->agreeing, kCodeLength);
  }
}

TEST(RsDecode, KeepsHighZeroCoefficientsAndTheZeroMessage) {
  std::mt19937 rng(14);
  std::vector<std::uint8_t> message = {7, 0, 3, 0, 0, 0, 0, 0};
  auto decoded = RsDecode(PointsOf(RsEncode(message), RandomPositions(rng, 20)), 8);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->message, message);

  const std::vector<std::uint8_t> zero(12, 0);
  auto points = PointsOf(RsEncode(zero), RandomPositions(rng, 30));
  const auto corrupted = Corrupt(rng, points, 9);
  decoded = RsDecode(points, 12);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->message, zero);
  for (std::size_t i = 0; i < points.size(); ++i) EXPECT_EQ(decoded->agrees[i], !corrupted[i]);
}

struct Shape {
  std::size_t k;
  std::size_t m;
};

TEST(RsDecode, CorrectsEveryErrorCountUpToHalfTheRedundancy) {
  std::mt19937 rng(15);
  const std::vector<Shape> shapes = {{1, 1},   {1, 2},    {1, 9},    {8, 8},   {8, 20},
                                     {12, 13}, {12, 30},  {12, 60},  {12, 255}, {100, 255},
                                     {253, 255}, {254, 255}};
  for (const Shape shape : shapes) {
    for (std::size_t e = 0; 2 * e <= shape.m - shape.k; ++e) {
      const auto message = RandomMessage(rng, shape.k);
      auto points = PointsOf(RsEncode(message), RandomPositions(rng, shape.m));
      const auto corrupted = Corrupt(rng, points, e);
      const auto decoded = RsDecode(points, shape.k);
      ASSERT_TRUE(decoded.has_value()) << "k " << shape.k << " m " << shape.m << " e " << e;
      EXPECT_EQ(decoded->message, message) << "k " << shape.k << " m " << shape.m << " e " << e;
      EXPECT_EQ(decoded->agreeing, shape.m - e);
      ASSERT_EQ(decoded->agrees.size(), shape.m);
      for (std::size_t i = 0; i < shape.m; ++i) {
        EXPECT_EQ(decoded->agrees[i], !corrupted[i])
            << "k " << shape.k << " m " << shape.m << " e " << e << " point " << i;
      }
    }
  }
}

TEST(RsDecode, BeyondTheBoundNeverReturnsAFarCodeword) {
  std::mt19937 rng(16);
#ifdef VANTORO_SANITIZED
  constexpr std::size_t kStride = 16;
#else
  constexpr std::size_t kStride = 1;
#endif
  const std::vector<Shape> shapes = {{1, 4}, {8, 20}, {12, 30}, {12, 255}, {100, 255}};
  for (const Shape shape : shapes) {
    for (std::size_t e = (shape.m - shape.k) / 2 + 1; e <= shape.m; e += kStride) {
      for (int trial = 0; trial < 3; ++trial) {
        const auto message = RandomMessage(rng, shape.k);
        auto points = PointsOf(RsEncode(message), RandomPositions(rng, shape.m));
        Corrupt(rng, points, e);
        const auto decoded = RsDecode(points, shape.k);
        if (!decoded) continue;
        ExpectConsistentAndWithinBound(points, shape.k, *decoded);
        // The original is too far now, so anything returned is another codeword.
        EXPECT_NE(decoded->message, message) << "k " << shape.k << " m " << shape.m << " e " << e;
      }
    }
  }
}

TEST(RsDecode, RandomValuesGiveOnlyCloseCodewords) {
  std::mt19937 rng(17);
  int found = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<RsPoint> points;
    for (const std::uint8_t p : RandomPositions(rng, 30)) points.push_back({p, RandomByte(rng)});
    const auto decoded = RsDecode(points, 12);
    if (!decoded) continue;
    ++found;
    ExpectConsistentAndWithinBound(points, 12, *decoded);
  }
  // 30 random values lie within 9 of some codeword with odds far below 1e-6.
  EXPECT_EQ(found, 0);
}

TEST(RsDecode, ExactlyKPointsAlwaysInterpolate) {
  std::mt19937 rng(18);
  for (const std::size_t k : {1U, 5U, 12U, 254U}) {
    std::vector<RsPoint> points;
    for (const std::uint8_t p : RandomPositions(rng, k)) points.push_back({p, RandomByte(rng)});
    const auto decoded = RsDecode(points, k);
    ASSERT_TRUE(decoded.has_value()) << "k " << k;
    ExpectConsistentAndWithinBound(points, k, *decoded);
    EXPECT_EQ(decoded->agreeing, k);
  }
}

TEST(RsDecode, RejectsMalformedInput) {
  std::mt19937 rng(19);
  const auto message = RandomMessage(rng, 12);
  const auto codeword = RsEncode(message);
  auto points = PointsOf(codeword, RandomPositions(rng, 20));
  ASSERT_TRUE(RsDecode(points, 12).has_value());

  // Fewer points than coefficients.
  const std::vector<RsPoint> few(points.begin(), points.begin() + 11);
  EXPECT_FALSE(RsDecode(few, 12).has_value());
  EXPECT_FALSE(RsDecode(std::span<const RsPoint>(), 1).has_value());

  // A repeated position, with the same value or another.
  auto repeated = points;
  repeated.push_back(points[3]);
  EXPECT_FALSE(RsDecode(repeated, 12).has_value());
  repeated.back().value ^= 1;
  EXPECT_FALSE(RsDecode(repeated, 12).has_value());

  // Position 255 is outside the code.
  auto outside = points;
  outside.push_back({255, 0});
  EXPECT_FALSE(RsDecode(outside, 12).has_value());

  // k outside 1..254.
  EXPECT_FALSE(RsDecode(points, 0).has_value());
  std::vector<std::uint8_t> every(kCodeLength);
  std::iota(every.begin(), every.end(), std::uint8_t{0});
  EXPECT_FALSE(RsDecode(PointsOf(codeword, every), 255).has_value());
}

}  // namespace
}  // namespace vantoro::internal
