#include "runtime/memutil.h"

#include <cstring>

#include "runtime/result.h"

HRESULT MemInitialize() { return S_OK; }

void MemUninitialize() {}

LPVOID BlockAllocate(SIZE_T bytes, BOOL zero) {
  return HeapAlloc(GetProcessHeap(), zero ? HEAP_ZERO_MEMORY : 0, bytes);
}

LPVOID BlockResize(LPVOID block, SIZE_T bytes, BOOL zero) {
  return HeapReAlloc(GetProcessHeap(), zero ? HEAP_ZERO_MEMORY : 0, block, bytes);
}

HRESULT BlockResizeWiping(LPVOID block, SIZE_T bytes, BOOL zero, LPVOID* resized) {
  const DWORD zeroFlag = zero ? HEAP_ZERO_MEMORY : 0;
  if (LPVOID inPlace = HeapReAlloc(GetProcessHeap(), HEAP_REALLOC_IN_PLACE_ONLY | zeroFlag, block, bytes)) {
    *resized = inPlace;
    return S_OK;
  }
  const SIZE_T oldBytes = BlockSize(block);
  if (oldBytes == static_cast<SIZE_T>(-1)) return E_INVALIDARG;
  LPVOID moved = BlockAllocate(bytes, zero);
  if (!moved) return E_OUTOFMEMORY;
  std::memcpy(moved, block, oldBytes < bytes ? oldBytes : bytes);
  std::memset(block, 0, oldBytes);
  BlockFree(block);
  *resized = moved;
  return S_OK;
}

HRESULT BlockFree(LPVOID block) {
  if (HeapFree(GetProcessHeap(), 0, block)) return S_OK;
  return ResultFromWin32(static_cast<int32_t>(GetLastError()));
}

SIZE_T BlockSize(LPCVOID block) { return HeapSize(GetProcessHeap(), 0, block); }
