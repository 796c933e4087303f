// Code pages: UTF-8, the ANSI code page (1252) and the OEM code page (437,
// of which only its ASCII half is modelled: higher bytes count as invalid).
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

bool fileApisAnsi = true;
unsigned int crtCodePage = 0;

// Windows-1252 for bytes 0x80-0x9F; 0 marks a byte with no character.
const wchar_t kAnsiHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                               0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                               0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one character at text[*at]; false for an invalid sequence.
bool Decode(UINT codePage, const unsigned char* text, int bytes, int* at, std::u32string* out) {
  const unsigned char lead = text[*at];
  if (lead < 0x80) {
    out->push_back(lead);
    ++*at;
    return true;
  }
  if (codePage == CP_ACP) {
    const wchar_t wide = lead < 0xA0 ? kAnsiHigh[lead - 0x80] : lead;
    if (!wide) return false;
    out->push_back(static_cast<char32_t>(wide));
    ++*at;
    return true;
  }
  if (codePage != CP_UTF8) return false;
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || *at + length > bytes) return false;
  char32_t code = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    const unsigned char next = text[*at + i];
    if ((next & 0xC0) != 0x80) return false;
    code = (code << 6) | (next & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  out->push_back(code);
  *at += length;
  return true;
}

}  // namespace

void ResetCodePages() {
  fileApisAnsi = true;
  crtCodePage = 0;
}

void SetCrtCodePage(unsigned int codePage) { crtCodePage = codePage; }

void SetFileApisAnsi(bool ansi) { fileApisAnsi = ansi; }

}  // namespace standin

using namespace standin;

unsigned int ___lc_codepage_func(void) { return crtCodePage; }

extern "C" BOOL WINAPI AreFileApisANSI(void) {
  EnterCall("AreFileApisANSI");
  return fileApisAnsi ? TRUE : FALSE;
}

// Strict by design: with or without MB_ERR_INVALID_CHARS, an invalid sequence
// fails with ERROR_NO_UNICODE_TRANSLATION.
extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int bytes, LPWSTR wide, int wideChars) {
  EnterCall("MultiByteToWideChar");
  if (!text || (codePage != CP_ACP && codePage != CP_OEMCP && codePage != CP_UTF8)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto* input = reinterpret_cast<const unsigned char*>(text);
  const bool terminated = bytes < 0;
  if (terminated) bytes = static_cast<int>(std::char_traits<char>::length(text)) + 1;
  std::u32string decoded;
  for (int at = 0; at < bytes;) {
    if (!Decode(codePage, input, bytes, &at, &decoded)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  }
  const int needed = static_cast<int>(decoded.size());
  if (wideChars == 0) return needed;
  if (wideChars < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) wide[i] = static_cast<WCHAR>(decoded[i]);
  return needed;
}
