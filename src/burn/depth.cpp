// The burn depth evaluation: Omega of the output node, or of every node
// with the depths where Omega passes through 1, found on the straight line
// between the two nodes that bracket it. Here node i stands at the depth
// i DELTAX, one spacing deeper than in the temperature listings.
#include <algorithm>
#include <cmath>

#include "burn/burn.h"
#include "burn/history.h"
#include "driver/driver.h"
#include "driver/lineformat.h"
#include "input/input.h"
#include "model/console.h"
#include "model/model.h"

namespace {

void OmegaLine(LineBuffer& line, int node, double omega) {
  line.Text("Omega at node ");
  line.Int(node, 0);
  line.Text(" = ");
  line.Fixed(omega, 20, 12);
  line.Text("\r\n");
}

int SingleNode() {
  const double omega = BurnInjury();
  M.Reached = Phase::kEnd;
  if (omega == 0 || std::isnan(omega)) {
    console::Printf("Main() Error: %s", "BurnInjury() returned an invalid value of Omega to Main().");
    console::Print("\r\n\r\n");
    console::Wait();
    return 0;
  }
  M.Result = Outcome::kOmegaAtNode;
  LineBuffer line;
  OmegaLine(line, M.OUTNODE, omega);
  console::Print(line.str());
  if (M.VERBOSE == 1 && !AppendOutput(line.str())) return 0;
  return 1;
}

[[noreturn]] void AllNodesOutcome(const char* text) {
  console::Blank(35);
  console::Printf("Omega Output: %s", text);
  console::Wait();
  console::EndProcess(0);
}

}  // namespace

void HistoryBands::Gather(int first) {
  const int steps = M.TIMESTEPS;
  const std::size_t per_node = steps > 0 ? static_cast<std::size_t>(steps) : 1;
  const int band = static_cast<int>(std::clamp<std::size_t>(kBandBytes / (per_node * sizeof(double)), 1,
                                                            static_cast<std::size_t>(kMaxNodes)));
  first_ = first;
  width_ = std::max(std::min(band, M.NODES - first + 1), 1);
  columns_.resize(static_cast<std::size_t>(width_) * per_node);
  // Copied in tiles of kTile rows, so that each node's part of a tile is
  // one run of kTile doubles in the buffer rather than kTile scattered ones.
  constexpr int kTile = 8;
  for (int s0 = 1; s0 <= steps; s0 += kTile) {
    const int rows = std::min(kTile, steps - s0 + 1);
    const double* row[kTile];
    for (int r = 0; r < rows; ++r) row[r] = M.TempRows[s0 + r] + first;
    // The rows of the next tile are fetched while this one is copied.
    for (int r = 0; r < kTile && s0 + kTile + r <= steps; ++r) {
      const double* ahead = M.TempRows[s0 + kTile + r] + first;
      for (int b = 0; b < width_; b += 8) __builtin_prefetch(ahead + b);
      __builtin_prefetch(ahead + width_ - 1);
    }
    for (int b = 0; b < width_; ++b) {
      double* out = columns_.data() + static_cast<std::size_t>(b) * per_node + (s0 - 1);
      for (int r = 0; r < rows; ++r) out[r] = row[r][b];
    }
  }
}

void HistoryBands::Lay(int node) {
  if (first_ == 0 || node < first_ || node >= first_ + width_) Gather(node);
  const int steps = M.TIMESTEPS;
  const std::size_t per_node = steps > 0 ? static_cast<std::size_t>(steps) : 1;
  const double* column = columns_.data() + static_cast<std::size_t>(node - first_) * per_node;
  for (int s = 1; s <= steps; ++s) M.NodeHistory[s] = {s * M.DELTAT, column[s - 1]};
}

namespace {

int AllNodes() {
  const int output_node = M.OUTNODE;
  HistoryBands histories;
  for (int k = 1; k <= M.NODES; ++k) {
    histories.Lay(k);
    M.OUTNODE = k;
    M.OmegaByNode[k] = BurnInjury();
    M.OmegaUnflooredByNode[k] = M.OmegaUnfloored;
  }
  M.Reached = Phase::kEnd;
  const double first = M.OmegaByNode[1];
  const double last = M.OmegaByNode[M.NODES];
  // Only the first and the last node decide these two outcomes.
  if (first > 1 && last > 1) {
    M.Result = Outcome::kAllAbove;
    AllNodesOutcome("Omega>1 for all nodes.\r\n\r\n");
  }
  if (first < 1 && last < 1) {
    M.Result = Outcome::kAllBelow;
    AllNodesOutcome("Omega<1 for all nodes.\r\n\r\n");
  }
  M.Result = Outcome::kBurnDepth;

  for (int i = 1; i <= M.NODES - 1; ++i) {
    const double here = M.OmegaByNode[i];
    const double next = M.OmegaByNode[i + 1];
    const bool falling = here > 1 && next < 1;
    const bool rising = here < 1 && next > 1;
    if (!falling && !rising) continue;  // an Omega of exactly 1 is not bracketed
    const double shallow = i * M.DELTAX;
    const double deep = (i + 1) * M.DELTAX;
    const double depth = falling ? LinearInterp(next, 1.0, here, deep, shallow)
                                 : LinearInterp(here, 1.0, next, shallow, deep);
    M.Crossings.push_back({i, falling, depth});
    LineBuffer screen;
    const auto depth_line = [&](double at, double omega) {
      screen.Text("Omega at depth ");
      screen.Fixed(at, 0, 6);
      screen.Text(" (m) = ");
      screen.Fixed(omega, 20, 12);
      screen.Text("\r\n");
    };
    console::Blank(15);
    depth_line(shallow, here);
    depth_line(deep, next);
    screen.Text(falling ? "By interpolation, Omega is equal to 1 at depth "
                        : "Therefore, by interpolation, Omega is equal to 1 at depth ");
    screen.Fixed(depth, 0, 6);
    screen.Text(" (m).\r\n");
    console::Print(screen.str());
    console::Blank(15);
    if (M.VERBOSE == 1) {
      LineBuffer file;
      // There is no node 0: with the all-nodes mode chosen by OUTNODE = 0
      // the output node's line is left out.
      if (output_node != 0) OmegaLine(file, output_node, M.OmegaByNode[output_node]);
      file.Text("Omega = 1 at depth ");
      file.Fixed(depth, falling ? 10 : 0, 6);
      file.Text(" (m)\r\n");
      if (!AppendOutput(file.str())) return 0;
    }
  }
  return 1;
}

}  // namespace

int BurnEvaluation() {
  if (M.BATCH != 1) {
    console::Blank(22);
    console::Printf("%s", "\tThe Burn Injury parameter, Omega, will be calculated.");
    console::Blank(12);
    console::Printf("%s", "Press <Ctrl>-C to quit or <Enter> to proceed....");
    console::Wait();
  }
  M.Reached = Phase::kBurn;
  console::Mark();
  console::Flush();  // what the march printed is seen before the integration
  if (M.OUTNODE != 0 && M.BURNDEPTH == 0) return SingleNode();
  return AllNodes();
}
