// Asking the memory for bytes that will be needed soon, so that the wait overlaps other work.
#ifndef TARNEL_SPECIES_MEMORY_PREFETCH_H_
#define TARNEL_SPECIES_MEMORY_PREFETCH_H_

#include "base/performance_switches.h"

namespace tarnel {

/// Only a hint: where the compiler has no way to give it, nothing happens.
inline void ask_for(const void* bytes) {
#if defined(__GNUC__) || defined(__clang__)
  if (performance::kPrefetch) __builtin_prefetch(bytes);
#else
  (void)bytes;
#endif
}

}  // namespace tarnel

#endif  // TARNEL_SPECIES_MEMORY_PREFETCH_H_
