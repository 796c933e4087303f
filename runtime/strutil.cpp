#include "runtime/strutil.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "runtime/memutil.h"
#include "runtime/result.h"

namespace {

constexpr SIZE_T kLargestCapacity = 0x7FFFFFFF;

bool ValidCapacity(SIZE_T capacity) { return capacity >= 1 && capacity <= kLargestCapacity; }

// Text written into a counted buffer: what fits is kept, everything is
// counted, so that a cut can be told from a complete text.
class CountedOutput {
 public:
  CountedOutput(char* buffer, SIZE_T capacity) : buffer_(buffer), capacity_(capacity) {}

  void Put(char c) {
    if (total_ < capacity_ - 1) buffer_[total_] = c;
    ++total_;
  }
  void Put(const char* text, SIZE_T length) {
    const SIZE_T kept = Kept(length);
    if (kept) std::memcpy(buffer_ + total_, text, kept);
    total_ += length;
  }
  void Pad(char c, SIZE_T count) {
    const SIZE_T kept = Kept(count);
    if (kept) std::memset(buffer_ + total_, c, kept);
    total_ += count;
  }
  // Where the next character goes, and how many fit there with a terminator.
  char* Next() { return buffer_ + (total_ < capacity_ ? total_ : capacity_ - 1); }
  SIZE_T Room() const { return total_ < capacity_ ? capacity_ - total_ : 1; }
  void Skip(SIZE_T written) { total_ += written; }

  // How many of `count` more characters fit before the terminator's place.
  SIZE_T Kept(SIZE_T count) const {
    const SIZE_T room = total_ < capacity_ - 1 ? capacity_ - 1 - total_ : 0;
    return count < room ? count : room;
  }

  HRESULT Finish() {
    buffer_[total_ < capacity_ ? total_ : capacity_ - 1] = '\0';
    return total_ < capacity_ ? S_OK : kResultTextCut;
  }

