// Interp: the user's pairs laid onto the nodes or the time records, and the
// reach and order the data must have.
#include <gtest/gtest.h>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "support/support.h"

using namespace testing_support;

namespace {

// The refusal of `subject`'s data: too short (`reach`) or out of order.
std::string Refused(const std::string& subject, bool depth, bool reach) {
  const std::string grid = depth ? "depth" : "time";
  if (reach) {
    return "Datafile Error:  " + subject + " are not specified for the " + (depth ? "entire" : "total") +
           " " + grid +
           " of the model.  Make sure to supply enough data to characterize at least the total " + grid +
           " of the model.";
  }
  return "Datafile Error:  " + subject + " are not given at ascending " + grid + "s starting within one " +
         (depth ? "node spacing" : "time step") + " of zero.  Make sure the data pairs ascend in " + grid +
         " and the first lies at " + grid + " 0.";
}

TEST(Interp, LaysPairsOntoTheGrid) {
  struct Case {
    const char* name;
    PairTable Model::*table;
    int count;  // NODES of a depth table, TIMESTEPS of a time table
    double spacing;
    std::vector<Pair> pairs;
    std::vector<double> values;  // the grid values; none when refused
    std::string out;
  };
  // clang-format off
  const Case cases[] = {
      // A depth table reaches one spacing past the deepest node; equality passes.
      {"I", &Model::InitTempTable, 4, 0.25, {{0, 300}, {1, 310}}, {300, 302.5, 305, 307.5}, ""},
      {"I", &Model::InitTempTable, 5, 0.25, {{0, 300}, {1, 310}}, {},
       Refused("Initial node temperatures", true, true)},
      {"L", &Model::LeftBCTable, 8, 0.125, {{0, 5}, {1, 5}}, {5, 5, 5, 5, 5, 5, 5, 5, 5}, ""},
      {"LEFT_BC", &Model::LeftBCTable, 8, 0.125, {{0, 5}, {0.875, 5}}, {},
       Refused("Left boundary conditions", false, true)},
      // Two pairs at one depth make a step; the depth itself takes the earlier.
      {"C", &Model::ConductTable, 4, 0.25, {{0, 1}, {0.5, 1}, {0.5, 3}, {1, 3}}, {1, 1, 1, 3}, ""},
      // A position on a pair takes its value, not the line's rounding of it.
      {"C", &Model::ConductTable, 4, 0.25, {{0, 1e16}, {0.5, 1}, {1, 1}}, {1e16, 5e15, 1, 1}, ""},
      {"H", &Model::HeatCapTable, 2, 0.5, {{0, 1}}, {}, Refused("Node heat capacities", true, true)},
      {"D", &Model::DensityTable, 4, 0.25, {{0, 1}, {0.5, 1}, {0.25, 3}, {1, 3}}, {},
       Refused("Node densities", true, false)},
      {"O", &Model::LeftAmbTable, 8, 0.125, {{0.25, 1}, {1, 1}}, {},
       Refused("Left-side ambient temperatures", false, false)},
      // The first pair keeps its own position.
      {"R", &Model::RightBCTable, 8, 0.125, {{0.125, 7}, {1.125, 9}},
       {7, 7, 7.25, 7.5, 7.75, 8, 8.25, 8.5, 8.75}, ""},
      {"A", &Model::RightAmbTable, 8, 0.125, {}, {}, Refused("Right-side ambient temperatures", false, true)},
      {"c", &Model::ConductTable, 4, 0.25, {{0, 1}, {1, 2}}, {},
       "Interp() Error:  No Switch could be made based on a Boundary Condition.  \r\n"
       "Make sure all input parameter names in DATA.DAT are in ALL CAPS and spelled correctly.\r\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    InProcess io;
    M.NODES = M.TIMESTEPS = c.count;
    M.DELTAX = M.DELTAT = c.spacing;
    PairTable& table = M.*c.table;
    for (std::size_t k = 0; k < c.pairs.size(); ++k) table[k + 1] = c.pairs[k];
    int status = 0;
    try {
      Interp(c.name, static_cast<int>(c.pairs.size()));
    } catch (const console::Stopped& ended) {
      status = ended.status;
    }
    EXPECT_EQ(io.out, c.out) << c.name;
    EXPECT_EQ(status, c.out.starts_with("Datafile") ? 1 : 0) << c.name;
    for (std::size_t k = 0; c.values.empty() && k < c.pairs.size(); ++k) {
      EXPECT_EQ(table[k + 1].y, c.pairs[k].y) << c.name;  // left as given
    }
    for (std::size_t j = 0; j < c.values.size(); ++j) {
      EXPECT_EQ(table[j + 1].x, j == 0 ? c.pairs[0].x : j * c.spacing) << c.name << ' ' << j;
      EXPECT_EQ(table[j + 1].y, c.values[j]) << c.name << ' ' << j;
    }
  }
}

}  // namespace
