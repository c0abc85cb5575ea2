// The facts room: what the input stage read (entries, blocks, jet, grid)
// and the warnings that point at what it may not have meant, as one JSON
// document for `--check=json`, the results bundle and the check's text
// report, with the text helpers they share. It may use the console, the
// model state and the input room (the record of what was read, the tables
// of entries and blocks, the gas table, the number reading).
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// --- What was read ------------------------------------------------------------

// The facts of what the input stage read (entries, blocks, jet, grid,
// warnings) from the record kept while reading, as one JSON object.
nlohmann::json InputDocument();

// `bytes` as a JSON text field `key`: as it stands when it is valid UTF-8;
// otherwise with each invalid byte shown as U+FFFD and the exact bytes in
// hexadecimal beside it, in `key` + "_hex".
void SetText(nlohmann::json& object, const std::string& key, std::string_view bytes);
bool ValidUtf8(std::string_view text);

// A number as the facts and the check's report show it ("%.10g").
std::string Shown(double value);

// `text` without the runs of line ends that scroll the console before and
// after a message.
std::string Trimmed(const std::string& text);
