// Pair lists, count comparisons and the input stage's failure reports.
#include <string>

#include "console/console.h"
#include "input/blocks.h"

void DataError(std::string_view text) {
  console::Print("\r\n");
  console::Printf("DATA.DAT Error: %.*s", static_cast<int>(text.size()), text.data());
  console::Print("\r\n");
}

void FileError(const char* file, std::string_view text) {
  std::string message = "\r\n ";
  message += file;
  message += ' ';
  message += text;
  message += "... \r\n";
  console::Printf("GetData() Error: %s", message.c_str());
}

namespace {

void ReportFailure(const char* file, std::string_view text) {
  if (std::string_view(file) == "DATA.DAT") {
    DataError(std::string("DATA.DAT ") + std::string(text) + ".");
  } else {
    FileError(file, text);
  }
}

}  // namespace

bool TakeWord(TextSource& source, int before, std::string_view& value, int after,
              const char* file, std::string_view ended) {
  InputRecord& record = M.Record;
  if (record.on) {
    record.skipped_before.clear();
    record.skipped_after.clear();
    record.taken = WordAt{};
  }
  std::string_view word;
  for (int i = 0; i <= before + after; ++i) {
    const TextSource::Word got = source.Next(word);
    if (got == TextSource::Word::kEnd) {
      ReportFailure(file, std::string("ended before ") + std::string(ended));
      return false;
    }
    if (got == TextSource::Word::kTooLong) {
      ReportFailure(file, "holds a word longer than 79 characters");
      return false;
    }
    if (i == before) value = word;
    if (record.on) {
      if (i < before) {
        record.skipped_before.push_back(source.At(word));
      } else if (i == before) {
        record.taken = source.At(word);
      } else {
        record.skipped_after.push_back(source.At(word));
      }
    }
  }
  return true;
}

namespace {

// A word that reads as a number with a sign in front.
bool Signed(std::string_view word) {
  return word.size() > 1 && (word[0] == '-' || word[0] == '+') && StartsNumber(word.substr(1));
}

// Notes on a list's signed words, which the list rules handle silently.
void NoteSkippedValue(int pair, std::string_view word) {
  M.Record.list_notes.push_back(
      {"signed-pair-value", "pair " + std::to_string(pair) + ": the value word '" + std::string(word) +
                                "' begins with a sign, which DATA.DAT does not take; the pair keeps its earlier value"});
}

void NoteListEnd(int pairs, std::string_view word) {
  M.Record.list_notes.push_back(
      {"signed-pair-value", "the list ended after " + std::to_string(pairs) + " pairs at the signed word '" +
                                std::string(word) + "': a depth or time cannot be signed, and a signed one ends the list"});
}

}  // namespace

ListEnd ReadPairs(TextSource& source, PairTable& table, bool inline_rule,
                  const char* file, int& read) {
  read = 0;
  const bool record = M.Record.on;
  if (record) {
    M.Record.list_words.clear();
    M.Record.list_notes.clear();
    M.Record.list_end = WordAt{};
  }
  std::string_view first;
  std::string_view second;
  for (;;) {
    TextSource::Word got = source.Next(first);
    if (got == TextSource::Word::kEnd) return ListEnd::kEnd;
    if (got == TextSource::Word::kOk && !StartsNumber(first)) {
      if (record) {
        if (Signed(first)) NoteListEnd(read, first);
        M.Record.list_end = source.At(first);
      }
      return ListEnd::kWord;
    }
    if (got == TextSource::Word::kOk) got = source.Next(second);
    if (got == TextSource::Word::kEnd) return ListEnd::kEnd;  // a half pair is dropped
    if (got == TextSource::Word::kTooLong) {
      ReportFailure(file, "holds a word longer than 79 characters");
      return ListEnd::kFailed;
    }
    if (read == kMaxPairs) {
      ReportFailure(file, "holds a list of more than 30000 data pairs");
      return ListEnd::kFailed;
    }
    Pair& pair = table[static_cast<std::size_t>(read) + 1];
    pair.x = ParseReal(first);
    // In DATA.DAT a second word that does not look like a number is consumed
    // and the pair keeps its earlier value; a data file converts it always.
    if (!inline_rule || StartsNumber(second)) pair.y = ParseReal(second);
    ++read;
    if (record) {
      M.Record.list_words.push_back({source.OffsetOf(first), first.size(), source.OffsetOf(second), second.size()});
      if (inline_rule && Signed(second)) NoteSkippedValue(read, second);
    }
  }
}

int CompareCount(const char* format, int read, int count, bool blank_lines) {
  console::Printf(format, "The number of data pairs read", read,
                  "is different from the number of data pairs specified", count);
  console::Printf("%s", "If this is correct press the <Enter> key to continue or <Ctrl>-C to quit");
  // An unattended run goes on with the pairs read: nobody is there to answer.
  if (M.BATCH != 1) console::Wait();
  if (blank_lines) console::Blank(23);
  return read;
}

void RowsOfDataError(const char* format) {
  console::Printf(format, "An external data file call cannot be followed by rows of data.\r\n",
                  "Check DATA.DAT for pairs of data following a 0 code integer.\r\n");
  console::Wait();
  console::Stop(1);
}
