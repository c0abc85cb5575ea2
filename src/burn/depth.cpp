// The burn depth evaluation: Omega of the output node, or of every node
// with the depths where Omega passes through 1, found on the straight line
// between the two nodes that bracket it. Here node i stands at the depth
// i DELTAX, one spacing deeper than in the temperature listings.
#include <cmath>

#include "burn/burn.h"
#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "report/report.h"

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
  console::Stop(0);
}

}  // namespace

void FindCrossings() {
  M.Crossings.clear();
  for (int i = 1; i <= M.NODES - 1; ++i) {
    const double here = M.OmegaByNode[i];
    const double next = M.OmegaByNode[i + 1];
    const bool falling = here > 1 && next < 1;
    const bool rising = here < 1 && next > 1;
    if (!falling && !rising) continue;  // an Omega of exactly 1 is not bracketed
    // The straight line between the two nodes, at their depths and at the
    // depths the report gives them (one spacing deeper).
    const auto line = [&](double shallow, double deep) {
      return falling ? LinearInterp(next, 1.0, here, deep, shallow) : LinearInterp(here, 1.0, next, shallow, deep);
    };
    M.Crossings.push_back({i, falling, line((i - 1) * M.DELTAX, i * M.DELTAX), line(i * M.DELTAX, (i + 1) * M.DELTAX)});
  }
}

namespace {

int AllNodes() {
  const int output_node = M.OUTNODE;
  BurnEveryNode();
  FindCrossings();
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

  for (const Crossing& crossing : M.Crossings) {
    const int i = crossing.node;
    const double here = M.OmegaByNode[i];
    const double next = M.OmegaByNode[i + 1];
    const bool falling = crossing.falling;
    const double shallow = i * M.DELTAX;
    const double deep = (i + 1) * M.DELTAX;
    const double depth = crossing.report_depth;
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
  if (!BurnsEveryNode()) return SingleNode();
  return AllNodes();
}
