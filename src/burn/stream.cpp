// Omega of every node, integrated as the march is made a second time.
//
// Each node's integral refers its exponent to the node's temperatures at
// the ends of steps 1 and TIMESTEPS, so it cannot start before the first
// march has ended. The first march keeps those two rows; the second makes
// every row again (the same bits, from the stored jet coefficients) and the
// integration of every node follows it one step behind, through a ring of
// a few rows. No temperature history is ever held whole.
//
// The integration is the one BurnInjury makes, node by node: the classical
// Runge-Kutta step over the history, straight lines between the records,
// at the times rkdumb forms by repeated addition. Its rate does not depend
// on the damage, so a step needs the rates at its start, its midpoint and
// its end, and the end of one step is the start of the next: two
// exponentials per node and step. Where a time falls among the records
// depends on the times alone, the same for every node, so it is found once
// for all nodes, by the same lookup rule. Every operation on a node's
// values is the one BurnInjury makes, in its order: the results are the
// same to the last bit.
//
// With two threads or more, the second march runs in a thread of its own
// and the integration in the calling thread, a few steps behind it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "burn/burn.h"
#include "input/input.h"
#include "model/model.h"
#include "numeric/numeric.h"
#include "thermal/thermal.h"

namespace {

// Where one time of the integration falls among the history records.
struct Lookup {
  enum Kind : unsigned char { kStart, kLast, kRecord, kLine } kind = kStart;
  int row = 0;          // kRecord: the record; kLine: the record below
  double span = 0;      // kLine: record time above minus the time
  double width = 0;     // kLine: record time above minus record time below
};

// The record times as the history laid them: record s at s DELTAT.
double RecordTime(int s) { return s == 0 ? 0.0 : s * M.DELTAT; }

// The lookup rule of the burn integral, from the record `at` on.
Lookup Find(int last, int& at, double t) {
  Lookup found;
  if (t == 0.0) return found;  // the start
  if (at > last || !(RecordTime(at) < t)) at = 0;
  while (at < last && RecordTime(at + 1) < t) ++at;
  if (at == last) {
    found.kind = Lookup::kLast;
    return found;
  }
  const double above = RecordTime(at + 1);
  if (above == t) {
    found.kind = Lookup::kRecord;
    found.row = at + 1;
    return found;
  }
  found.kind = Lookup::kLine;
  found.row = at;
  found.span = above - t;
  found.width = above - RecordTime(at);
  return found;
}

// The times of every step, found once: midpoint and end of step k at
// schedule[2k - 2] and schedule[2k - 1].
struct Schedule {
  std::vector<Lookup> at;
  double h = 0;   // s, the integration step
  double h6 = 0;
  int lo = 0;     // rows step k reads: from k + lo ...
  int hi = 0;     // ... to k + hi
};

Schedule Plan(int n) {
  Schedule plan;
  const double x1 = 0.0;
  const double x2 = RecordTime(n);
  plan.h = (x2 - x1) / n;
  const double hh = plan.h * 0.5;
  plan.h6 = plan.h / 6.0;
  plan.at.reserve(2 * static_cast<std::size_t>(n));
  int cursor = 0;
  double x = x1;
  plan.lo = 0;
  plan.hi = 0;
  bool any = false;
  for (int k = 1; k <= n; ++k) {
    for (const double t : {x + hh, x + plan.h}) {
      const Lookup found = Find(n, cursor, t);
      plan.at.push_back(found);
      if (found.kind == Lookup::kLine || found.kind == Lookup::kRecord) {
        const int first = found.row - k;
        const int last = found.row + (found.kind == Lookup::kLine ? 1 : 0) - k;
        plan.lo = any ? std::min(plan.lo, first) : first;
        plan.hi = any ? std::max(plan.hi, last) : last;
        any = true;
      }
    }
    if (x + plan.h == x) run_error("Step size too small in routine rkdumb");
    x += plan.h;
  }
  return plan;
}

// The rows of the second march that the integration still needs.
class Ring {
 public:
  Ring(int size, int nodes) : size_(size), stride_(static_cast<std::size_t>(nodes) + 2),
                              rows_(static_cast<std::size_t>(size) * stride_) {}
  double* Row(int s) { return rows_.data() + static_cast<std::size_t>(s % size_) * stride_; }
  int size() const { return size_; }

