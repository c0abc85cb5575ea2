// Interp and LinearInterp: each distribution's pairs laid onto the model's
// grid, depth tables one entry per node at (i - 1) DELTAX, time tables one
// entry per time record at (j - 1) DELTAT, by straight-line interpolation
// between the bracketing pairs.
#include <string>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"

namespace {

PairTable scratch;  // the user's pairs while the table is rewritten

[[noreturn]] void GridError(const BlockTable& grid, const std::string& problem, const char* hint) {
  const std::string message = std::string(grid.subject) + problem;
  console::Printf("Datafile Error:  %s  %s", message.c_str(), hint);
  console::Wait();
  console::Stop(1);
}

}  // namespace

void Interp(std::string_view name, int n) {
  const BlockTable* grid = name.empty() ? nullptr : name == "P" ? &kPerfusionBlock : BlockOf(name[0]);
  if (!grid) {
    console::Printf("Interp() Error:  %s", "No Switch could be made based on a Boundary Condition.  \r\n");
    console::Print("Make sure all input parameter names in DATA.DAT are in ALL CAPS and spelled correctly.\r\n");
    console::Wait();
    return;
  }
  PairTable& table = M.*grid->table;
  const double spacing = grid->depth ? M.DELTAX : M.DELTAT;
  const int entries = grid->depth ? M.NODES : M.TIMESTEPS + 1;
  // Depth tables must reach one spacing beyond the deepest node.
  const double reach = grid->depth ? M.NODES * M.DELTAX : M.TIMESTEPS * M.DELTAT;
  const char* extent = grid->depth ? "entire depth" : "total time";
  const char* hint = grid->depth
                         ? "Make sure to supply enough data to characterize at least the total depth of the model."
                         : "Make sure to supply enough data to characterize at least the total time of the model.";

  // A count beyond the table (LEFTBC.DAT's count entry is handed on as
  // written) names pairs that cannot have been read: no coverage either.
  if (n < 1 || n > kMaxPairs || reach > table[static_cast<std::size_t>(n)].x) {
    GridError(*grid, std::string(" are not specified for the ") + extent + " of the model.", hint);
  }
  // Grid entries from the second on must each fall on or between pairs:
  // the pairs ascend (equal positions make a step) and start within one
  // spacing of zero.
  bool ordered = entries < 2 || table[1].x <= spacing;
  for (int k = 1; k < n && ordered; ++k) ordered = table[k].x <= table[k + 1].x;
  if (!ordered) {
    const char* what = grid->depth ? " are not given at ascending depths starting within one node spacing of zero."
                                   : " are not given at ascending times starting within one time step of zero.";
    const char* fix = grid->depth ? "Make sure the data pairs ascend in depth and the first lies at depth 0."
                                  : "Make sure the data pairs ascend in time and the first lies at time 0.";
    GridError(*grid, what, fix);
  }

  for (int k = 1; k <= n; ++k) scratch[k] = table[k];
  // Entry 1 keeps the first pair, position and all.
  int k = 1;  // first pair at or beyond the entry's position; grid positions ascend
  for (int j = 2; j <= entries; ++j) {
    const double z = (j - 1) * spacing;
    while (scratch[k].x < z) ++k;  // stops by pair n, which reaches z
    table[j].x = z;
    // An exact position takes its pair's value (the earlier of two at a step).
    table[j].y = scratch[k].x == z ? scratch[k].y
                                   : LinearInterp(scratch[k - 1].x, z, scratch[k].x, scratch[k - 1].y,
                                                  scratch[k].y);
  }
  if (M.Record.on && !M.Record.blocks.empty() && grid != &kPerfusionBlock) {
    BlockRead& block = M.Record.blocks.back();
    block.laid = grid->letter;
    block.laid_values.resize(static_cast<std::size_t>(entries > 0 ? entries : 0));
    for (int j = 1; j <= entries; ++j) block.laid_values[static_cast<std::size_t>(j - 1)] = table[j].y;
  }
}
