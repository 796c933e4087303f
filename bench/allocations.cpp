#include "allocations.h"

#include <standin.h>

#include <cstdlib>
#include <new>

namespace {

// Plain counter: the benchmarks run on one thread.
uint64_t globalAllocations = 0;

void* Allocate(std::size_t bytes) {
  ++globalAllocations;
  if (void* block = std::malloc(bytes ? bytes : 1)) return block;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t bytes, std::align_val_t alignment) {
  ++globalAllocations;
  const std::size_t align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (bytes + align - 1) / align * align;
  if (void* block = std::aligned_alloc(align, rounded ? rounded : align)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t bytes) { return Allocate(bytes); }
void* operator new[](std::size_t bytes) { return Allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  ++globalAllocations;
  return std::malloc(bytes ? bytes : 1);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  ++globalAllocations;
  return std::malloc(bytes ? bytes : 1);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }
void* operator new[](std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }

namespace bench {

AllocationCounter::AllocationCounter() : global_(globalAllocations), heap_(standin::HeapAllocations()) {}

uint64_t AllocationCounter::Since() const {
  return (globalAllocations - global_) + (standin::HeapAllocations() - heap_);
}

}  // namespace bench
