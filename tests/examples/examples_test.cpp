// Every directory under examples/ is a complete trial with its answer in
// expected/: the report OUTPUT.TXT, the console transcript and the exit
// status. Each runs afresh in a temporary copy and must match byte for byte;
// the typical airbag run's output is the signature every change reproduces.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/support.h"

namespace fs = std::filesystem;
using testing_support::RunOn;
using testing_support::Slurp;
using testing_support::TempDir;

namespace {

std::vector<std::string> Examples() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(SKINBURN_SOURCE_DIR) / "examples")) {
    if (fs::exists(entry.path() / "expected")) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, ReproducesItsGoldenOutput) {
  const fs::path source = fs::path(SKINBURN_SOURCE_DIR) / "examples" / GetParam();
  TempDir dir;
  for (const auto& entry : fs::directory_iterator(source)) {
    if (entry.is_regular_file() && entry.path().filename() != "OUTPUT.TXT") {
      dir.Write(entry.path().filename().string(), Slurp(entry.path().string()));
    }
  }
  const auto result = RunOn(dir);
  const fs::path expected = source / "expected";
  // The transcript is compared after the data directory's own name, which
  // differs from run to run, is taken out.
  std::string out = result.out;
  for (std::size_t at; (at = out.find(dir.path())) != std::string::npos;) out.replace(at, dir.path().size(), "<dir>/");
  EXPECT_EQ(std::to_string(result.status) + "\n", Slurp((expected / "status").string()));
  EXPECT_EQ(result.err, Slurp((expected / "stderr.txt").string()));
  EXPECT_EQ(out, Slurp((expected / "stdout.txt").string()));
  EXPECT_EQ(dir.Read("OUTPUT.TXT"), Slurp((expected / "OUTPUT.TXT").string()));
}

INSTANTIATE_TEST_SUITE_P(Examples, Example, ::testing::ValuesIn(Examples()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
