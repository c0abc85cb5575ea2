// DATA.DAT from the fuzzer's bytes, with sound data files, LEFTIMP.DAT and
// GASPROP.DAT beside it, so that blocks with the count 0 or -1 read them.
// After a good GetData the jet coefficients are computed as the run would;
// after any GetData the --check=json document must be valid JSON.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (fuzz::WriteCompanions(), true);
  (void)ready;
  fuzz::WriteFile("DATA.DAT", fuzz::Bytes(data, size));
  fuzz::Session session;
  if (session.RunGetData() == 1) session.RunJetAsDriver();
  session.CheckDocument();
  return 0;
}
