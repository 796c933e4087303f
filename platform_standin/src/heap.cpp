// The process heap over the C allocator, with a size header per block so that
// HeapSize can answer, a count of live blocks and of allocations, and the
// global GlobalAlloc/GlobalFree used for version information. Bytes that
// Windows leaves undefined (no zeroing asked for) hold kUnsetHeapByte.
#include <cstdlib>
#include <cstring>
#include <set>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

// The stand-in's heap handle; only its identity matters.
int processHeap;
std::set<void*> liveBlocks;
uint64_t allocations = 0;
std::vector<BYTE> lastFreed;
uint64_t allocationPoints = 0;
uint64_t failingPoint = 0;  // 0: none
bool countOperatorNew = false;

// As on 64-bit Windows, a block takes whole granules of 16 bytes: a block can
// grow in place up to the end of its last granule.
constexpr SIZE_T kGranule = 16;

struct alignas(16) Header {
  SIZE_T bytes;
  SIZE_T room;
};

Header* HeaderOf(LPCVOID block) { return static_cast<Header*>(const_cast<void*>(block)) - 1; }

void* NewBlock(SIZE_T bytes, bool zero) {
  const SIZE_T room = bytes <= kGranule ? kGranule : (bytes + kGranule - 1) / kGranule * kGranule;
  auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + room));
  if (!header) return nullptr;
  header->bytes = bytes;
  header->room = room;
  void* block = header + 1;
  std::memset(block, kUnsetHeapByte, room);
  if (zero) std::memset(block, 0, bytes);
  liveBlocks.insert(block);
  ++allocations;
  return block;
}

void DropBlock(void* block) {
  const BYTE* bytes = static_cast<const BYTE*>(block);
  lastFreed.assign(bytes, bytes + HeaderOf(block)->bytes);
  liveBlocks.erase(block);
  std::free(HeaderOf(block));
}

bool IsHeap(HANDLE heap) { return heap == &processHeap; }

// Counts one allocation point; false when it is the one that must fail.
// The heap calls leave the last error alone when they fail, as on Windows.
bool TakeAllocationPoint() { return ++allocationPoints != failingPoint; }

}  // namespace

void ResetHeap() {
  allocations = 0;
  lastFreed.clear();
  FailAllocation(0);
  countOperatorNew = false;
}

const std::vector<BYTE>& LastFreedBlock() { return lastFreed; }

void FailAllocation(uint64_t nth) {
  failingPoint = nth;
  allocationPoints = 0;
}

uint64_t AllocationPoints() { return allocationPoints; }

bool AllowOperatorNew() { return !countOperatorNew || InsideCall() || TakeAllocationPoint(); }

void CountOperatorNew(bool on) { countOperatorNew = on; }

int LiveHeapBlocks() { return static_cast<int>(liveBlocks.size()); }

void* SystemBlock(SIZE_T bytes) { return NewBlock(bytes, true); }

uint64_t HeapAllocations() { return allocations; }

}  // namespace standin

using namespace standin;

extern "C" HANDLE WINAPI GetProcessHeap(void) { return &processHeap; }

extern "C" LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  const Call call("HeapAlloc");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return nullptr;
  }
  if (!TakeAllocationPoint() || !IsHeap(heap)) return nullptr;
  return NewBlock(bytes, flags & HEAP_ZERO_MEMORY);
}

extern "C" LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
  const Call call("HeapReAlloc");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return nullptr;
  }
  if (!TakeAllocationPoint() || !IsHeap(heap) || !liveBlocks.count(block)) return nullptr;
  const SIZE_T oldBytes = HeaderOf(block)->bytes;
  // The bytes past the old size are zeroed only on request.
  if (flags & HEAP_REALLOC_IN_PLACE_ONLY) {
    if (bytes > HeaderOf(block)->room) return nullptr;
    if ((flags & HEAP_ZERO_MEMORY) && bytes > oldBytes) {
      std::memset(static_cast<BYTE*>(block) + oldBytes, 0, bytes - oldBytes);
    }
    HeaderOf(block)->bytes = bytes;
    return block;
  }
  void* moved = NewBlock(bytes, flags & HEAP_ZERO_MEMORY);
  if (!moved) return nullptr;
  std::memcpy(moved, block, oldBytes < bytes ? oldBytes : bytes);
  DropBlock(block);
  return moved;
}

extern "C" BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
  const Call call("HeapFree");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return FALSE;
  }
  if (!block) return TRUE;
  if (!IsHeap(heap) || !liveBlocks.count(block)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DropBlock(block);
  return TRUE;
}

extern "C" SIZE_T WINAPI HeapSize(HANDLE heap, DWORD, LPCVOID block) {
  const Call call("HeapSize");
  if (call.Failure() || !IsHeap(heap) || !liveBlocks.count(const_cast<LPVOID>(block))) {
    return static_cast<SIZE_T>(-1);
  }
  return HeaderOf(block)->bytes;
}

extern "C" HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  const Call call("GlobalAlloc");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return nullptr;
  }
  if (!TakeAllocationPoint()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return NewBlock(bytes, flags & GMEM_ZEROINIT);
}

extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
  const Call call("GlobalFree");
  if (block) DropBlock(block);
  return nullptr;
}

// Blocks that the system hands out for the caller to free (security
// descriptors) come from the process heap, as LocalAlloc's do.
extern "C" HLOCAL WINAPI LocalFree(HLOCAL block) {
  const Call call("LocalFree");
  if (!block) return nullptr;
  if (!liveBlocks.count(block)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
  }
  DropBlock(block);
  return nullptr;
}
