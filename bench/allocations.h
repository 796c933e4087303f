// Allocation counting for the benchmarks: the stand-in's allocation points,
// its heap calls and the binary's operator new outside the stand-in's own
// calls, i.e. what the product allocates.
#pragma once

#include <cstdint>

namespace bench {

// What a stretch of code allocated, counted from the counter's making.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;
  uint64_t Since() const;

 private:
  uint64_t start_;
};

}  // namespace bench
