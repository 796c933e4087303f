// Code pages as Windows has them where the product meets them: UTF-8; 1252
// and 437 with all 256 bytes (1252's five undefined bytes map to the C1
// controls of the same value, as Windows maps them); 932 with its lead-byte
// ranges, its single bytes and the double-byte characters that the tests use.
// Best-fit mappings are not modelled: a character a code page lacks always
// becomes the default character.
#include <standin.h>

#include <map>

#include "parts.h"
#include "paths.h"

namespace standin {
namespace {

bool fileApisAnsi = true;
unsigned int crtCodePage = 0;
UINT ansiCodePage = 1252;
UINT oemCodePage = 437;

// Windows-1252 for bytes 0x80-0x9F; 0xA0-0xFF are Latin-1.
const char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 437 for bytes 0x80-0xFF.
const char16_t k437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// The double-byte characters of 932 that the tests use (lead byte << 8 |
// trail byte). Several have 0x5C, the byte of a backslash, as their trail,
// and some 0x7C, the byte of a bar.
const std::map<unsigned, char16_t> k932Pairs = {
    {0x8B40, u'機'}, {0x945C, u'能'}, {0x955C, u'表'}, {0x835C, u'ソ'}, {0x8A67, u'拡'},
    {0x92A3, u'張'}, {0x93FA, u'日'}, {0x967B, u'本'}, {0x8CEA, u'語'}, {0x8374, u'フ'},
    {0x8340, u'ァ'}, {0x8343, u'イ'}, {0x838B, u'ル'}, {0x90DD, u'設'}, {0x92E8, u'定'},
    {0x8354, u'サ'}, {0x837C, u'ポ'}, {0x815B, u'ー'}, {0x8367, u'ト'}, {0x927C, u'竹'},
};

bool Is932Lead(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// The code page a call means: CP_ACP and CP_OEMCP name the system's.
UINT Actual(UINT codePage) {
  if (codePage == CP_ACP) return ansiCodePage;
  if (codePage == CP_OEMCP) return oemCodePage;
  return codePage;
}

bool Known(UINT codePage) { return codePage == 1252 || codePage == 437 || codePage == 932 || codePage == CP_UTF8; }

// Decodes one character at text[*at]; false for a sequence the code page
// does not define (or, in 932, a pair the stand-in does not know).
bool Decode(UINT codePage, const unsigned char* text, int bytes, int* at, std::u32string* out) {
  const unsigned char lead = text[*at];
  if (lead < 0x80) {
    out->push_back(lead);
    ++*at;
    return true;
  }
  if (codePage == 1252 || codePage == 437) {
    out->push_back(codePage == 437 ? k437High[lead - 0x80] : lead < 0xA0 ? k1252High[lead - 0x80] : lead);
    ++*at;
    return true;
  }
  if (codePage == 932) {
    char32_t single = 0;
    if (lead == 0x80) single = 0x80;
    if (lead == 0xA0) single = 0xF8F0;
    if (lead >= 0xA1 && lead <= 0xDF) single = 0xFF61 + (lead - 0xA1);  // half-width katakana
    if (lead >= 0xFD) single = 0xF8F1 + (lead - 0xFD);
    if (single) {
      out->push_back(single);
      ++*at;
      return true;
    }
    if (*at + 1 >= bytes) return false;
    auto pair = k932Pairs.find(static_cast<unsigned>(lead) << 8 | text[*at + 1]);
    if (pair == k932Pairs.end()) return false;
    out->push_back(pair->second);
    *at += 2;
    return true;
  }
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

// The bytes of one character in a single- or double-byte code page; empty
// when the code page lacks it.
std::string Encode(UINT codePage, char32_t code) {
  if (code < 0x80) return std::string(1, static_cast<char>(code));
  if (codePage == 1252 || codePage == 437) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      const char16_t mapped = codePage == 437 ? k437High[byte - 0x80] : byte < 0xA0 ? k1252High[byte - 0x80] : byte;
      if (mapped == code) return std::string(1, static_cast<char>(byte));
    }
    return std::string();
  }
  if (code >= 0xFF61 && code <= 0xFF9F) return std::string(1, static_cast<char>(0xA1 + (code - 0xFF61)));
  for (const auto& [bytes, mapped] : k932Pairs) {
    if (mapped == code) return std::string{static_cast<char>(bytes >> 8), static_cast<char>(bytes & 0xFF)};
  }
  return std::string();
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

void ResetCodePages() {
  fileApisAnsi = true;
  crtCodePage = 0;
  ansiCodePage = 1252;
  oemCodePage = 437;
}

void SetCrtCodePage(unsigned int codePage) { crtCodePage = codePage; }

void SetFileApisAnsi(bool ansi) { fileApisAnsi = ansi; }

void SetSystemCodePages(UINT ansi, UINT oem) {
  ansiCodePage = ansi;
  oemCodePage = oem;
}

std::optional<std::wstring> Widen(UINT codePage, const std::string& text) {
  codePage = Actual(codePage);
  if (!Known(codePage)) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::u32string decoded;
  for (int at = 0; at < static_cast<int>(text.size());) {
    if (!Decode(codePage, bytes, static_cast<int>(text.size()), &at, &decoded)) return std::nullopt;
  }
  std::wstring wide;
  for (char32_t code : decoded) {
    if (code >= 0x10000) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(code));
    }
  }
  return wide;
}

std::wstring WidenLeniently(UINT codePage, const std::string& text) {
  codePage = Actual(codePage);
  // The default characters: U+30FB (katakana middle dot) in 932, U+FFFD in UTF-8.
  const wchar_t fallback = codePage == 932 ? L'\u30FB' : L'\uFFFD';
  std::wstring wide;
  for (size_t at = 0; at < text.size();) {
    size_t end = at + 1;
    // The shortest run from `at` that reads as a character.
    std::optional<std::wstring> part;
    while (end <= text.size() && end - at <= 4) {
      part = Widen(codePage, text.substr(at, end - at));
      if (part) break;
      ++end;
    }
    if (part) {
      wide += *part;
      at = end;
    } else {
      wide += fallback;
      ++at;
    }
  }
  return wide;
}

std::optional<std::wstring> AnsiToWide(const std::string& text) { return Widen(CP_ACP, text); }

std::wstring AnsiToWideLeniently(const std::string& text) { return WidenLeniently(CP_ACP, text); }

std::string Utf8(const std::wstring& wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t code = static_cast<char32_t>(wide[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(wide[++i]) - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendUtf8(code, &out);
  }
  return out;
}

}  // namespace standin

using namespace standin;

unsigned int ___lc_codepage_func(void) { return crtCodePage; }

extern "C" BOOL WINAPI AreFileApisANSI(void) {
  const Call call("AreFileApisANSI");
  return fileApisAnsi ? TRUE : FALSE;
}

extern "C" UINT WINAPI GetACP(void) {
  const Call call("GetACP");
  return ansiCodePage;
}

// With MB_ERR_INVALID_CHARS an invalid sequence fails with
// ERROR_NO_UNICODE_TRANSLATION; without it, each byte that begins no
// character becomes the code page's default character, as the narrow calls
// of the system read such text.
extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                                          int wideChars) {
  const Call call("MultiByteToWideChar");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  if (!text || !Known(Actual(codePage)) || bytes == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (bytes < 0) bytes = static_cast<int>(std::char_traits<char>::length(text)) + 1;
  const std::string narrow(text, static_cast<size_t>(bytes));
  const auto converted = (flags & MB_ERR_INVALID_CHARS) ? Widen(codePage, narrow)
                                                        : std::optional<std::wstring>(WidenLeniently(codePage, narrow));
  if (!converted) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  const int needed = static_cast<int>(converted->size());
  if (wideChars == 0) return needed;
  if (wideChars < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < needed; ++i) wide[i] = (*converted)[static_cast<size_t>(i)];
  return needed;
}

// A character the code page lacks becomes the default character ('?', or the
// caller's); UTF-8 takes no flags but WC_ERR_INVALID_CHARS and no default
// character, as on Windows, and writes a lone surrogate as U+FFFD.
extern "C" int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideChars, LPSTR text,
                                          int bytes, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  const Call call("WideCharToMultiByte");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  codePage = Actual(codePage);
  if (!wide || wideChars == 0 || !Known(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (codePage == CP_UTF8 && (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (codePage == CP_UTF8 && (defaultChar || usedDefaultChar)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t units = wideChars < 0 ? std::char_traits<wchar_t>::length(wide) + 1 : static_cast<size_t>(wideChars);
  const std::wstring source(wide, units);
  std::string out;
  bool defaulted = false;
  if (codePage == CP_UTF8) {
    out = Utf8(source);
  } else {
    for (size_t i = 0; i < source.size(); ++i) {
      std::string bytesOf = Encode(codePage, static_cast<char32_t>(source[i]));
      if (bytesOf.empty()) {
        // A surrogate pair is one character the code page lacks.
        if (source[i] >= 0xD800 && source[i] <= 0xDBFF && i + 1 < source.size() && source[i + 1] >= 0xDC00 &&
            source[i + 1] <= 0xDFFF) {
          ++i;
        }
        bytesOf = defaultChar ? std::string(defaultChar, 1) : std::string("?");
        defaulted = true;
      }
      out += bytesOf;
    }
  }
  if (usedDefaultChar) *usedDefaultChar = defaulted ? TRUE : FALSE;
  const int needed = static_cast<int>(out.size());
  if (bytes == 0) return needed;
  if (bytes < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::char_traits<char>::copy(text, out.data(), out.size());
  return needed;
}

extern "C" BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE byte) {
  const Call call("IsDBCSLeadByteEx");
  codePage = Actual(codePage);
  if (!Known(codePage)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return codePage == 932 && Is932Lead(byte) ? TRUE : FALSE;
}

extern "C" int WINAPI CompareStringOrdinal(LPCWSTR first, int firstChars, LPCWSTR second, int secondChars,
                                           BOOL ignoreCase) {
  const Call call("CompareStringOrdinal");
  if (!first || !second) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t a = firstChars < 0 ? std::char_traits<wchar_t>::length(first) : static_cast<size_t>(firstChars);
  const size_t b = secondChars < 0 ? std::char_traits<wchar_t>::length(second) : static_cast<size_t>(secondChars);
  for (size_t i = 0; i < a && i < b; ++i) {
    const wchar_t x = ignoreCase ? UpperCase(first[i]) : first[i];
    const wchar_t y = ignoreCase ? UpperCase(second[i]) : second[i];
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  return a == b ? CSTR_EQUAL : a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
