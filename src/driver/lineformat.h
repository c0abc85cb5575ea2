// Report lines built without the C library's printf machinery: the report
// of every node at every step is the largest output the program makes. Each
// append produces the same bytes as the printf conversion it names.
#pragma once

#include <string>
#include <string_view>

class LineBuffer {
 public:
  void Text(std::string_view text) { out_.append(text); }
  void Int(int value, int width);                        // "%<width>d"
  void Fixed(double value, int width, int precision);    // "%<width>.<precision>f"
  void Str(std::string_view text, int width);            // "%<width>s"

  const std::string& str() const { return out_; }
  void clear() { out_.clear(); }
  bool empty() const { return out_.empty(); }

 private:
  void Pad(std::size_t length, int width);
  std::string out_;
};
