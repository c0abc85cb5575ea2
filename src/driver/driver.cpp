// The run driver: the banner, the stages in their fixed order, the start and
// end pauses, the full temperature matrix, and the exit status (0 for a run
// that reaches its end, 1 for every stop after an error).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "burn/burn.h"
#include "driver/driver.h"
#include "input/input.h"
#include "model/console.h"
#include "model/model.h"
#include "thermal/thermal.h"

namespace {

void Banner() {
  console::Blank(5);
  console::Print("\t\t\t  VORAN Airbag Skin Pellimar\r\n");
  console::Print("\t\t\t\t  Release 9809\r\n");
  console::Blank(3);
  console::Print("\t\t\t\t Programmed by:\r\n\r\n");
  console::Print("\t\t\t  The skinburn developers\n");
  console::Print("\t\t\t  Implicit conduction through the skin,\n");
  console::Print("\t\t\t  impinging-jet convection on the exposed face\n");
  console::Print("\t\t\t  and the Arrhenius burn damage integral\n");
  console::Print("\t\t\t  for airbag safety studies\n");
  console::Blank(9);
}

int MemoryError(const char* problem) {
  console::Printf("Memory Error: %s", problem);
  console::Printf("Memory Error: %s", "\nTo remedy this, reduce the number of nodes, time steps or both.\r\n");
  return 0;
}

// The matrix is written once, row by row, and then read back: on a large
// grid the first touch of its pages is a large part of the run. Where the
// system offers transparent huge pages, asking for them for the block turns
// hundreds of thousands of page faults into a few thousand. Only a hint:
// nothing depends on it being taken.
void AdviseHugePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHuge - 1);
  if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

// One block of (TIMESTEPS+2)(NODES+2) doubles; row r starts at r (NODES+1).
int AllocateTempMatrix() {
  const std::size_t rows = static_cast<std::size_t>(M.TIMESTEPS) + 2;
  const std::size_t columns = static_cast<std::size_t>(M.NODES) + 2;
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / sizeof(double);
  if (columns > limit / rows ||
      !(M.TempMatrix = static_cast<double*>(std::malloc(rows * columns * sizeof(double))))) {
    return MemoryError("\nThere is not enough memory in your PC\n to store the full temperature distribution matrix.\r\n");
  }
  AdviseHugePages(M.TempMatrix, rows * columns * sizeof(double));
  M.TempRows = static_cast<double**>(std::malloc(rows * sizeof(double*)));
  if (!M.TempRows) {
    return MemoryError("\nThe matrix was created in memory; however,\n there is no room for pointers to the rows.\r\n");
  }
  for (std::size_t r = 0; r < rows; ++r) M.TempRows[r] = M.TempMatrix + r * (columns - 1);
  return 1;
}

void ReleaseTempMatrix() {
  std::free(M.TempRows);
  std::free(M.TempMatrix);
  M.TempRows = nullptr;
  M.TempMatrix = nullptr;
}

int StageError(const char* format, const char* text) {
  console::Printf(format, text);
  console::Print("\r\n");
  return 1;
}

}  // namespace

int Run(int argc, char** argv) {
  if (argc < 2) {
    console::Printf("Main() Error: %s %s", "No data directory was given.\r\n",
                    "Call the program as: skinburn <data directory>/  (with the trailing separator)\r\n\r\n");
    return 1;
  }
  if (std::strlen(argv[1]) > static_cast<std::size_t>(kDataDirMax)) {
    console::Printf("Main() Error: %s %s", "The data directory name is longer than 63 characters.\r\n",
                    "Move the data directory to a shorter path or call the program from nearer to it.\r\n\r\n");
    return 1;
  }
  M.DataDir = argv[1];
  Banner();
  if (!GetData()) return StageError("GetData() Error: %s", "Exiting Pellimar");
  if (M.BATCH != 1) {
    console::Printf("%s", "Press <Ctrl>-C to quit or <Enter> to proceed....");
    console::Wait();
    console::Blank(30);
  }
  // The jet coefficient that step 1 uses. A failure stops the run here,
  // before anything is appended to OUTPUT.TXT.
  if (!M.LBC.empty() && M.LBC[0] == 'C' && M.JetInUse == 1 &&
      !JetConvection(0, M.InitTempTable[1].y, M.LeftAmbTable[1].y, M.HbarTable[1].y)) {
    return 1;
  }
  if (!AllocateTempMatrix()) return 1;
  if (!Fourier()) return StageError("Fourier() Error: %s", "Fourier Numbers could not be generated");
  if (!InterNodes()) {
    return StageError("InterNodes() Error: %s", "A-Matrix interior node values could not be generated");
  }
  if (!PreRunReport()) return 1;
  console::Flush();  // the announcement stays on screen through the march
  if (!TimeMarch()) return 1;
  if (!BurnEvaluation()) return 1;
  ReleaseTempMatrix();
  if (M.BATCH != 1) {
    console::Printf("%s", "The program is complete.  ");
    console::Wait();
  }
  return 0;
}

int RunGuarded(int (*run)(int argc, char** argv), int argc, char** argv) {
  int status;
  try {
    status = run(argc, argv);
  } catch (const std::bad_alloc&) {
    console::Printf("Memory Error: %s", "\nThere is not enough memory in your PC to go on with the run.\r\n");
    console::Printf("Memory Error: %s", "\nTo remedy this, reduce the number of nodes, time steps or both.\r\n");
    status = 1;
  }
  console::Flush();
  return status;
}
