// Fixed-point and integer conversions with printf's field widths. The digits
// are rounded from the exact binary value, ties to even on exact halves, as
// glibc's printf rounds in the default rounding mode: for the report's usual
// values (below 2^53, at most 9 decimals) by integer arithmetic here, and
// otherwise by std::to_chars, which rounds the same way.
#include "report/report.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

void LineBuffer::Pad(std::size_t length, int width) {
  if (length < static_cast<std::size_t>(width)) out_.append(static_cast<std::size_t>(width) - length, ' ');
}

void LineBuffer::Int(int value, int width) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  assert(result.ec == std::errc());  // a finite double always fits
  const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
  Pad(length, width);
  out_.append(digits, length);
}

namespace {

__extension__ using Wide = unsigned __int128;  // a GCC and Clang extension

constexpr std::uint64_t kPowers[] = {1,      10,      100,      1000,      10000,
                                     100000, 1000000, 10000000, 100000000, 1000000000};

// The digits of "%.<precision>f" for the report's usual values, exactly:
// |value| = m 2^e, so |value| 10^precision = m 10^precision 2^e, which is
// shifted down to an integer with the remainder rounded half to even, the
// rounding printf gives the exact binary value. Taken only where that
// integer fits 64 bits and precision <= 9; false otherwise.
bool ShortFixed(double value, int precision, char* out, std::size_t& length) {
  if (precision < 0 || precision > 9) return false;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0x7ff) return false;  // not finite
  const std::uint64_t m = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int e = biased == 0 ? -1074 : biased - 1075;
  if (e > 0) return false;  // 2^53 and beyond: left to the general path
  const Wide scaled = static_cast<Wide>(m) * kPowers[precision];
  const int shift = -e;
  Wide rounded;
  if (shift == 0) {
    rounded = scaled;
  } else if (shift >= 127) {
    rounded = 0;  // below 2^-73 after scaling: far under one half
  } else {
    const Wide one = 1;
    rounded = scaled >> shift;
    const Wide rest = scaled & ((one << shift) - 1);
    const Wide half = one << (shift - 1);
    if (rest > half || (rest == half && (rounded & 1) != 0)) ++rounded;
  }
  if (rounded > static_cast<Wide>(UINT64_MAX)) return false;
  const std::uint64_t digits = static_cast<std::uint64_t>(rounded);
  const std::uint64_t whole = digits / kPowers[precision];
  std::uint64_t part = digits % kPowers[precision];
  char* p = out;
  if (negative) *p++ = '-';
  p = std::to_chars(p, p + 24, whole).ptr;
  if (precision > 0) {
    *p++ = '.';
    for (int i = precision - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + part % 10);
      part /= 10;
    }
    p += precision;
  }
  length = static_cast<std::size_t>(p - out);
  return true;
}

}  // namespace

void LineBuffer::Fixed(double value, int width, int precision) {
  char short_digits[40];
  std::size_t short_length = 0;
  if (ShortFixed(value, precision, short_digits, short_length)) {
    Pad(short_length, width);
    out_.append(short_digits, short_length);
    return;
  }
  if (!std::isfinite(value)) {
    // "inf", "-nan" and the like: rare enough for printf itself.
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%*.*f", width, precision, value);
    out_.append(text, static_cast<std::size_t>(length));
    return;
  }
  // 309 integer digits at most, the point and the decimals.
  char digits[400];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
  const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
  Pad(length, width);
  out_.append(digits, length);
}

void LineBuffer::Str(std::string_view text, int width) {
  Pad(text.size(), width);
  out_.append(text);
}
