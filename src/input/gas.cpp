// The gas of the jet as the input files give it: the gas property table of
// GASPROP.DAT (read anew at every call, so that a change to the file takes
// effect at the next step) and the gas velocity of LEFTIMP.DAT at a time.
// The jet coefficient reads both at every step, and the facts of what was
// read report them.
#include <cmath>
#include <string_view>

#include "console/console.h"
#include "input/input.h"
#include "input/reader.h"
#include "model/model.h"

namespace {

int Fail(const char* text) {
  console::Printf("JetConvection() Error: %s", text);
  return 0;
}

}  // namespace

bool ReadGasTable(GasTable& gas) {
  TextSource file;
  if (!file.Load(M.DataDir + "GASPROP.DAT")) return Fail("\r\n GASPROP.DAT could not be found... \r\n");
  if (!SkipHeader(file)) return Fail("\r\n GASPROP.DAT ends inside its comment lines... \r\n");
  for (int row = 1; row <= kGasRows; ++row) {
    double* fields[] = {&gas[row].T, &gas[row].nu, &gas[row].k, &gas[row].Pr};
    for (double* field : fields) {
      std::string_view word;
      const TextSource::Word got = file.Next(word);
      if (got == TextSource::Word::kEnd) {
        return Fail("\r\n GASPROP.DAT holds fewer than 18 complete rows of gas properties... \r\n");
      }
      if (got == TextSource::Word::kTooLong) {
        return Fail("\r\n GASPROP.DAT holds a word longer than 79 characters... \r\n");
      }
      *field = ParseReal(word);
    }
    // The lookup needs temperatures that strictly ascend.
    if (row > 1 && !(gas[row].T > gas[row - 1].T)) {
      return Fail("\r\n GASPROP.DAT temperatures must ascend from row to row... \r\n");
    }
  }
  return true;
}

bool GasVelocityAt(double t, double& velocity) {
  const int last = M.GasVelocityPairs < 1000 ? M.GasVelocityPairs : 1000;
  const PairTable& v = M.GasVelocityTable;
  for (int k = 1; k < last; ++k) {
    if (v[k].x <= t && t <= v[k + 1].x) {
      // A step (two pairs at one time) takes the earlier pair.
      velocity = v[k].x == v[k + 1].x ? v[k].y : LinearInterp(v[k + 1].x, t, v[k].x, v[k + 1].y, v[k].y);
      return true;
    }
  }
  return false;
}

bool JetFlowAt(const GasTable& gas, double t, double gas_temperature, JetFlow& flow) {
  flow = JetFlow{};
  flow.reynolds = M.JETREYNOLDS;
  if (M.JETREYNOLDS != 0) return true;
  if (!GasVelocityAt(t, flow.velocity)) return false;
  flow.nu = GasProperty(gas, &GasRow::nu, gas_temperature, flow.rows);
  flow.reynolds = flow.velocity * M.NOZZLEDIAM / flow.nu;
  return true;
}

double GasProperty(const GasTable& gas, double GasRow::*field, double x, int* rows) {
  const auto used = [rows](int a, int b) {
    if (rows) rows[0] = a, rows[1] = b;
  };
  if (x < gas[1].T) {
    used(1, 1);
    return gas[1].*field;
  }
  if (x > gas[kGasRows].T) {
    used(kGasRows, kGasRows);
    return gas[kGasRows].*field;
  }
  for (int k = 1; k < kGasRows; ++k) {
    if (gas[k].T <= x && x <= gas[k + 1].T) {
      used(k, k + 1);
      return LinearInterp(gas[k + 1].T, x, gas[k].T, gas[k + 1].*field, gas[k].*field);
    }
  }
  used(0, 0);
  return NAN;  // only a temperature that is not a number reaches here
}
