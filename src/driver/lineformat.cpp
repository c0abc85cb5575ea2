// Fixed-point and integer conversions with printf's field widths. The digits
// come from std::to_chars, which rounds correctly (ties to even on exact
// halves) exactly as glibc's printf does in the default rounding mode.
#include "driver/lineformat.h"

#include <charconv>
#include <cmath>
#include <cstdio>

void LineBuffer::Pad(std::size_t length, int width) {
  if (length < static_cast<std::size_t>(width)) out_.append(static_cast<std::size_t>(width) - length, ' ');
}

void LineBuffer::Int(int value, int width) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const std::size_t length = static_cast<std::size_t>(result.ptr - digits);
  Pad(length, width);
  out_.append(digits, length);
}

void LineBuffer::Fixed(double value, int width, int precision) {
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
