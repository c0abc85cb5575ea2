// The node histories of the all-nodes burn evaluation, laid one node after
// another from TempMatrix into NodeHistory.
#pragma once

#include <cstddef>
#include <vector>

// A node's history is a column of TempMatrix, one value per row of NODES + 1
// doubles: read node by node, every value would come from another cache
// line (and, on a large grid, another page). So the columns of a band of
// neighbouring nodes are copied out together, row by row, into a node-major
// buffer of at most kBandBytes, and each node's history is then laid from
// there. The values laid are exactly those of a plain column read.
class HistoryBands {
 public:
  static constexpr std::size_t kBandBytes = std::size_t{16} << 20;

  // NodeHistory records s = 1..TIMESTEPS := (s DELTAT, TempMatrix[s][node]).
  // Nodes are best asked for in ascending order; any order gives the same.
  void Lay(int node);

 private:
  void Gather(int first);
  std::vector<double> columns_;  // node-major: columns_[b * steps + s - 1]
  int first_ = 0;                // first node of the band held; 0 = none
  int width_ = 0;                // nodes in the band held
};
