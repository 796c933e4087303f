// Counted formatting and copying of narrow text, and wide strings in heap
// blocks (a string's capacity in characters is its block size divided by
// sizeof(WCHAR)).
#pragma once

#include <windows.h>

#include <cstdarg>

#include "runtime/memutil.h"

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

// How narrow text in the ANSI code page ends, read character by character.
// In a double-byte code page the second byte of a character may be 0x5C, the
// byte of a backslash: only a whole character is ever taken for one.
struct AnsiTextEnding {
  bool wholeCharacter;         // false when the text ends in a lead byte alone
  SIZE_T trailingBackslashes;  // the backslash characters that end it
};
AnsiTextEnding ReadAnsiTextEnding(const char* text);

// The first occurrence of an ASCII character in narrow text of the ANSI code
// page, read character by character: the trail byte of a double-byte
// character (0x7C in ポ or 竹, the byte of a bar) is never taken for it. Null
// when the text holds none.
const char* FindAnsiCharacter(const char* text, char wanted);

// Allocates (for a null *string) or resizes a string to `chars` characters.
// `wipe` zero-fills the old block when the string has to move. *string
// changes only on success.
HRESULT WideStringAllocate(WCHAR** string, SIZE_T chars, BOOL wipe);
HRESULT WideStringFree(WCHAR* string);
HRESULT WideStringCapacity(const WCHAR* string, SIZE_T* chars);

// The length of a terminated narrow or wide text.
template <typename Char>
SIZE_T TextLength(const Char* text) {
  SIZE_T length = 0;
  while (text[length]) ++length;
  return length;
}

// A growable, always terminated narrow or wide text on the process heap.
// Every change that may allocate answers a Result; on E_OUTOFMEMORY the text
// is left as it was.
template <typename Char>
class HeapText {
 public:
  // The text; an empty one before anything was added.
  const Char* Get() const { return length_ ? chars_.Data() : kEmpty; }
  SIZE_T Length() const { return length_; }
  Char& operator[](SIZE_T index) { return chars_[index]; }
  Char operator[](SIZE_T index) const { return chars_[index]; }

  // Grows by `length` characters for the caller to fill through `*room` (a
  // platform call that writes into a buffer), terminated after them.
  HRESULT AppendRoom(SIZE_T length, Char** room) {
    if (length > kMostChars - length_) return E_OUTOFMEMORY;
    const HRESULT result = chars_.Resize(length_ + length + 1);
    if (FAILED(result)) return result;
    *room = chars_.Data() + length_;
    length_ += length;
    chars_[length_] = 0;
    return S_OK;
  }
  HRESULT Append(const Char* text, SIZE_T length) {
    Char* room = nullptr;
    const HRESULT result = AppendRoom(length, &room);
    if (FAILED(result)) return result;
    for (SIZE_T i = 0; i < length; ++i) room[i] = text[i];
    return S_OK;
  }
  HRESULT Append(const Char* text) { return Append(text, TextLength(text)); }
  HRESULT Append(Char c) { return Append(&c, 1); }
  HRESULT Assign(const Char* text, SIZE_T length) {
    Truncate(0);
    return Append(text, length);
  }
  HRESULT Assign(const Char* text) { return Assign(text, TextLength(text)); }

  // Keeps the first `length` characters (at most the text's length).
  void Truncate(SIZE_T length) {
    if (length >= length_) return;
    length_ = length;
    chars_[length_] = 0;
  }

 private:
  static constexpr SIZE_T kMostChars = 0x7FFFFFFF / sizeof(Char) - 1;
  static constexpr Char kEmpty[1] = {};

  HeapArray<Char> chars_;  // the characters and a terminator, once allocated
  SIZE_T length_ = 0;
};

// An ordered list of owned narrow or wide texts, each in a block of its own.
template <typename Char>
class HeapTextList {
 public:
  HeapTextList() = default;
  ~HeapTextList() {
    for (Char* text : texts_) BlockFree(text);
  }
  HeapTextList(const HeapTextList&) = delete;
  HeapTextList& operator=(const HeapTextList&) = delete;

  SIZE_T Count() const { return texts_.Count(); }
  const Char* operator[](SIZE_T index) const { return texts_[index]; }

  // Appends a copy of the first `length` characters of `text`.
  HRESULT Append(const Char* text, SIZE_T length) {
    if (length >= 0x7FFFFFFF / sizeof(Char)) return E_OUTOFMEMORY;
    HRESULT result = texts_.Reserve(texts_.Count() + 1);
    if (FAILED(result)) return result;
    Char* copy = static_cast<Char*>(BlockAllocate((length + 1) * sizeof(Char), FALSE));
    if (!copy) return E_OUTOFMEMORY;
    for (SIZE_T i = 0; i < length; ++i) copy[i] = text[i];
    copy[length] = 0;
    return texts_.Append(copy);  // cannot fail: the room was reserved
  }
  HRESULT Append(const Char* text) { return Append(text, TextLength(text)); }

  void Clear() {
    for (Char* text : texts_) BlockFree(text);
    texts_.Clear();
  }

 private:
  HeapArray<Char*> texts_;
};

using NarrowText = HeapText<char>;
using WideText = HeapText<WCHAR>;
using NarrowTextList = HeapTextList<char>;
using WideTextList = HeapTextList<WCHAR>;
