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
