#include "targetguard/widepath.h"

#ifdef _WIN32
#include <locale.h>
#endif

#include <cstring>

#include "runtime/result.h"
#include "runtime/wcalog.h"

UINT NarrowPathCodePage() {
  if (___lc_codepage_func() == CP_UTF8) return CP_UTF8;
  return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

HRESULT WidePathFromNarrow(const char* narrow, UINT codePage, DWORD flags, WideText* wide) {
  wide->Truncate(0);
  const int bytes = static_cast<int>(std::strlen(narrow));
  // A zero byte count is an invalid parameter to the conversion, and an empty
  // text needs none.
  if (bytes == 0) return S_OK;
  const int chars = MultiByteToWideChar(codePage, flags, narrow, bytes, nullptr, 0);
  if (chars <= 0) {
    const HRESULT result = LastErrorResult();
    LogErrorLine(result, "Failed to convert path '%s' from code page %u", narrow, codePage);
    return result;
  }
  WCHAR* room = nullptr;
  HRESULT result = wide->AppendRoom(static_cast<SIZE_T>(chars), &room);
  if (FAILED(result)) {
    LogErrorLine(result, "Failed to allocate the wide path of '%s'", narrow);
    return result;
  }
  if (MultiByteToWideChar(codePage, flags, narrow, bytes, room, chars) != chars) {
    result = LastErrorResult();
    LogErrorLine(result, "Failed to convert path '%s' from code page %u", narrow, codePage);
    return result;
  }
  return S_OK;
}
