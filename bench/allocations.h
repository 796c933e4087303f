// Allocation counting for the benchmarks: the global operator new of the
// benchmark binary counts every call, and the stand-in counts its heap's.
#pragma once

#include <cstdint>

namespace bench {

// Both counters together: what a stretch of code allocated in either place.
class AllocationCounter {
 public:
  AllocationCounter();
  uint64_t Since() const;

 private:
  uint64_t global_;
  uint64_t heap_;
};

}  // namespace bench
