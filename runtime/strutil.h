// Counted formatting and copying of narrow text, and wide strings in heap
// blocks (a string's capacity in characters is its block size divided by
// sizeof(WCHAR)).
#pragma once

#include <windows.h>

#include <cstdarg>

#if defined(__clang__)
#define QUORVEL_PRINTF_LIKE(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
// gnu_printf: mingw-w64 formats with its own C99 printf, not the system's.
#define QUORVEL_PRINTF_LIKE(formatIndex, firstArgument) __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define QUORVEL_PRINTF_LIKE(formatIndex, firstArgument)
#endif

// The capacity counts characters including the terminator and must lie in
// 1..0x7FFFFFFF (E_INVALIDARG otherwise, nothing written). The output is cut
// to capacity - 1 characters and always terminated; a cut answers
// kResultTextCut.
HRESULT FormatCounted(char* buffer, SIZE_T capacity, const char* format, ...) QUORVEL_PRINTF_LIKE(3, 4);
HRESULT FormatCountedList(char* buffer, SIZE_T capacity, const char* format, va_list arguments);
HRESULT CopyCounted(char* buffer, SIZE_T capacity, const char* source);

// Allocates (for a null *string) or resizes a string to `chars` characters.
// `wipe` zero-fills the old block when the string has to move. *string
// changes only on success.
HRESULT WideStringAllocate(WCHAR** string, SIZE_T chars, BOOL wipe);
HRESULT WideStringFree(WCHAR* string);
HRESULT WideStringCapacity(const WCHAR* string, SIZE_T* chars);
