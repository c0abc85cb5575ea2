// DATA.DAT from the fuzzer's bytes, with sound data files, LEFTIMP.DAT and
// GASPROP.DAT beside it, so that blocks with the count 0 or -1 read them.
// After a good GetData the jet coefficients are computed as the run would.
// The --check=json document of such inputs has a target of its own
// (fuzz_check): building it costs twenty times the reading.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (fuzz::WriteCompanions(), true);
  (void)ready;
  fuzz::WriteFile("DATA.DAT", fuzz::Bytes(data, size));
  fuzz::Session session(size);
  if (session.RunGetData() == 1) session.RunJetAsDriver();
  return 0;
}
