// The single instance of the program-wide model state.
#include "model/model.h"


// Constant-initialised where the compiler can: the several megabytes of
// tables then start as the program image's blank pages instead of being
// cleared by a constructor at start-up, and a run touches only the pages it
// uses. (Clang 14 cannot evaluate libstdc++ 12's std::string constructor as
// a constant; there M is initialised at start-up, with the same values.)
#if defined(__clang__)
Model M;
#else
constinit Model M;
#endif

void ResetModel() {
  // The tables are several megabytes: the fresh state is built once, on the
  // heap, and copied from there.
  static const Model* const pristine = new Model();
  M = *pristine;
}
