// The single instance of the program-wide model state.
#include "model/model.h"

#include <cstdlib>
#include <memory>

Model M;

void ResetModel() {
  std::free(M.TempMatrix);
  std::free(M.TempRows);
  // The tables are several megabytes: build the fresh state on the heap.
  auto fresh = std::make_unique<Model>();
  M = *fresh;
}
