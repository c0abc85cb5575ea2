#include <gtest/gtest.h>
#include "support/support.h"
using namespace testing_support;
TEST(Smoke, UniformRunEndsNormally) {
  TempDir dir;
  dir.Write("DATA.DAT", DataDat());
  const RunResult r = RunOn(dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.substr(0, Banner().size()), Banner());
}
