// Counts the heap bytes the benchmark process holds, so that one operation's peak can be
// measured. The counting malloc family replaces glibc's for the whole process (zlib's
// working state and SQLite's pages included, not only C++ allocations).
#pragma once

#include <cstddef>

namespace heap {

// Bytes held right now (usable sizes of every live block).
size_t Current();
// Starts a measurement: the peak is set to what is held now.
void ResetPeak();
// Highest number of bytes held since the last ResetPeak.
size_t Peak();

// Peak bytes held above the starting level while `work` runs.
template <class Work>
size_t PeakGrowth(Work&& work) {
  ResetPeak();
  const size_t before = Current();
  work();
  return Peak() - before;
}

}  // namespace heap