 private:
  char* buffer_;
  SIZE_T capacity_;
  SIZE_T total_ = 0;
};

// One conversion of a format: %[flags][width][.precision][length]conversion.
struct Directive {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool zero = false;
  SIZE_T width = 0;
  int precision = -1;  // none
  char length[3] = {};
  char conversion = 0;
};

enum class ConversionKind { kUnknown, kInteger, kCharacter, kString, kFloating, kPercent };

ConversionKind KindOf(char conversion) {
  if (conversion == '%') return ConversionKind::kPercent;
  if (conversion == 'c') return ConversionKind::kCharacter;
  if (conversion == 's') return ConversionKind::kString;
  if (conversion && std::strchr("diuoxX", conversion)) return ConversionKind::kInteger;
  if (conversion && std::strchr("eEfFgGaA", conversion)) return ConversionKind::kFloating;
  return ConversionKind::kUnknown;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int ReadNumber(const char** at) {
  int number = 0;
  while (IsDigit(**at)) {
    if (number < 100000000) number = number * 10 + (**at - '0');
    ++*at;
  }
  return number;
}

// Reads the directive after a '%'; false when its conversion is not one of
// those written here (%p and %n among them: no line needs an address, and a
// format must never store into memory).
bool ReadDirective(const char** at, va_list* arguments, Directive* directive) {
  static const char kFlags[] = "-+ #0";
  bool* const flags[] = {&directive->left, &directive->plus, &directive->space, &directive->alternate,
                         &directive->zero};
  for (const char* flag = nullptr; **at && (flag = std::strchr(kFlags, **at)) != nullptr; ++*at) {
    *flags[flag - kFlags] = true;
  }
  if (**at == '*') {
    ++*at;
    const int width = va_arg(*arguments, int);
    // A negative width is a '-' flag and its magnitude.
    if (width < 0) directive->left = true;
    directive->width = width < 0 ? 0u - static_cast<unsigned>(width) : static_cast<unsigned>(width);
  } else {
    directive->width = static_cast<SIZE_T>(ReadNumber(at));
  }
  if (**at == '.') {
    ++*at;
    if (**at == '*') {
      ++*at;
      const int precision = va_arg(*arguments, int);
      directive->precision = precision < 0 ? -1 : precision;
    } else {
      directive->precision = ReadNumber(at);
    }
  }
  for (int i = 0; i < 2 && (**at == 'h' || **at == 'l'); ++i) directive->length[i] = *(*at)++;
  if (!directive->length[0] && (**at == 'j' || **at == 'z' || **at == 't' || **at == 'L')) {
    directive->length[0] = *(*at)++;
  }
  directive->conversion = **at;
  if (!directive->conversion) return false;
  ++*at;
  return KindOf(directive->conversion) != ConversionKind::kUnknown;
}

bool Is(const Directive& directive, const char* length) { return std::strcmp(directive.length, length) == 0; }

unsigned long long ReadUnsigned(const Directive& directive, va_list* arguments) {
  if (Is(directive, "hh")) return static_cast<unsigned char>(va_arg(*arguments, unsigned));
  if (Is(directive, "h")) return static_cast<unsigned short>(va_arg(*arguments, unsigned));
  if (Is(directive, "l")) return va_arg(*arguments, unsigned long);
  if (Is(directive, "ll")) return va_arg(*arguments, unsigned long long);
  if (Is(directive, "j")) return va_arg(*arguments, uintmax_t);
  if (Is(directive, "z")) return va_arg(*arguments, size_t);
  if (Is(directive, "t")) return static_cast<unsigned long long>(va_arg(*arguments, ptrdiff_t));
  return va_arg(*arguments, unsigned);
}

long long ReadSigned(const Directive& directive, va_list* arguments) {
  if (Is(directive, "hh")) return static_cast<signed char>(va_arg(*arguments, int));
  if (Is(directive, "h")) return static_cast<short>(va_arg(*arguments, int));
  if (Is(directive, "l")) return va_arg(*arguments, long);
  if (Is(directive, "ll")) return va_arg(*arguments, long long);
  if (Is(directive, "j")) return va_arg(*arguments, intmax_t);
  if (Is(directive, "z")) return static_cast<long long>(va_arg(*arguments, size_t));
  if (Is(directive, "t")) return va_arg(*arguments, ptrdiff_t);
  return va_arg(*arguments, int);
}

// Pads `body` (after `lead`, a sign or base prefix) to the width.
void PutField(CountedOutput* out, const Directive& directive, const char* lead, SIZE_T leadLength, SIZE_T zeros,
              const char* body, SIZE_T bodyLength) {
  const SIZE_T length = leadLength + zeros + bodyLength;
  const SIZE_T padding = directive.width > length ? directive.width - length : 0;
  if (!directive.left) out->Pad(' ', padding);
  out->Put(lead, leadLength);
  out->Pad('0', zeros);
  out->Put(body, bodyLength);
  if (directive.left) out->Pad(' ', padding);
}

void PutInteger(CountedOutput* out, const Directive& directive, va_list* arguments) {
  const char conversion = directive.conversion;
  const bool isSigned = conversion == 'd' || conversion == 'i';
  bool negative = false;
  unsigned long long value = 0;
  if (isSigned) {
    const long long signedValue = ReadSigned(directive, arguments);
    negative = signedValue < 0;
    value = static_cast<unsigned long long>(signedValue);
    if (negative) value = 0ull - value;
  } else {
    value = ReadUnsigned(directive, arguments);
  }

  const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
  const char* digits = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char text[24];
  SIZE_T length = 0;
  for (unsigned long long rest = value; rest; rest /= base) text[sizeof text - 1 - length++] = digits[rest % base];
  const char* body = text + sizeof text - length;

  const SIZE_T precision = directive.precision < 0 ? 1 : static_cast<SIZE_T>(directive.precision);
  SIZE_T zeros = precision > length ? precision - length : 0;
  // The alternate octal form starts with a 0, even for a 0 of precision 0.
  if (conversion == 'o' && directive.alternate && zeros == 0 && (length == 0 || body[0] != '0')) zeros = 1;

  char lead[2];
  SIZE_T leadLength = 0;
  if (negative) {
    lead[leadLength++] = '-';
  } else if (isSigned && directive.plus) {
    lead[leadLength++] = '+';
  } else if (isSigned && directive.space) {
    lead[leadLength++] = ' ';
  } else if (base == 16 && directive.alternate && value != 0) {
    lead[leadLength++] = '0';
    lead[leadLength++] = conversion;
  }
  // '0' pads to the width with zeros unless a precision or '-' is given.
  if (directive.zero && !directive.left && directive.precision < 0) {
    const SIZE_T used = leadLength + zeros + length;
    if (directive.width > used) zeros += directive.width - used;
  }
  PutField(out, directive, lead, leadLength, zeros, body, length);
}

// The conversion flags for the ANSI code page: no best fit (a character the
// code page lacks becomes its default character, never a look-alike), which
// UTF-8 does not take.
DWORD AnsiConversionFlags() { return GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS; }

// A wide character (or surrogate pair) as the ANSI code page writes it.
SIZE_T AnsiCharacter(const WCHAR* wide, int units, DWORD flags, char* bytes, SIZE_T room) {
  const int written = WideCharToMultiByte(CP_ACP, flags, wide, units, bytes, static_cast<int>(room), nullptr, nullptr);
  if (written > 0) return static_cast<SIZE_T>(written);
  bytes[0] = '?';
  return 1;
}

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Walks a wide string character by character in the ANSI code page, taking
// at most `limit` bytes and never half a character; answers the bytes taken.
template <typename Take>
SIZE_T WalkWide(const WCHAR* wide, SIZE_T limit, DWORD flags, Take take) {
  SIZE_T taken = 0;
  for (SIZE_T i = 0; wide[i];) {
    const int units = IsHighSurrogate(wide[i]) && IsLowSurrogate(wide[i + 1]) ? 2 : 1;
    char bytes[8];
    const SIZE_T length = AnsiCharacter(wide + i, units, flags, bytes, sizeof bytes);
    if (length > limit - taken) break;
    take(bytes, length);
    taken += length;
    i += static_cast<SIZE_T>(units);
  }
  return taken;
}

void PutString(CountedOutput* out, const Directive& directive, va_list* arguments) {
  const SIZE_T limit = directive.precision < 0 ? static_cast<SIZE_T>(-1) : static_cast<SIZE_T>(directive.precision);
  SIZE_T length = 0;
  const char* narrow = nullptr;
  const WCHAR* wide = nullptr;
  DWORD flags = 0;
  if (Is(directive, "l")) {
    wide = va_arg(*arguments, const WCHAR*);
    if (!wide) wide = L"(null)";
    flags = AnsiConversionFlags();
    // Measured only when a width needs the length: each character is one
    // conversion call.
    if (directive.width > 0) length = WalkWide(wide, limit, flags, [](const char*, SIZE_T) {});
  } else {
    narrow = va_arg(*arguments, const char*);
    if (!narrow) narrow = "(null)";
    while (length < limit && narrow[length]) ++length;
  }
  const SIZE_T padding = directive.width > length ? directive.width - length : 0;
  if (!directive.left) out->Pad(' ', padding);
  if (wide) {
    WalkWide(wide, limit, flags, [out](const char* bytes, SIZE_T count) { out->Put(bytes, count); });
  } else {
    out->Put(narrow, length);
  }
  if (directive.left) out->Pad(' ', padding);
}

void PutCharacter(CountedOutput* out, const Directive& directive, va_list* arguments) {
  char bytes[8];
  SIZE_T length = 1;
  if (Is(directive, "l")) {
    // A wint_t may be narrower than int and so arrives promoted.
    const WCHAR wide = static_cast<WCHAR>(va_arg(*arguments, int));
    length = AnsiCharacter(&wide, 1, AnsiConversionFlags(), bytes, sizeof bytes);
  } else {
    bytes[0] = static_cast<char>(va_arg(*arguments, int));
  }
  PutField(out, directive, nullptr, 0, 0, bytes, length);
}

// Writes `value` by a one-directive `spec` ("%<flags>*.*<conversion>") at
// the output's next place: cut to the room there, terminated, the full length
// answered (negative when the C runtime fails).
int FormatFloating(char* next, SIZE_T room, const char* spec, int width, int precision, double value) {
#ifdef _WIN32
  // The system's own C runtime (msvcrt), not a second printf linked into
  // every copy of the DLL; its floating-point text is its own (three-digit
  // exponents among it).
  const int needed = _scprintf(spec, width, precision, value);
  if (needed < 0) return needed;
  _snprintf(next, room - 1, spec, width, precision, value);
  next[static_cast<SIZE_T>(needed) < room ? needed : room - 1] = '\0';
  return needed;
#else
  return std::snprintf(next, room, spec, width, precision, value);
#endif
}

// Floating point, which no line of the library writes, is left to the C
// runtime, one directive at a time, as a double.
void PutFloating(CountedOutput* out, const Directive& directive, va_list* arguments) {
  char spec[32];
  SIZE_T at = 0;
  spec[at++] = '%';
  if (directive.left) spec[at++] = '-';
  if (directive.plus) spec[at++] = '+';
  if (directive.space) spec[at++] = ' ';
  if (directive.alternate) spec[at++] = '#';
  if (directive.zero) spec[at++] = '0';
  spec[at++] = '*';
  spec[at++] = '.';
  spec[at++] = '*';
  spec[at++] = directive.conversion;
  spec[at] = '\0';
  const int width = directive.width < 0x7FFFFFFF ? static_cast<int>(directive.width) : 0x7FFFFFFF;
  const double value =
      directive.length[0] == 'L' ? static_cast<double>(va_arg(*arguments, long double)) : va_arg(*arguments, double);
  const int written = FormatFloating(out->Next(), out->Room(), spec, width, directive.precision, value);
  if (written > 0) out->Skip(static_cast<SIZE_T>(written));
}

}  // namespace

HRESULT FormatCounted(char* buffer, SIZE_T capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const HRESULT result = FormatCountedList(buffer, capacity, format, arguments);
  va_end(arguments);
  return result;
}

// The library's own printf: wide arguments are converted in the ANSI code
// page, whatever the C runtime's locale, so a line always holds them whole.
HRESULT FormatCountedList(char* buffer, SIZE_T capacity, const char* format, va_list arguments) {
  if (!ValidCapacity(capacity)) return E_INVALIDARG;
  CountedOutput out(buffer, capacity);
  va_list rest;
  va_copy(rest, arguments);
  for (const char* at = format; *at;) {
    if (*at != '%') {
      const char* literalEnd = std::strchr(at, '%');
      if (!literalEnd) literalEnd = at + std::strlen(at);
      out.Put(at, static_cast<SIZE_T>(literalEnd - at));
      at = literalEnd;
      continue;
    }
    const char* start = at++;
    Directive directive;
    if (!ReadDirective(&at, &rest, &directive)) {
      // Not a conversion: written as it stands, as the C runtime does.
      out.Put(start, static_cast<SIZE_T>(at - start));
      continue;
    }
    switch (KindOf(directive.conversion)) {
      case ConversionKind::kPercent:
        out.Put('%');
        break;
      case ConversionKind::kCharacter:
        PutCharacter(&out, directive, &rest);
        break;
      case ConversionKind::kString:
        PutString(&out, directive, &rest);
        break;
      case ConversionKind::kFloating:
        PutFloating(&out, directive, &rest);
        break;
      case ConversionKind::kInteger:
        PutInteger(&out, directive, &rest);
        break;
      case ConversionKind::kUnknown:  // written as it stands above
        break;
    }
  }
  va_end(rest);
  return out.Finish();
}

HRESULT CopyCounted(char* buffer, SIZE_T capacity, const char* source) {
  if (!ValidCapacity(capacity)) return E_INVALIDARG;
  const SIZE_T length = std::strlen(source);
  const SIZE_T copied = length < capacity ? length : capacity - 1;
  std::memcpy(buffer, source, copied);
  buffer[copied] = '\0';
  return copied == length ? S_OK : kResultTextCut;
}

namespace {

// One character of narrow text in the ANSI code page: its length in bytes (a
// lead byte takes its trail with it, unless the text ends there) and whether
// it is a single byte, the only kind that can be an ASCII character.
struct AnsiCharacterAt {
  SIZE_T bytes;
  bool single;
};

AnsiCharacterAt ReadAnsiCharacter(const char* at) {
  if (!IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*at))) return {1, true};
  return {at[1] != '\0' ? SIZE_T{2} : SIZE_T{1}, false};
}

}  // namespace

AnsiTextEnding ReadAnsiTextEnding(const char* text) {
  AnsiTextEnding ending = {true, 0};
  for (const char* at = text; *at;) {
    const AnsiCharacterAt character = ReadAnsiCharacter(at);
    ending.wholeCharacter = character.single || character.bytes == 2;
    ending.trailingBackslashes = character.single && *at == '\\' ? ending.trailingBackslashes + 1 : 0;
    at += character.bytes;
  }
  return ending;
}

const char* FindAnsiCharacter(const char* text, char wanted) {
  for (const char* at = text; *at;) {
    const AnsiCharacterAt character = ReadAnsiCharacter(at);
    if (character.single && *at == wanted) return at;
    at += character.bytes;
  }
  return nullptr;
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
