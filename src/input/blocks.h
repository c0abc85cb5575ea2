// Internal to the input stage: the reading of pair lists and the wording
// that each distribution block prints.
#pragma once

#include <string_view>

#include "input/reader.h"
#include "model/model.h"

// The reporting of an input failure that makes GetData return 0.
void DataError(std::string_view text);                  // "DATA.DAT Error: %s"
void FileError(const char* file, std::string_view text);  // "GetData() Error: %s"

// Outcome of reading one list of pairs.
enum class ListEnd { kWord, kEnd, kFailed };

// Pairs from pair 1 up until a word that begins with neither a digit nor a
// full stop (consumed) or the end of the input. `inline_rule`: DATA.DAT's
// rule, where the second word is taken only when it looks like a number;
// otherwise the data files' rule, where it is always converted. On kFailed
// the failure has been reported. `file` names the input in messages.
ListEnd ReadPairs(TextSource& source, PairTable& table, bool inline_rule,
                  const char* file, int& read);

// The count comparison with its prompt and wait; returns the count to use.
int CompareCount(const char* format, int read, int count, bool blank_lines);

// The rows-of-data error after an external data file call: wait, status 1.
[[noreturn]] void RowsOfDataError(const char* format);

// Reads LEFTIMP.DAT for the left boundary block (count -1), then the marker
// that must follow in `data`. Returns false after a failure it has reported;
// otherwise `count` is the boundary list's.
bool ReadLeftImp(TextSource& data, int& count);

// Skips `before` words, takes the next as `value`, skips `after` more.
// At the end of the input or at an over-long word it reports the failure
// for `file` (`ended` says what was being read) and returns false.
bool TakeWord(TextSource& source, int before, std::string_view& value, int after,
              const char* file, std::string_view ended);
