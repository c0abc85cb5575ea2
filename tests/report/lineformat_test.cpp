// The report's line builder against the C library's printf, byte for byte,
// for every field the report uses.
#include "report/report.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>


using testing_support::Format;

namespace {

TEST(LineBuffer, FixedMatchesPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  // Exact ties at each precision (round half to even), values that carry
  // into a new digit, the extremes and the values that are not numbers.
  // clang-format off
  std::vector<double> values = {0.0, -0.0, 0.25, 0.75, -0.25, 0.015625, 0.0078125, 0.00390625,
      0.0001220703125, 9.99995, 0.99999995, 99.999995, 999999999.95, -0.00000005, 1e15 + 0.5,
      310.04999999999995, 1e-300, 5e-324, 1.7976931348623157e308, -1e25, inf, -inf, std::nan("")};
  // clang-format on
  std::mt19937_64 random(20260712);
  for (int i = 0; i < 20000; ++i) {
    const double mantissa = std::uniform_real_distribution<double>(-1, 1)(random);
    values.push_back(std::ldexp(mantissa, std::uniform_int_distribution<int>(-40, 60)(random)));
  }
  for (const auto& [width, precision] : {std::pair{10, 1}, {9, 7}, {10, 5}, {20, 12}, {0, 6}, {10, 6}}) {
    for (const double value : values) {
      LineBuffer line;
      line.Fixed(value, width, precision);
      ASSERT_EQ(line.str(), Format("%*.*f", width, precision, value)) << width << '.' << precision;
    }
  }
}

TEST(LineBuffer, IntAndStrMatchPrintf) {
  for (const int width : {0, 3, 5, 6, 7, 8}) {
    LineBuffer line, expected;
    for (const int value : {0, 1, -1, 99, 100, -999, 123456, 2147483647, -2147483647 - 1}) {
      line.Int(value, width);
      expected.Text(Format("%*d", width, value));
    }
    for (const char* text : {"", "TST", "12/07/26", "2026-07-12T10:00"}) {
      line.Str(text, width);
      expected.Text(Format("%*s", width, text));
    }
    EXPECT_EQ(line.str(), expected.str()) << width;
  }
}

}  // namespace