 private:
  int size_;
  std::size_t stride_;
  std::vector<double> rows_;
};

// The integration state of every node.
struct Nodes {
  std::vector<double> exponent;  // BurnRefExponent of node i
  std::vector<double> m, p;      // its scale, m 10^p
  std::vector<double> v;         // the scaled integral so far
  std::vector<double> rate;      // the rate at the start of the next step
  std::vector<double> mid, end;  // K, temperatures at the step's midpoint and end
};

// Every node's temperature at a looked-up time, into T[1..NODES]; the kind
// of lookup is the same for all nodes, so each kind has its own loop.
void Temperatures(const Lookup& at, Ring& ring, double* T) {
  const int nodes = M.NODES;
  switch (at.kind) {
    case Lookup::kStart:
      for (int i = 1; i <= nodes; ++i) T[i] = M.InitialTemps[i];
      return;
    case Lookup::kLast:
      for (int i = 1; i <= nodes; ++i) T[i] = M.LastRow[i];
      return;
    case Lookup::kRecord: {
      const double* row = ring.Row(at.row);
      for (int i = 1; i <= nodes; ++i) T[i] = row[i];
      return;
    }
    case Lookup::kLine: {
      const double* above = ring.Row(at.row + 1);
      const double* below = ring.Row(at.row);
      const double span = at.span;
      const double width = at.width;
      // LinearInterp(x above, t, x below, T above, T below), term by term.
      for (int i = 1; i <= nodes; ++i) T[i] = above[i] - span * (above[i] - below[i]) / width;
      return;
    }
  }
}

// Step k of every node's integration.
void Integrate(const Schedule& plan, int k, Ring& ring, Nodes& nodes) {
  double* mid = nodes.mid.data();
  double* end = nodes.end.data();
  Temperatures(plan.at[2 * static_cast<std::size_t>(k) - 2], ring, mid);
  Temperatures(plan.at[2 * static_cast<std::size_t>(k) - 1], ring, end);
  const double eoverr = M.EOverR;
  const double h6 = plan.h6;
  const double* exponent = nodes.exponent.data();
  double* v = nodes.v.data();
  double* rate = nodes.rate.data();
  for (int i = 1; i <= M.NODES; ++i) {
    const double r1 = std::exp(exponent[i] - eoverr / mid[i]);
    const double r2 = std::exp(exponent[i] - eoverr / end[i]);
    // rk_step with a rate that does not depend on the damage: k2 = k3.
    v[i] = v[i] + h6 * (rate[i] + r2 + 2.0 * (r1 + r1));
    rate[i] = r2;
  }
}

// The second march into the ring, step after step, never more than the
// ring allows ahead of the integration.
struct Pipeline {
  std::atomic<int> made{0};        // rows of the second march in the ring
  std::atomic<int> integrated{0};  // steps integrated
  // A stop in the march's thread (it remakes rows the first march made, so
  // none is expected), handed to the integration's thread to unwind with.
  std::atomic<bool> stopped{false};
  std::exception_ptr stop;
};

void MakeRows(int n, int lead, Ring& ring, Pipeline& pipe) {
  try {
    for (int s = 1; s <= n; ++s) {
      // Row s takes the place of row s - size, which step k reads from k + lo.
      while (s - ring.size() >= pipe.integrated.load(std::memory_order_acquire) + 1 + lead) {
        if (pipe.stopped.load(std::memory_order_acquire)) return;
        std::this_thread::yield();
      }
      MarchAgain(s, ring.Row(s));
      pipe.made.store(s, std::memory_order_release);
    }
  } catch (...) {
    pipe.stop = std::current_exception();
    pipe.stopped.store(true, std::memory_order_release);
  }
}

}  // namespace

void BurnEveryNode() {
  const int n = M.TIMESTEPS;
  const int nodes = M.NODES;
  // With no step there is no exposure to integrate over.
  if (n < 1) run_error("Step size too small in routine rkdumb");
  M.EOverR = M.ACTENERGY / M.GASCONST;
  const Schedule plan = Plan(n);

  Nodes state;
  const std::size_t count = static_cast<std::size_t>(nodes) + 1;
  state.exponent.assign(count, 0.0);
  state.m.assign(count, 0.0);
  state.p.assign(count, 0.0);
  state.v.assign(count, 0.0);
  state.rate.assign(count, 0.0);
  state.mid.assign(count, 0.0);
  state.end.assign(count, 0.0);
  for (int i = 1; i <= nodes; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    M.BurnRefTemp = (M.FirstRow[i] + M.LastRow[i]) / 2.0;
    state.exponent[k] = M.EOverR / M.BurnRefTemp;
    BurnScale(state.exponent[k], state.m[k], state.p[k]);
    state.rate[k] = std::exp(state.exponent[k] - M.EOverR / M.InitialTemps[i]);  // at t = 0
  }

  // Rows from plan.lo before the step to plan.hi after it, and a few more
  // so that the march can run ahead.
  const int lead = plan.lo;
  const int size = std::max(plan.hi - plan.lo + 1, 1) + 8;
  Ring ring(size, nodes);
  for (int i = 1; i <= nodes; ++i) ring.Row(0)[i] = M.InitialTemps[i];
  RestartMarch();

  Pipeline pipe;
  const auto ready = [&](int k) { return std::min(k + plan.hi, n); };
  std::thread march;
  if (M.Threads > 1 && n > 1) {
    try {
      march = std::thread(MakeRows, n, lead, std::ref(ring), std::ref(pipe));
    } catch (const std::system_error&) {
      // No thread to be had (no memory for its stack): all in this one.
    }
  }
  if (march.joinable()) {
    for (int k = 1; k <= n && !pipe.stopped.load(std::memory_order_acquire); ++k) {
      while (pipe.made.load(std::memory_order_acquire) < ready(k) && !pipe.stopped.load(std::memory_order_acquire)) {
        std::this_thread::yield();
      }
      if (pipe.stopped.load(std::memory_order_acquire)) break;
      Integrate(plan, k, ring, state);
      pipe.integrated.store(k, std::memory_order_release);
    }
    march.join();
    if (pipe.stop) std::rethrow_exception(pipe.stop);
  } else {
    int k = 1;
    for (int s = 1; s <= n; ++s) {
      MarchAgain(s, ring.Row(s));
      while (k <= n && ready(k) <= s) Integrate(plan, k++, ring, state);
    }
    while (k <= n) Integrate(plan, k++, ring, state);
  }

  for (int i = 1; i <= nodes; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    M.OmegaByNode[i] = BurnOmega(state.v[k], state.m[k], state.p[k]);
    M.OmegaUnflooredByNode[i] = M.OmegaUnfloored;
  }
  // As the evaluation node by node leaves them: the last node's.
  M.BurnRefTemp = (M.FirstRow[nodes] + M.LastRow[nodes]) / 2.0;
  M.BurnRefExponent = state.exponent[static_cast<std::size_t>(nodes)];
  M.Omega = M.OmegaByNode[nodes];
  M.OmegaUnfloored = M.OmegaUnflooredByNode[nodes];
  M.OUTNODE = nodes;
}
