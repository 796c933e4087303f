// Blocks on the process heap.
#pragma once

#include <windows.h>

// Set-up and tear-down of the heap-block utilities; neither has work to do.
HRESULT MemInitialize();
void MemUninitialize();

// A block of `bytes`, zero-filled when `zero` is set; null on failure.
LPVOID BlockAllocate(SIZE_T bytes, BOOL zero);
// The block resized to `bytes` (it may move); null on failure.
LPVOID BlockResize(LPVOID block, SIZE_T bytes, BOOL zero);
// Resizes a block that may hold secrets: when it cannot grow in place, the
// contents move to a new block and the old one is zero-filled before it is
// freed. `*resized` is set only on success.
HRESULT BlockResizeWiping(LPVOID block, SIZE_T bytes, BOOL zero, LPVOID* resized);
HRESULT BlockFree(LPVOID block);
// The block's size in bytes, or SIZE_T(-1) when it cannot be read.
SIZE_T BlockSize(LPCVOID block);

// A growable array of trivially copyable items in one process-heap block,
// freed with its owner. Growing answers a Result: E_OUTOFMEMORY when the
// block cannot be had, and the items already held stay as they were.
template <typename T>
class HeapArray {
 public:
  HeapArray() = default;
  ~HeapArray() {
    if (items_) BlockFree(items_);
  }
  HeapArray(const HeapArray&) = delete;
  HeapArray& operator=(const HeapArray&) = delete;

  SIZE_T Count() const { return count_; }
  T* Data() { return items_; }
  const T* Data() const { return items_; }
  T& operator[](SIZE_T index) { return items_[index]; }
  const T& operator[](SIZE_T index) const { return items_[index]; }
  const T* begin() const { return items_; }
  const T* end() const { return items_ + count_; }

  // Room for `count` items in all, so that growing to it moves nothing.
  HRESULT Reserve(SIZE_T count) {
    if (count <= capacity_) return S_OK;
    if (count > kMostItems) return E_OUTOFMEMORY;
    SIZE_T capacity = capacity_ < kMostItems / 2 ? capacity_ * 2 : kMostItems;
    if (capacity < count) capacity = count;
    if (capacity < kFewestItems) capacity = kFewestItems;
    void* block =
        items_ ? BlockResize(items_, capacity * sizeof(T), FALSE) : BlockAllocate(capacity * sizeof(T), FALSE);
    if (!block) return E_OUTOFMEMORY;
    items_ = static_cast<T*>(block);
    capacity_ = capacity;
    return S_OK;
  }

  HRESULT Append(const T& item) {
    const HRESULT result = Reserve(count_ + 1);
    if (FAILED(result)) return result;
    items_[count_++] = item;
    return S_OK;
  }

  // Grows or shrinks to `count` items; new items are zero.
  HRESULT Resize(SIZE_T count) {
    const HRESULT result = Reserve(count);
    if (FAILED(result)) return result;
    for (SIZE_T i = count_; i < count; ++i) items_[i] = T{};
    count_ = count;
    return S_OK;
  }

  void Clear() { count_ = 0; }

 private:
  // Bounded so that no size in bytes can overflow, on any item size.
  static constexpr SIZE_T kMostItems = 0x7FFFFFFF / sizeof(T);
  static constexpr SIZE_T kFewestItems = 16;

  T* items_ = nullptr;
  SIZE_T count_ = 0;
  SIZE_T capacity_ = 0;
};
