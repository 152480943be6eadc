// The progress window's arithmetic and caption rule, checked natively.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "app/progress_window.h"

namespace {

using qor::OperationCaption;
using qor::ProgressBarPosition;
using qor::ProgressPercent;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

struct PercentCase {
  std::int32_t amount;
  std::int32_t total;
  std::int64_t percent;
};

TEST(ProgressPercent, RoundsToNearestWithHalvesAwayFromZero) {
  const PercentCase cases[] = {
      {0, 0, 0},       {5, 0, 0},          {kMax, 0, 0},       {kMin, 0, 0},  // no total: 0 %
      {2, 3, 67},      {1, 3, 33},         {3, 3, 100},        {0, 3, 0},
      {1, 2, 50},      {1, 200, 1},        {3, 200, 2},        {1, 400, 0},  // 0.5 -> 1, 1.5 -> 2, 0.25 -> 0
      {-1, 200, -1},   {1, -200, -1},      {-1, -200, 1},      {-3, 200, -2},
      {-2, 3, -67},    {2, -3, -67},       {-2, -3, 67},       {-1, 3, -33},
      {7, 3, 233},     {-7, 3, -233},  // beyond the total
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProgressPercent(c.amount, c.total), c.percent) << "amount " << c.amount << ", total " << c.total;
}

TEST(ProgressPercent, ExactAtTheEdgesOfTheInt32Range) {
  const PercentCase cases[] = {
      {kMax, kMax, 100},
      {kMin, kMin, 100},
      {kMin, kMax, -100},              // -100.0000000466
      {kMax, kMin, -100},              // -99.9999999534
      {kMax, 1, 214748364700LL},       // the product alone overflows 32 bits
      {kMin, 1, -214748364800LL},
      {kMin, -1, 214748364800LL},      // INT32_MIN / -1 overflows a 32-bit division
      {kMax, -1, -214748364700LL},
      {1, kMax, 0},
      {1, kMin, 0},
      {kMax / 2, kMax, 50},            // 49.99999998
      {kMax / 2 + 1, kMax, 50},        // 50.00000002
      {268435456, kMin, -13},          // exactly -12.5
      {-268435456, kMin, 13},          // exactly 12.5
      {268435455, kMin, -12},          // just short of the half
      {-268435457, kMin, 13},
      {21474836, kMax, 1},             // 0.99999999
      {10737418, kMax, 0},             // 0.49999998
      {10737419, kMax, 1},             // 0.50000002
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProgressPercent(c.amount, c.total), c.percent) << "amount " << c.amount << ", total " << c.total;
}

// The same rule, written independently with 128-bit integers: round(n / d)
// half away from zero is floor((2|n| + |d|) / 2|d|) with the quotient's sign.
std::int64_t ReferencePercent(std::int32_t amount, std::int32_t total) {
  if (total == 0) return 0;
  __int128 n = static_cast<__int128>(amount) * 100;
  __int128 d = total;
  bool negative = (n < 0) != (d < 0);
  if (n < 0) n = -n;
  if (d < 0) d = -d;
  __int128 q = (2 * n + d) / (2 * d);
  return static_cast<std::int64_t>(negative ? -q : q);
}

TEST(ProgressPercent, AgreesWithAWideReferenceOnRandomPairs) {
  std::mt19937 rng(20010115);
  std::uniform_int_distribution<std::int32_t> any(kMin, kMax);
  std::uniform_int_distribution<std::int32_t> small(-1000, 1000);
  for (int i = 0; i < 200000; ++i) {
    // Mix full-range values with small ones, where halves are common.
    std::int32_t amount = (i & 1) ? any(rng) : small(rng);
    std::int32_t total = (i & 2) ? any(rng) : small(rng);
    ASSERT_EQ(ProgressPercent(amount, total), ReferencePercent(amount, total))
        << "amount " << amount << ", total " << total;
  }
}

TEST(ProgressBarPosition, StaysInsideTheBarsRange) {
  const struct {
    std::int32_t amount, total;
    int position;
  } cases[] = {
      {0, 0, 0}, {2, 3, 67}, {3, 3, 100}, {7, 3, 100}, {-1, 3, 0}, {kMax, 1, 100}, {kMin, 1, 0}, {kMin, -1, 100},
      {kMin, kMax, 0}, {kMax, kMax, 100},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProgressBarPosition(c.amount, c.total), c.position) << "amount " << c.amount << ", total " << c.total;
}

TEST(OperationCaption, AddsAColonUnlessEmptyOrAlreadyThere) {
  EXPECT_EQ(OperationCaption("Kopiowanie"), "Kopiowanie:");
  EXPECT_EQ(OperationCaption("Pobieranie"), "Pobieranie:");
  EXPECT_EQ(OperationCaption("Kompresja:"), "Kompresja:");
  EXPECT_EQ(OperationCaption(""), "");
  EXPECT_EQ(OperationCaption(":"), ":");
  EXPECT_EQ(OperationCaption("a: b"), "a: b:");
}

static_assert(ProgressPercent(2, 3) == 67);
static_assert(ProgressPercent(kMin, -1) == 214748364800LL);

}  // namespace
