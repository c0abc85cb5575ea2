// Internal to the input room: the readers shared by every input file, the
// "#" comment header and the stream of white-space-separated words (the
// lenient number conversions are in input.h, for the rooms above too).
#pragma once

#include <string>
#include <string_view>

#include "input/input.h"
#include "model/model.h"

// One input file, read whole into memory once and then taken apart from
// there: a file is opened, read in one go and closed at once.
class TextSource {
 public:
  // Reads the file `path` (binary, so CR of CR LF is plain white space).
  // False when it cannot be opened or read.
  bool Load(const std::string& path);
  void Assign(std::string_view contents);  // in-memory input

  // One line as a C stream reads it into an 80-character buffer: at most 79
  // characters, through the line feed if it comes first. False at the end.
  bool ReadLine(std::string_view& line);

  // Where a word returned by Next stands in the file, for the record of
  // what was read.
  WordAt At(std::string_view word) const;
  std::size_t OffsetOf(std::string_view word) const {
    return static_cast<std::size_t>(word.data() - text_.data());
  }

  std::string name;  // the file's name in the record ("DATA.DAT")

  enum class Word { kOk, kEnd, kTooLong };
  // The next run of non-white-space characters. kTooLong for a word over
  // 79 characters (it is consumed).
  Word Next(std::string_view& word);

 private:
  std::string text_;
  std::size_t pos_ = 0;
  // Where At last counted lines to: words are asked for in file order, so
  // each is counted from the one before.
  mutable std::size_t counted_to_ = 0;
  mutable int counted_lines_ = 1;
};

// Skips the lines beginning with '#' and the one line after them (title).
// False when the file ends before that title line.
bool SkipHeader(TextSource& source);

