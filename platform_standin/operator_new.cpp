// A host binary's global operator new and delete: every allocation
// the product might make with new is an allocation point of the stand-in
// (see standin::AllowOperatorNew), so that an allocation sweep reaches it too.
#include <standin.h>

#include <cstdlib>
#include <new>

namespace {

void* Allocate(std::size_t bytes) {
  if (!standin::AllowOperatorNew()) throw std::bad_alloc();
  if (void* block = std::malloc(bytes ? bytes : 1)) return block;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t bytes, std::align_val_t alignment) {
  if (!standin::AllowOperatorNew()) throw std::bad_alloc();
  void* block = nullptr;
  const std::size_t boundary =
      static_cast<std::size_t>(alignment) < sizeof(void*) ? sizeof(void*) : static_cast<std::size_t>(alignment);
  if (posix_memalign(&block, boundary, bytes ? bytes : 1) == 0) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t bytes) { return Allocate(bytes); }
void* operator new[](std::size_t bytes) { return Allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }
void* operator new[](std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  if (!standin::AllowOperatorNew()) return nullptr;
  return std::malloc(bytes ? bytes : 1);
}
void* operator new[](std::size_t bytes, const std::nothrow_t& tag) noexcept { return operator new(bytes, tag); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
