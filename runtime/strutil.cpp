#include "runtime/strutil.h"

#include <cstdio>
#include <cstring>

#include "runtime/memutil.h"
#include "runtime/result.h"

namespace {

constexpr SIZE_T kLargestCapacity = 0x7FFFFFFF;

bool ValidCapacity(SIZE_T capacity) { return capacity >= 1 && capacity <= kLargestCapacity; }

}  // namespace

HRESULT FormatCounted(char* buffer, SIZE_T capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const HRESULT result = FormatCountedList(buffer, capacity, format, arguments);
  va_end(arguments);
  return result;
}

HRESULT FormatCountedList(char* buffer, SIZE_T capacity, const char* format, va_list arguments) {
  if (!ValidCapacity(capacity)) return E_INVALIDARG;
  const int needed = std::vsnprintf(buffer, capacity, format, arguments);
  if (needed < 0) {
    // An argument the C runtime could not render (a wide string outside the
    // current code page): keep the format itself rather than lose the line.
    CopyCounted(buffer, capacity, format);
    return E_FAIL;
  }
  return static_cast<SIZE_T>(needed) < capacity ? S_OK : kResultTextCut;
}

HRESULT CopyCounted(char* buffer, SIZE_T capacity, const char* source) {
  if (!ValidCapacity(capacity)) return E_INVALIDARG;
  const SIZE_T length = std::strlen(source);
  const SIZE_T copied = length < capacity ? length : capacity - 1;
  std::memcpy(buffer, source, copied);
  buffer[copied] = '\0';
  return copied == length ? S_OK : kResultTextCut;
}

HRESULT WideStringAllocate(WCHAR** string, SIZE_T chars, BOOL wipe) {
  if (chars >= kLargestCapacity) return E_OUTOFMEMORY;
  const SIZE_T bytes = chars * sizeof(WCHAR);
  LPVOID block = nullptr;
  if (!*string) {
    block = BlockAllocate(bytes, TRUE);
  } else if (wipe) {
    const HRESULT result = BlockResizeWiping(*string, bytes, FALSE, &block);
    if (FAILED(result)) return result;
  } else {
    block = BlockResize(*string, bytes, FALSE);
  }
  if (!block) return E_OUTOFMEMORY;
  *string = static_cast<WCHAR*>(block);
  return S_OK;
}

HRESULT WideStringFree(WCHAR* string) { return BlockFree(string); }

HRESULT WideStringCapacity(const WCHAR* string, SIZE_T* chars) {
  if (!string) {
    *chars = 0;
    return S_OK;
  }
  const SIZE_T bytes = BlockSize(string);
  if (bytes == static_cast<SIZE_T>(-1)) return E_FAIL;
  *chars = bytes / sizeof(WCHAR);
  return S_OK;
}
