// Readers shared by every input file.
#include "input/reader.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "model/model.h"

namespace {

bool IsSpace(char c) {  // the C locale's white space
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool TextSource::Load(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  text_.clear();
  pos_ = 0;
  counted_to_ = 0;
  counted_lines_ = 1;
  // GASPROP.DAT is read anew at every time step: the stream gets no buffer
  // of its own (the chunk is the buffer), and a short read is the end of the
  // file, so that a small file costs one read beyond its open.
  std::setvbuf(file, nullptr, _IONBF, 0);
  char chunk[16384];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    text_.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

void TextSource::Assign(std::string_view contents) {
  text_.assign(contents);
  pos_ = 0;
  counted_to_ = 0;
  counted_lines_ = 1;
}

WordAt TextSource::At(std::string_view word) const {
  WordAt at;
  at.text.assign(word);
  at.file = name;
  at.offset = static_cast<std::size_t>(word.data() - text_.data());
  at.length = word.size();
  if (at.offset < counted_to_) {
    counted_to_ = 0;
    counted_lines_ = 1;
  }
  for (; counted_to_ < at.offset; ++counted_to_) counted_lines_ += text_[counted_to_] == '\n';
  at.line = counted_lines_;
  return at;
}

bool TextSource::ReadLine(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  constexpr std::size_t kLineRead = 79;  // an 80-character buffer with its terminator
  std::size_t end = pos_;
  while (end < text_.size() && end - pos_ < kLineRead) {
    if (text_[end++] == '\n') break;
  }
  line = std::string_view(text_).substr(pos_, end - pos_);
  pos_ = end;
  return true;
}

TextSource::Word TextSource::Next(std::string_view& word) {
  while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  if (pos_ >= text_.size()) return Word::kEnd;
  const std::size_t start = pos_;
  while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
  word = std::string_view(text_).substr(start, pos_ - start);
  return word.size() > static_cast<std::size_t>(kWordMax) ? Word::kTooLong : Word::kOk;
}

bool SkipHeader(TextSource& source) {
  std::string_view line;
  do {
    if (!source.ReadLine(line)) return false;
  } while (line[0] == '#');
  return true;  // `line` is the title: discarded unread
}

std::size_t NumberLength(std::string_view word) {
  std::size_t i = 0;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < word.size() && IsDigit(word[i])) ++i, ++digits;
  if (i < word.size() && word[i] == '.') {
    ++i;
    while (i < word.size() && IsDigit(word[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < word.size() && (word[j] == '+' || word[j] == '-')) ++j;
    if (j < word.size() && IsDigit(word[j])) {
      while (j < word.size() && IsDigit(word[j])) ++j;
      i = j;
    }
  }
  return i;
}

double ParseReal(std::string_view word) {
  const std::size_t i = NumberLength(word);
  if (i == 0) return 0.0;
  // The text is now a plain decimal number. from_chars and strtod both round
  // it correctly, so they agree wherever from_chars takes the whole text
  // (it is several times faster, and GASPROP.DAT is parsed at every step);
  // a leading '+' it does not take, and out of range it leaves the value to
  // strtod (infinity or zero, with the sign).
  const std::string_view text = word.substr(0, i);
  const std::string_view unsigned_text = text[0] == '+' ? text.substr(1) : text;
  double value = 0.0;
  const auto [end, error] =
      std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), value);
  if (error == std::errc() && end == unsigned_text.data() + unsigned_text.size()) return value;
  const std::string number(text);
  return std::strtod(number.c_str(), nullptr);
}

int ParseInt(std::string_view word) {
  std::size_t i = 0;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  while (i < word.size() && IsDigit(word[i])) {
    value = value * 10 + (word[i++] - '0');
    if (value > limit) value = limit;  // saturate; stays small enough to multiply
  }
  return static_cast<int>(negative ? -value : value);
}

bool StartsNumber(std::string_view word) {
  return !word.empty() && (IsDigit(word[0]) || word[0] == '.');
}
